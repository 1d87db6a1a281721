// A dialog under test: the in-memory controls, fake drive services bound to a table of drives,
// and the seam's version, message boxes and thread start bound to scripted fakes.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/memory_controls.h"
#include "app/ui_callbacks.h"
#include "app/update_dialog.h"
#include "platform/platform.h"

struct MessageBoxCall {
  std::string text;
  std::string caption;
  uint32_t style;
};

// The world the fakes see. Plain function references have no context, so they reach it through
// one process-wide pointer.
struct FakeWorld {
  bool transportLoads = true;
  int loadTransportCalls = 0;
  int releaseTransportCalls = 0;
  std::vector<DriveRecord> discovered;
  uint8_t discoveredWithNt = 0xEE;
  uint8_t discoveredWithNt4 = 0xEE;
  platform::VersionInfo version{platform::kPlatformWin32Nt, 5, 1};

  std::deque<int> answers;  // message box answers, in order; kIdCancel when none is left
  std::vector<MessageBoxCall> boxes;

  // Thread start: by default a started worker is only recorded (the run is "starting"); a test
  // runs it with RunPendingWorker or binds startThread to a real thread.
  std::vector<std::pair<void (*)(void*), void*>> pendingWorkers;
  bool threadStartFails = false;

  std::function<void(const UpdateOwner&, const UpdateJob&)> run;
  int runs = 0;
  UpdateOutcome outcome = UpdateOutcome::kFailed;  // what each run returns
  std::vector<UpdateJob> jobsRun;
};

FakeWorld& World();

DriveRecord MakeRecord(const char* vendorProduct, const char* revision, uint8_t adapter = 1,
                       uint8_t target = 0);
constexpr const char* kSupported = "KORVADSKRW/DVD KDR-7305C";
constexpr const char* kOther = "PIONEER DVD-RW  DVR-110D";

DialogServices FakeServices();

class DialogTest : public ::testing::Test {
 protected:
  DialogTest();
  ~DialogTest() override;

  // Builds the dialog and runs its initialisation.
  void Open();
  void RunPendingWorker();
  std::string Text(int id) const { return controls.State(id).text; }
  bool Enabled(int id) const { return controls.State(id).enabled; }

  platform::ScopedOs savedOs;
  MemoryControls controls;
  std::unique_ptr<UpdateDialog> dialog;
};
