#include "app/console/console_ui.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "app/console/terminal_text.h"
#include "platform/message_box_answers.h"
#include "platform/os.h"

namespace {

constexpr int kBarWidth = 30;

// Columns of the terminal on standard error; 80 when it does not say.
size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

ConsoleUi::ConsoleUi(bool stdinIsTerminal, bool stderrIsTerminal)
    : stdinIsTerminal_(stdinIsTerminal), stderrIsTerminal_(stderrIsTerminal) {}

std::string ConsoleUi::Bar(int position) const {
  int clamped = position < 0 ? 0 : position > 100 ? 100 : position;
  int filled = clamped * kBarWidth / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
         std::to_string(clamped) + "%";
}

void ConsoleUi::ClearLiveLine() {
  if (liveLineShown_) {
    std::fputs("\r\033[K", stderr);
    liveLineShown_ = false;
  }
}

void ConsoleUi::Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(drawMutex_);
  // The status and bar stay on the screen above what is said.
  if (liveLineShown_) {
    std::fputs("\n", stderr);
    liveLineShown_ = false;
  }
  std::fprintf(stderr, "%s\n", TerminalText(line, true).c_str());
  std::fflush(stderr);
}

void ConsoleUi::DrawDialog() {
  ControlState list = State(kDriveList);
  std::string out;
  out += "== Korvane WINDOWS DOWNLOAD for 48x COMBO DRIVE ==\n";
  out += "Drives:\n";
  if (list.entries.empty()) out += "  (none)\n";
  for (size_t i = 0; i < list.entries.size(); ++i) {
    out += "  " + std::to_string(i + 1) + ") " + TerminalText(list.entries[i]) + "\n";
  }
  out += "Target Drive At:  " + TerminalText(list.text) + "\n";
  out += "Source File:      " + TerminalText(State(kSourceFile).text) + "\n";
  ControlState revision = State(kDeviceRevision);
  out += "Device Revision:  " + TerminalText(revision.text) + (revision.enabled ? "" : " (disabled)") +
         "\n";
  out += std::string("Buttons:          [Upgrade]") + (State(kUpgradeButton).enabled ? "" : " (disabled)") +
         "  [Close]" + (State(kCloseButton).enabled ? "" : " (disabled)") + "\n";
  if (stdinIsTerminal_) out += "Keys: c then Enter (or Ctrl-C) is Close, a About\n";
  std::lock_guard<std::mutex> lock(drawMutex_);
  ClearLiveLine();
  std::fputs(out.c_str(), stderr);
  lastDrive_ = list.text;
  lastRevision_ = revision.text;
  lastStatus_.clear();
  lastPosition_ = -1;
  lastStep_ = -1;
  drawn_ = true;
  DrawLiveLine();
  std::fflush(stderr);
}

// Called with drawMutex_ held.
void ConsoleUi::DrawLiveLine() {
  std::string status = TerminalText(State(kStatusLine).text);
  int position = State(kProgressBar).position;
  if (stderrIsTerminal_) {
    if (promptOpen_) return;
    char line[512];
    std::snprintf(line, sizeof line, "Status: %-30s %s", status.c_str(), Bar(position).c_str());
    // A line that wrapped could not be redrawn in place: it stays within one row.
    std::string shown = line;
    size_t columns = TerminalColumns();
    if (shown.size() >= columns) shown.resize(columns - 1);
    std::fprintf(stderr, "\r\033[K%s", shown.c_str());
    liveLineShown_ = true;
  } else {
    // A log file or a pipe gets one line per 10 % step, not one per per cent.
    const int step = (position < 0 ? 0 : position > 100 ? 100 : position) / 10 * 10;
    if (status != lastStatus_) std::fprintf(stderr, "Status: %s\n", status.c_str());
    if (step != lastStep_) std::fprintf(stderr, "Progress: %d%%\n", step);
    lastStep_ = step;
  }
  lastStatus_ = status;
  lastPosition_ = position;
}

