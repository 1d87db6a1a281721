#include "dialog_fixture.h"

#include <cstdio>

#include "tests/support/system_os.h"

namespace {

// The run reaches the world through the operating system it is handed: the test's.
UpdateOutcome FakeRunUpdate(const UpdateOwner& owner, const UpdateJob& job, platform::Os& os) {
  FakeWorld& world = static_cast<WorldOs&>(os).world;
  ++world.runs;
  world.jobsRun.push_back(job);
  if (world.run) world.run(owner, job);
  return world.outcome;
}

}  // namespace

int WorldOs::messageBox(void*, const char* text, const char* caption, uint32_t style) {
  world.boxes.push_back({text, caption, style});
  if (world.answers.empty()) return platform::kIdCancel;
  int answer = world.answers.front();
  world.answers.pop_front();
  return answer;
}

bool WorldOs::startThread(void (*fn)(void*), void* arg) {
  if (world.threadStartFails) return false;
  if (world.realThreads != nullptr) {
    world.realThreads->emplace_back(fn, arg);
  } else {
    world.pendingWorkers.emplace_back(fn, arg);
  }
  return true;
}

bool FakeTransport::Load(TransportState&) {
  ++world_.loadTransportCalls;
  return world_.transportLoads;
}

void FakeTransport::Release(TransportState&) { ++world_.releaseTransportCalls; }

void FakeTransport::Discover(DriveList& drives) {
  ++world_.discoveries;
  for (const DriveRecord& record : world_.discovered) {
    if (drives.count == kMaxDrives) break;
    drives.records[drives.count++] = new DriveRecord(record);
  }
}

void FakeTransport::ReleaseDrives(DriveList& drives) {
  for (uint32_t i = 0; i < drives.count; ++i) delete drives.records[i];
  drives.count = 0;
}

DriveRecord MakeRecord(const char* vendorProduct, const char* revision, uint8_t adapter,
                       uint8_t target) {
  DriveRecord record{};
  std::snprintf(record.identity, sizeof record.identity, "%s", vendorProduct);
  std::snprintf(record.revision, sizeof record.revision, "%s", revision);
  record.adapterId = adapter;
  record.targetId = target;
  return record;
}

DialogTest::DialogTest()
    : system_(testsupport::NewSystemOs()),
      os_(std::make_unique<WorldOs>(*system_, world_)),
      transport_(std::make_unique<FakeTransport>(*os_, world_)) {}

DialogTest::~DialogTest() { dialog.reset(); }

DialogServices DialogTest::FakeServices() { return DialogServices{transport_.get(), FakeRunUpdate}; }

void DialogTest::Open(const DialogOptions& options) {
  dialog = std::make_unique<UpdateDialog>(controls, FakeServices(), *os_, options);
  EXPECT_TRUE(dialog->OnInitDialog());
}

void DialogTest::RunPendingWorker() {
  ASSERT_FALSE(world_.pendingWorkers.empty());
  auto worker = world_.pendingWorkers.front();
  world_.pendingWorkers.erase(world_.pendingWorkers.begin());
  worker.first(worker.second);
}
