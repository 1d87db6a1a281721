// The worker on a real thread beside the UI thread: Close and "Terminate???" during a run, and
// the callbacks reaching the controls. Also run under ThreadSanitizer.
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_fixture.h"

namespace {

// A one-way gate between the two threads.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

class WorkerThread : public DialogTest {
 protected:
  WorkerThread() {
    World().realThreads = &started;
    World().discovered = {MakeRecord(kSupported, "1.05")};
  }
  ~WorkerThread() override { JoinAll(); }
  void JoinAll() {
    for (std::thread& t : started) t.join();
    started.clear();
  }
  std::vector<std::thread> started;
  Gate running, mayFinish;
};

TEST_F(WorkerThread, TerminateDuringARunReachesTheEngine) {
  uint8_t seenBefore = 0xEE, seenAfter = 0xEE;
  World().run = [&](const UpdateOwner&, const UpdateJob& job) {
    seenBefore = job.callbacks.isAbortRequested();
    running.Open();
    mayFinish.Wait();
    seenAfter = job.callbacks.isAbortRequested();
  };
  World().answers = {platform::kIdOk};
  Open();
  running.Wait();
  dialog->OnOk();    // Enter during the run
  dialog->OnClose();  // "Terminate???" answered OK
  mayFinish.Open();
  JoinAll();
  EXPECT_EQ(seenBefore, 0);
  EXPECT_EQ(seenAfter, 1);
  ASSERT_EQ(World().boxes.size(), 1u);
  EXPECT_EQ(World().boxes[0].text, "Terminate???");
  EXPECT_EQ(controls.EndResult(), -1);
  EXPECT_FALSE(dialog->AbortRequested());
  EXPECT_FALSE(dialog->RunActive());
  dialog->OnClose();
  EXPECT_EQ(controls.EndResult(), kResultCancel);
}

TEST_F(WorkerThread, CloseCancelledDuringARunChangesNothing) {
  World().run = [&](const UpdateOwner&, const UpdateJob&) {
    running.Open();
    mayFinish.Wait();
  };
  World().answers = {platform::kIdCancel};
  Open();
  running.Wait();
  EXPECT_TRUE(dialog->RunActive());
  dialog->OnClose();
  EXPECT_FALSE(dialog->AbortRequested());
  EXPECT_EQ(controls.EndResult(), -1);
  mayFinish.Open();
  JoinAll();
}

TEST_F(WorkerThread, CallbacksFromTheWorkerReachTheControls) {
  World().run = [&](const UpdateOwner&, const UpdateJob& job) {
    job.callbacks.setStatus("Transferring.....");
    for (int p = 0; p <= 100; ++p) job.callbacks.setProgress(p);
    job.callbacks.appendLog("Please wait for a moment ......");
    running.Open();
    mayFinish.Wait();
    job.callbacks.appendLog("Complete");
    job.callbacks.setStatus("Finished");
  };
  testing::internal::CaptureStdout();
  Open();
  running.Wait();
  // The UI thread reads what the worker is writing.
  EXPECT_EQ(Text(kStatusLine), "Transferring.....");
  EXPECT_EQ(controls.State(kProgressBar).position, 100);
  mayFinish.Open();
  JoinAll();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Please wait for a moment ......\nComplete\n");
  EXPECT_EQ(Text(kLogView), "Please wait for a moment ......\r\nComplete");
  EXPECT_EQ(Text(kStatusLine), "Finished");
  EXPECT_TRUE(Enabled(kCloseButton));
}

}  // namespace
