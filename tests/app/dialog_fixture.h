// A dialog under test: the in-memory controls, a fake transport listing a table of drives, a
// fake run, and an operating system whose message boxes and thread start are scripted. All of
// it belongs to the test's fixture.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/memory_controls.h"
#include "app/ui_callbacks.h"
#include "app/update_dialog.h"
#include "platform/os.h"

struct MessageBoxCall {
  std::string text;
  std::string caption;
  uint32_t style;
};

// What the fakes see and record.
struct FakeWorld {
  bool transportLoads = true;
  int loadTransportCalls = 0;
  int releaseTransportCalls = 0;
  int discoveries = 0;
  std::vector<DriveRecord> discovered;

  std::deque<int> answers;  // message box answers, in order; kIdCancel when none is left
  std::vector<MessageBoxCall> boxes;

  // Thread start: by default a started worker is only recorded (the run is "starting"); a test
  // runs it with RunPendingWorker, or gives real threads to start it on.
  std::vector<std::pair<void (*)(void*), void*>> pendingWorkers;
  bool threadStartFails = false;
  std::vector<std::thread>* realThreads = nullptr;

  std::function<void(const UpdateOwner&, const UpdateJob&)> run;
  int runs = 0;
  UpdateOutcome outcome = UpdateOutcome::kFailed;  // what each run returns
  std::vector<UpdateJob> jobsRun;
};

DriveRecord MakeRecord(const char* vendorProduct, const char* revision, uint8_t adapter = 1,
                       uint8_t target = 0);
constexpr const char* kSupported = "KORVADSKRW/DVD KDR-7305C";
constexpr const char* kOther = "PIONEER DVD-RW  DVR-110D";

// The system with the world's message boxes and thread start.
class WorldOs final : public platform::OsWrapper {
 public:
  WorldOs(platform::Os& target, FakeWorld& fakeWorld) : OsWrapper(target), world(fakeWorld) {}
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override;
  bool startThread(void (*fn)(void*), void* arg) override;
  const char* applicationName() override { return "fwloader"; }
  FakeWorld& world;
};

// The transport of the test: it lists the world's drives.
class FakeTransport final : public DriveTransport {
 public:
  FakeTransport(platform::Os& os, FakeWorld& world) : DriveTransport(os), world_(world) {}
  bool Load(TransportState&) override;
  void Release(TransportState&) override;
  void Discover(DriveList& drives) override;
  void ReleaseDrives(DriveList& drives) override;

 protected:
  ScsiOutcome Carry(const ScsiRequest&, bool&, uint32_t&) override { return ScsiOutcome::kNotSent; }

 private:
  FakeWorld& world_;
};

// Reaches past the dialog's interface for the one state no test can reach through it: a
// terminate request confirmed between the worker's clearing of it and its end of the run.
struct UpdateDialogTestPeer {
  static void LeaveTerminateRequested(UpdateDialog& dialog) { dialog.abortRequested_ = 1; }
};

class DialogTest : public ::testing::Test {
 public:
  DialogTest();
  ~DialogTest() override;

  // Builds the dialog with `options` and runs its initialisation.
  void Open(const DialogOptions& options = DialogOptions());
  void RunPendingWorker();
  // Services with the fake transport and run.
  DialogServices FakeServices();
  std::string Text(int id) const { return controls.State(id).text; }
  bool Enabled(int id) const { return controls.State(id).enabled; }
  FakeWorld& World() { return world_; }

  FakeWorld world_;
  std::unique_ptr<platform::Os> system_;
  std::unique_ptr<WorldOs> os_;
  std::unique_ptr<FakeTransport> transport_;
  MemoryControls controls;
  std::unique_ptr<UpdateDialog> dialog;
};
