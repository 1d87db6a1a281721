#include "app/console/yes_no_question.h"

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "app/console/terminal_text.h"

namespace {

constexpr size_t kMaxAnswer = 256;  // a longer line is no yes

bool IsYes(const std::string& line) {
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == '\r') continue;
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return word == "y" || word == "yes";
}

}  // namespace

QuestionAnswer AskYesNo(const std::string& question, int input, std::atomic<bool>& interrupted,
                        const std::atomic<int>& terminations,
                        const std::function<void(const std::string&)>& write) {
  const int terminationsAtStart = terminations.load();
  write(TerminalText(question) + " [y/N] ");
  std::string line;
  for (;;) {
    if (interrupted.exchange(false)) {
      write("\n");
      return QuestionAnswer::kInterrupted;
    }
    if (terminations.load() != terminationsAtStart) {
      write("\n");
      return QuestionAnswer::kTerminated;
    }
    pollfd ready{input, POLLIN, 0};
    const int polled = poll(&ready, 1, 100);
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) continue;
    char c = 0;
    const ssize_t got = polled > 0 ? read(input, &c, 1) : -1;
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      write("\n");
      return QuestionAnswer::kEndOfInput;
    }
    if (c == '\n') return IsYes(line) ? QuestionAnswer::kYes : QuestionAnswer::kNo;
    if (line.size() < kMaxAnswer) line += c;
  }
}
