// The terminal front end without a terminal: message boxes take the safe answer and say so, and
// every change of the status line or the bar is one line on standard error.
#include <string>

#include <gtest/gtest.h>

#include "app/console/console_ui.h"
#include "platform/platform.h"

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
  ui.DrawDialog();
  ui.SetText(kStatusLine, "Transferring.....");
  ui.SetProgress(kProgressBar, 1);
  ui.SetProgress(kProgressBar, 1);  // no change: no line
  ui.SetText(kLogView, "a log line");  // standard output's, not drawn here
  ui.SetProgress(kProgressBar, 2);
  std::string err = testing::internal::GetCapturedStderr();
  std::string tail = err.substr(err.find("Status: before the dialog is drawn"));
  EXPECT_EQ(tail,
            "Status: before the dialog is drawn\nProgress: 0%\nStatus: Transferring.....\n"
            "Progress: 1%\nProgress: 2%\n");
  EXPECT_EQ(err.find("a log line"), std::string::npos);
}

}  // namespace
