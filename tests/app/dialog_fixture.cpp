#include "dialog_fixture.h"

#include <cstdio>

namespace {

FakeWorld* world = nullptr;

// The transport the dialog chose: it remembers the flags it was chosen for and lists the
// world's drives as discovered on that path.
class FakeTransport final : public DriveTransport {
 public:
  uint8_t isNt = 0;
  uint8_t isNt4 = 0;

  bool Load(TransportState&) override {
    ++world->loadTransportCalls;
    return world->transportLoads;
  }
  void Release(TransportState&) override { ++world->releaseTransportCalls; }
  void Discover(DriveList& drives) override {
    world->discoveredWithNt = isNt;
    world->discoveredWithNt4 = isNt4;
    for (const DriveRecord& record : world->discovered) {
      if (drives.count == kMaxDrives) break;
      drives.records[drives.count++] = new DriveRecord(record);
    }
  }

 protected:
  ScsiOutcome Carry(const ScsiRequest&, bool&, uint32_t&) override { return ScsiOutcome::kNotSent; }
};

DriveTransport& FakeTransportFor(uint8_t isNt, uint8_t isNt4) {
  static FakeTransport transport;
  transport.isNt = isNt;
  transport.isNt4 = isNt4;
  return transport;
}
void FakeReleaseDrives(DriveList& drives) {
  for (uint32_t i = 0; i < drives.count; ++i) delete drives.records[i];
  drives.count = 0;
}
UpdateOutcome FakeRunUpdate(const UpdateOwner& owner, const UpdateJob& job) {
  ++world->runs;
  world->jobsRun.push_back(job);
  if (world->run) world->run(owner, job);
  return world->outcome;
}

bool FakeGetVersion(platform::VersionInfo* out) {
  *out = world->version;
  return true;
}
int FakeMessageBox(void*, const char* text, const char* caption, uint32_t style) {
  world->boxes.push_back({text, caption, style});
  if (world->answers.empty()) return platform::kIdCancel;
  int answer = world->answers.front();
  world->answers.pop_front();
  return answer;
}
bool FakeStartThread(void (*fn)(void*), void* arg) {
  if (world->threadStartFails) return false;
  world->pendingWorkers.emplace_back(fn, arg);
  return true;
}
const char* FakeApplicationName() { return "fwloader"; }

}  // namespace

FakeWorld& World() { return *world; }

DriveRecord MakeRecord(const char* vendorProduct, const char* revision, uint8_t adapter,
                       uint8_t target) {
  DriveRecord record{};
  std::snprintf(record.identity, sizeof record.identity, "%s", vendorProduct);
  std::snprintf(record.revision, sizeof record.revision, "%s", revision);
  record.adapterId = adapter;
  record.targetId = target;
  return record;
}

DialogServices FakeServices() {
  return DialogServices{FakeTransportFor, FakeReleaseDrives, FakeRunUpdate};
}

DialogTest::DialogTest() {
  world = new FakeWorld();
  platform::Os& os = platform::os();
  os.getVersion = FakeGetVersion;
  os.messageBox = FakeMessageBox;
  os.startThread = FakeStartThread;
  os.applicationName = FakeApplicationName;
}

DialogTest::~DialogTest() {
  dialog.reset();
  delete world;
  world = nullptr;
}

void DialogTest::Open() {
  dialog = std::make_unique<UpdateDialog>(controls, FakeServices());
  EXPECT_TRUE(dialog->OnInitDialog());
}

void DialogTest::RunPendingWorker() {
  ASSERT_FALSE(world->pendingWorkers.empty());
  auto worker = world->pendingWorkers.front();
  world->pendingWorkers.erase(world->pendingWorkers.begin());
  worker.first(worker.second);
}
