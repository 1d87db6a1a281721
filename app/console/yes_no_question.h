// The question before an update, as Linux tools ask it: the question and " [y/N] " on standard
// error, one line read from the terminal.
#pragma once

#include <atomic>
#include <functional>
#include <string>

enum class QuestionAnswer { kYes, kNo, kEndOfInput, kInterrupted, kTerminated };

// Yes only for "y" or "yes" (any case, spaces around allowed); Enter or anything else is No.
// While it waits, `interrupted` becoming true (Ctrl-C, cleared here) or `terminations` growing
// ends the question. `input` is the descriptor read (standard input); `write` shows the text.
QuestionAnswer AskYesNo(const std::string& question, int input, std::atomic<bool>& interrupted,
                        const std::atomic<int>& terminations,
                        const std::function<void(const std::string&)>& write);
