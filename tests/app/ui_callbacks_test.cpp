// The four UI operations as the engine calls them, and the log view's 511-character limit.
#include <string>

#include <gtest/gtest.h>

#include "dialog_fixture.h"

namespace {

using Callbacks = DialogTest;

TEST_F(Callbacks, AppendLogBuildsTheViewAndWritesEachLineToStandardOutput) {
  Open();
  UiCallbacks callbacks = DialogCallbacks(*dialog);
  testing::internal::CaptureStdout();
  callbacks.appendLog("A");
  EXPECT_EQ(Text(kLogView), "A");  // no leading line break on an empty log
  callbacks.appendLog("B");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "A\nB\n");
  EXPECT_EQ(Text(kLogView), "A\r\nB");
  EXPECT_EQ(controls.State(kLogView).scrolledLines, 1 + 2);
}

TEST_F(Callbacks, StatusProgressAndAbort) {
  World().discovered = {MakeRecord(kSupported, "1.05")};
  Open();  // the run is starting
  UiCallbacks callbacks = DialogCallbacks(*dialog);
  callbacks.setStatus("Transferring.....");
  callbacks.setProgress(50);
  EXPECT_EQ(Text(kStatusLine), "Transferring.....");
  EXPECT_EQ(controls.State(kProgressBar).position, 50);
  EXPECT_EQ(callbacks.isAbortRequested(), 0);
  World().answers = {platform::kIdOk};
  dialog->OnClose();  // "Terminate???" confirmed
  EXPECT_EQ(callbacks.isAbortRequested(), 1);
  RunPendingWorker();
  EXPECT_EQ(callbacks.isAbortRequested(), 0);
}

std::string Compose(const std::string& oldText, const std::string& line) {
  char out[kLogViewLimit + 1];
  ComposeLogText(oldText.c_str(), line.c_str(), out);
  return out;
}

TEST(ComposeLogText, KeepsWithinTheViewByDroppingTheOldestLines) {
  const std::string l100(100, 'x');
  const std::string l200(200, 'y');
  // old (409) + "\r\n" + new (100) = 511 fits exactly.
  const std::string old409 = l200 + "\r\n" + std::string(207, 'z');
  EXPECT_EQ(Compose(old409, l100), old409 + "\r\n" + l100);
  // One more character: the oldest line goes.
  EXPECT_EQ(Compose(old409, l100 + "w"), std::string(207, 'z') + "\r\n" + l100 + "w");
  // Several old lines go until it fits.
  const std::string l250(250, 'v');
  const std::string many = "a\r\nb\r\n" + l250 + "\r\n" + l250;
  EXPECT_EQ(Compose(many, l100), l250 + "\r\n" + l100);
  // A single old line that cannot stay goes as a whole (507 + 2 + 3 > 511).
  EXPECT_EQ(Compose(std::string(507, 'o'), "new"), "new");
  // A new line longer than the view keeps its first 511 characters.
  EXPECT_EQ(Compose("old", std::string(600, 'n')), std::string(511, 'n'));
  EXPECT_EQ(Compose("", "only"), "only");
}

TEST_F(Callbacks, LongRunsOfLinesStayWithinTheView) {
  Open();
  UiCallbacks callbacks = DialogCallbacks(*dialog);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 200; ++i) callbacks.appendLog(("line " + std::to_string(i)).c_str());
  std::string out = testing::internal::GetCapturedStdout();
  std::string view = Text(kLogView);
  EXPECT_LE(view.size(), kLogViewLimit);
  EXPECT_EQ(view.substr(view.size() - 8), "line 199");
  EXPECT_EQ(view.compare(0, 5, "line "), 0);  // starts with a whole line
  EXPECT_EQ(out.substr(out.size() - 18), "line 198\nline 199\n");
}

}  // namespace
