// The terminal front end without a terminal: message boxes take the safe answer and say so, and
// every change of the status line or the bar is one line on standard error. On a terminal,
// prompts and commands share the lines the reader thread queues.
#include <atomic>
#include <iostream>
#include <sstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/console/console_ui.h"
#include "platform/os.h"
#include "tests/support/system_os.h"

namespace {

TEST(ConsoleUiWithoutTerminal, MessageBoxesTakeTheSafeAnswerAndSaySo) {
  ConsoleUi ui(false, false);
  struct Case {
    uint32_t style;
    int answer;
    const char* said;
  };
  const Case cases[] = {
      {platform::kMbSystemModal, platform::kIdOk, "answering OK"},
      {platform::kMbSystemModal | platform::kMbYesNo, platform::kIdNo, "answering No"},
      {platform::kMbOkCancel, platform::kIdCancel, "answering Cancel"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ui.MessageBox("first\nsecond", "NOTE", c.style), c.answer);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[NOTE] first\n    second"), std::string::npos) << err;
    EXPECT_NE(err.find(c.said), std::string::npos) << err;
  }
}

TEST(ConsoleUiWithoutTerminal, OneLinePerChangeOnceDrawn) {
  ConsoleUi ui(false, false);
  testing::internal::CaptureStderr();
  ui.SetText(kStatusLine, "before the dialog is drawn");
  // A run that starts by itself may log before the dialog is first drawn: the line still counts.
  ui.SetText(kLogView, "an early log line");
  ui.DrawDialog();
  ui.SetText(kStatusLine, "Transferring.....");
  // The bar by 10 % steps: 1..9 stay within the step that 0 opened.
  for (int position : {1, 9, 10, 10, 19, 23}) ui.SetProgress(kProgressBar, position);
  ui.SetText(kLogView, "an early log line\r\na log line");  // standard output's, not drawn here
  ui.SetProgress(kProgressBar, 100);
  ui.SetProgress(kProgressBar, 0);  // the programming starts over at 0
  std::string err = testing::internal::GetCapturedStderr();
  std::string tail = err.substr(err.find("Status: before the dialog is drawn"));
  EXPECT_EQ(tail,
            "Status: before the dialog is drawn\nProgress: 0%\nStatus: Transferring.....\n"
            "Progress: 10%\nProgress: 20%\nProgress: 100%\nProgress: 0%\n");
  EXPECT_EQ(err.find("a log line"), std::string::npos);
  EXPECT_EQ(ui.LogLines(), (std::vector<std::string>{"an early log line", "a log line"}));
}

// On a terminal the reader thread queues the typed lines: a prompt (from either thread) takes the
// next line and asks again on an answer it does not know, the command loop gets the others, and
// at the end of input both stop waiting.
TEST(ConsoleUiOnTerminal, PromptsAndCommandsShareTheTypedLines) {
  std::istringstream typed("x\no\nu\nn\n");
  std::streambuf* saved = std::cin.rdbuf(typed.rdbuf());
  testing::internal::CaptureStderr();
  {
    ConsoleUi ui(true, false);
    const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
    ui.StartInput(*os);
    EXPECT_EQ(ui.MessageBox("Terminate???", "fwloader", platform::kMbOkCancel), platform::kIdOk);
    std::string line;
    bool endOfInput = false;
    ASSERT_TRUE(ui.NextCommand(line, 5000, endOfInput));
    EXPECT_EQ(line, "u");
    int workerAnswer = 0;
    std::thread worker([&] {
      workerAnswer = ui.MessageBox("Restart?", "NOTE", platform::kMbYesNo);
    });
    worker.join();
    EXPECT_EQ(workerAnswer, platform::kIdNo);
    while (!endOfInput) {
      EXPECT_FALSE(ui.NextCommand(line, 5000, endOfInput));
    }
    // Nothing left to answer with: the safe answer.
    EXPECT_EQ(ui.MessageBox("Restart?", "NOTE", platform::kMbYesNo), platform::kIdNo);
  }
  std::string err = testing::internal::GetCapturedStderr();
  std::cin.rdbuf(saved);
  // "x" is no answer to OK/Cancel: the box is shown again.
  size_t first = err.find("[fwloader] Terminate???");
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_NE(err.find("[fwloader] Terminate???", first + 1), std::string::npos) << err;
  EXPECT_NE(err.find("end of input: answering No"), std::string::npos) << err;
}

// Drive identities, revisions, file names and captions come from outside: a terminal must not
// obey the control characters in them.
TEST(ConsoleUiWithoutTerminal, TextFromOutsideIsDrawnEscaped) {
  ConsoleUi ui(false, false);
  testing::internal::CaptureStderr();
  ui.AddComboEntry(kDriveList, "EVIL\x1b[2JDRIVE(0)");
  ui.SetText(kDriveList, "EVIL\x1b[2JDRIVE(0)");
  ui.SetText(kSourceFile, "fw\x1b]0;owned\x07.bin");
  ui.SetText(kDeviceRevision, "\x1b[8m");
  ui.DrawDialog();
  ui.SetText(kDeviceRevision, "TR\r08");
  ui.SetText(kDriveList, "OTHER\x9b" "2J(1)");
  ui.SetText(kStatusLine, "ERR: \x1b[5m");
  ui.MessageBox("Terminate???", "fw\x1bloader", platform::kMbOkCancel);
  ui.Say("said\x1b[H");
  std::string err = testing::internal::GetCapturedStderr();
  for (char control : {'\x1b', '\x07', '\r', '\x9b'}) {
    EXPECT_EQ(err.find(control), std::string::npos) << static_cast<int>(control) << "\n" << err;
  }
  for (const char* shown : {"1) EVIL\\x1b[2JDRIVE(0)", "Source File:      fw\\x1b]0;owned\\x07.bin",
                            "Device Revision:  \\x1b[8m", "Device Revision:  TR\\x0d08",
                            "Target Drive At:  OTHER\\x9b2J(1)", "Status: ERR: \\x1b[5m",
                            "[fw\\x1bloader] Terminate???", "said\\x1b[H"}) {
    EXPECT_NE(err.find(shown), std::string::npos) << shown << "\n" << err;
  }
}

// A termination signal sets a flag that no prompt may wait past: an open prompt takes the safe
// answer, and so does every later one.
TEST(ConsoleUiOnTerminal, PromptsTakeTheSafeAnswerOnceTerminating) {
  std::atomic<int> terminating{0};
  testing::internal::CaptureStderr();
  {
    ConsoleUi ui(true, false);  // nothing is typed: no reader thread, no end of input
    ui.AnswerSafelyOnceSet(&terminating);
    std::thread signal([&terminating] { terminating = 1; });
    EXPECT_EQ(ui.MessageBox("Terminate???", "fwloader", platform::kMbOkCancel), platform::kIdCancel);
    signal.join();
    EXPECT_EQ(ui.MessageBox("Restart?", "NOTE", platform::kMbYesNo), platform::kIdNo);
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("terminating: answering Cancel"), std::string::npos) << err;
  EXPECT_NE(err.find("terminating: answering No"), std::string::npos) << err;
}

// The question before an update: only y or yes is yes; Enter (the default), anything else and
// the end of input are no. Without a terminal nothing is asked.
TEST(ConsoleUiOnTerminal, ConfirmationIsYesOnlyWhenTypedSo) {
  struct Case {
    const char* typed;
    bool yes;
  };
  const Case cases[] = {{"y\n", true},  {"YES \n", true}, {"\n", false},   {"n\n", false},
                        {"yes please\n", false}, {"x\ny\n", false}, {"", false}};
  for (const Case& c : cases) {
    std::istringstream typed(c.typed);
    std::streambuf* saved = std::cin.rdbuf(typed.rdbuf());
    testing::internal::CaptureStderr();
    {
      ConsoleUi ui(true, false);
      const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
    ui.StartInput(*os);
      EXPECT_EQ(ui.Confirm("Update the firmware of /dev/sr0 now?"), c.yes) << c.typed;
      std::string line;
      bool endOfInput = false;
      while (!endOfInput) ui.NextCommand(line, 5000, endOfInput);  // the reader thread has ended
    }
    std::string err = testing::internal::GetCapturedStderr();
    std::cin.rdbuf(saved);
    EXPECT_NE(err.find("Update the firmware of /dev/sr0 now? [y/N] "), std::string::npos) << err;
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ConsoleUi(false, false).Confirm("Update?"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// The reader thread starts through the operating system; when it cannot be started, input has
// ended.
TEST(ConsoleUiOnTerminal, ReaderThatCannotStartIsTheEndOfInput) {
  class NoThreads final : public platform::OsWrapper {
   public:
    using OsWrapper::OsWrapper;
    bool startThread(void (*)(void*), void*) override { return false; }
  };
  const std::unique_ptr<platform::WindowsOs> system = testsupport::NewSystemOs();
  NoThreads os(*system);
  std::istringstream typed("1\n");
  std::streambuf* saved = std::cin.rdbuf(typed.rdbuf());
  testing::internal::CaptureStderr();
  {
    ConsoleUi ui(true, false);
    ui.StartInput(os);
    std::string line;
    bool endOfInput = false;
    EXPECT_FALSE(ui.NextCommand(line, 5000, endOfInput));
    EXPECT_TRUE(endOfInput);
  }
  std::string err = testing::internal::GetCapturedStderr();
  std::cin.rdbuf(saved);
  EXPECT_NE(err.find("no thread to read the terminal"), std::string::npos) << err;
}

}  // namespace
