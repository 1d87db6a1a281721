// The terminal front end's dialog: the in-memory controls drawn on standard error, and the
// message boxes as prompts. Standard output is left to the log lines.
//
// On a terminal the status line and progress bar are one line redrawn in place; otherwise every
// change of the status, and of the bar by a 10 % step, is one line of its own. Input comes from
// one reader thread that queues the lines typed; a prompt (a message box, from either thread)
// takes the next line, the command loop the others.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/os.h"
#include "app/memory_controls.h"

class ConsoleUi : public MemoryControls {
 public:
  ConsoleUi(bool stdinIsTerminal, bool stderrIsTerminal);

  // The whole dialog: caption, drive list, fields, status and progress.
  void DrawDialog();
  // Writes one line on standard error (clearing the live status line first).
  void Say(const std::string& line);

  // A message box: a prompt on a terminal; otherwise the safe answer (OK, No, Cancel), said on
  // standard error. Safe from any thread.
  int MessageBox(const char* text, const char* caption, uint32_t style);

  // The question before an update: `question` and " [y/N] " on the terminal. True only for an
  // answer of y or yes (any case); Enter, anything else, the end of input or a termination
  // signal is No, and so is `*interrupted` becoming true (Ctrl-C) while it waits. Without a
  // terminal on standard input nothing is asked: false.
  bool Confirm(const std::string& question, const std::atomic<bool>* interrupted = nullptr);

  // Once `*flag` is non-zero, prompts ask nothing more: an open prompt and every later one take
  // the safe answer and say so. For a termination signal, which must not wait for a reply.
  void AnswerSafelyOnceSet(const std::atomic<int>* flag) { stopAsking_ = flag; }

  // Starts the reader thread (terminal input only). A thread that cannot be started is the end
  // of input, and said so.
  void StartInput(platform::Os& os);
  // The next command line for the command loop; false after `timeoutMs` without one, or at the
  // end of input (then `endOfInput` is set).
  bool NextCommand(std::string& line, int timeoutMs, bool& endOfInput);

  // The log lines so far, in order (each also went to standard output).
  std::vector<std::string> LogLines();

  void ShowAbout() override;

 protected:
  void Changed(int id) override;

 private:
  void DrawLiveLine();       // status and bar, in place (terminal) or as lines
  void ClearLiveLine();
  std::string Bar(int position) const;
  bool NextPromptLine(std::string& line, const std::atomic<bool>* interrupted = nullptr);
  bool StopAsking() const { return stopAsking_ != nullptr && stopAsking_->load() != 0; }
  static void ReadInputThread(void* self);
  void ReadInput();

  const bool stdinIsTerminal_;
  const bool stderrIsTerminal_;

  std::mutex drawMutex_;  // one writer of standard error at a time
  bool liveLineShown_ = false;
  bool drawn_ = false;  // changes are drawn once the whole dialog has been drawn
  bool promptOpen_ = false;  // a prompt waits on the last line: the live line keeps off it

  std::string lastStatus_;
  int lastPosition_ = -1;
  int lastStep_ = -1;  // the last 10 % step shown without a terminal
  std::vector<std::string> logLines_;
  std::string lastDrive_, lastRevision_;

  std::mutex inputMutex_;
  std::condition_variable inputReady_;
  std::deque<std::string> lines_;
  bool endOfInput_ = false;
  int promptsWaiting_ = 0;
  std::mutex promptMutex_;  // one prompt at a time
  const std::atomic<int>* stopAsking_ = nullptr;
};

// The drive a typed line such as "2" selects: its index in a list of `count` entries. False for
// anything but digits (spaces around them allowed) naming an entry, so "4294967297" is refused
// rather than wrapped to 1.
bool DriveIndexFromCommand(const std::string& line, size_t count, size_t& index);