void ConsoleUi::Changed(int id) {
  std::lock_guard<std::mutex> lock(drawMutex_);
  if (id == kLogView) {
    // The newest line of the view is the line just added; --json reports them all, also those
    // of a run that started before the dialog was first drawn.
    const std::string view = State(kLogView).text;
    const size_t lineEnd = view.rfind("\r\n");
    logLines_.push_back(lineEnd == std::string::npos ? view : view.substr(lineEnd + 2));
  }
  if (!drawn_) return;
  switch (id) {
    case kStatusLine:
    case kProgressBar:
      DrawLiveLine();
      break;
    case kLogView:
      // The log line itself goes to standard output right after this: make room for it.
      ClearLiveLine();
      break;
    case kDriveList: {
      std::string text = State(kDriveList).text;
      if (text != lastDrive_) {
        ClearLiveLine();
        std::fprintf(stderr, "Target Drive At:  %s\n", TerminalText(text).c_str());
        lastDrive_ = text;
      }
      break;
    }
    case kDeviceRevision: {
      std::string text = State(kDeviceRevision).text;
      if (text != lastRevision_) {
        ClearLiveLine();
        std::fprintf(stderr, "Device Revision:  %s\n", TerminalText(text).c_str());
        lastRevision_ = text;
      }
      break;
    }
    default:
      break;
  }
  std::fflush(stderr);
}

std::vector<std::string> ConsoleUi::LogLines() {
  std::lock_guard<std::mutex> lock(drawMutex_);
  return logLines_;
}

void ConsoleUi::ShowAbout() {
  MemoryControls::ShowAbout();
  Say("+-- About Korvane Romwright -----------------+\n"
      "|  Romwright for Combo Series                |\n"
      "|  Copyright (C) Korvane Storage             |\n"
      "+--------------------------------------------+");
  if (stdinIsTerminal_) MessageBox("(About box)", "About Korvane Romwright", platform::kMbOk);
}

void ConsoleUi::StartInput(platform::Os& os) {
  if (!stdinIsTerminal_) return;
  if (os.startThread(&ConsoleUi::ReadInputThread, this)) return;
  Say("(no thread to read the terminal: taken as the end of input)");
  std::lock_guard<std::mutex> lock(inputMutex_);
  endOfInput_ = true;
  inputReady_.notify_all();
}

void ConsoleUi::ReadInputThread(void* self) { static_cast<ConsoleUi*>(self)->ReadInput(); }

void ConsoleUi::ReadInput() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::lock_guard<std::mutex> lock(inputMutex_);
    lines_.push_back(line);
    inputReady_.notify_all();
  }
  std::lock_guard<std::mutex> lock(inputMutex_);
  endOfInput_ = true;
  inputReady_.notify_all();
}

bool ConsoleUi::NextCommand(std::string& line, int timeoutMs, bool& endOfInput) {
  std::unique_lock<std::mutex> lock(inputMutex_);
  auto ready = [this] { return (promptsWaiting_ == 0 && !lines_.empty()) || endOfInput_; };
  inputReady_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  endOfInput = endOfInput_ && lines_.empty();
  if (promptsWaiting_ != 0 || lines_.empty()) return false;
  line = lines_.front();
  lines_.pop_front();
  return true;
}

bool ConsoleUi::NextPromptLine(std::string& line, const std::atomic<bool>* interrupted) {
  std::unique_lock<std::mutex> lock(inputMutex_);
  // A signal sets its flag from a handler, which cannot notify: look every 100 ms.
  auto stop = [&] { return StopAsking() || (interrupted != nullptr && interrupted->load()); };
  while (lines_.empty() && !endOfInput_ && !stop()) {
    inputReady_.wait_for(lock, std::chrono::milliseconds(100));
  }
  if (lines_.empty() || stop()) return false;
  line = lines_.front();
  lines_.pop_front();
  return true;
}

int ConsoleUi::MessageBox(const char* text, const char* caption, uint32_t style) {
  const uint32_t buttons = style & 0x0F;
  const int safe = platform::SafeAnswer(style);
  std::string boxText = text;
  for (size_t at = boxText.find('\n'); at != std::string::npos; at = boxText.find('\n', at + 1)) {
    boxText.replace(at, 1, "\n    ");
  }
  if (!stdinIsTerminal_ || StopAsking()) {
    Say(std::string("[") + caption + "] " + boxText +
        (stdinIsTerminal_ ? "\n    (terminating: answering " : "\n    (no terminal on standard input: answering ") +
        platform::AnswerName(safe) + ")");
    return safe;
  }
  std::lock_guard<std::mutex> prompt(promptMutex_);
  {
    std::lock_guard<std::mutex> lock(inputMutex_);
    ++promptsWaiting_;
  }
  const char* choices = buttons == platform::kMbYesNo      ? "y = Yes, n = No"
                        : buttons == platform::kMbOkCancel ? "o = OK, c = Cancel"
                                                           : "Enter = OK";
  int answer = 0;
  while (answer == 0) {
    Say(std::string("[") + caption + "] " + boxText);
    {
      std::lock_guard<std::mutex> lock(drawMutex_);
      std::fprintf(stderr, "    %s > ", choices);
      std::fflush(stderr);
      promptOpen_ = true;
    }
    std::string line;
    if (!NextPromptLine(line)) {
      Say(std::string(StopAsking() ? "\n    (terminating: answering " : "\n    (end of input: answering ") +
          platform::AnswerName(safe) + ")");
      answer = safe;
      break;
    }
    answer = platform::AnswerForKey(style, line.empty() ? '\0' : line[0]);
  }
  {
    std::lock_guard<std::mutex> lock(drawMutex_);
    promptOpen_ = false;
    if (drawn_) DrawLiveLine();
    std::fflush(stderr);
  }
  {
    std::lock_guard<std::mutex> lock(inputMutex_);
    --promptsWaiting_;
    inputReady_.notify_all();
  }
  return answer;
}

bool ConsoleUi::Confirm(const std::string& question, const std::atomic<bool>* interrupted) {
  if (!stdinIsTerminal_) return false;
  std::lock_guard<std::mutex> prompt(promptMutex_);
  {
    std::lock_guard<std::mutex> lock(inputMutex_);
    ++promptsWaiting_;
  }
  {
    std::lock_guard<std::mutex> lock(drawMutex_);
    ClearLiveLine();
    std::fprintf(stderr, "%s [y/N] ", TerminalText(question).c_str());
    std::fflush(stderr);
    promptOpen_ = true;
  }
  std::string line;
  const bool answered = NextPromptLine(line, interrupted);
  if (!answered) {
    Say(StopAsking()                                       ? "\n(terminating: answering No)"
        : interrupted != nullptr && interrupted->load() ? "\n(Ctrl-C: answering No)"
                                                           : "\n(end of input: answering No)");
  }
  const size_t first = line.find_first_not_of(" \t\r");
  const size_t last = line.find_last_not_of(" \t\r");
  std::string word = first == std::string::npos ? "" : line.substr(first, last + 1 - first);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  {
    std::lock_guard<std::mutex> lock(drawMutex_);
    promptOpen_ = false;
  }
  {
    std::lock_guard<std::mutex> lock(inputMutex_);
    --promptsWaiting_;
    inputReady_.notify_all();
  }
  return answered && (word == "y" || word == "yes");
}

bool DriveIndexFromCommand(const std::string& line, size_t count, size_t& index) {
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return false;
  const std::string digits = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
  if (digits.size() > 9) return false;  // nine digits cannot overflow below
  size_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<size_t>(c - '0');
  }
  if (number < 1 || number > count) return false;
  index = number - 1;
  return true;
}
