#include "tests/support/engine_harness.h"

#include <cstdlib>
#include <cstring>

#include "tests/support/system_os.h"

namespace enginetest {

sim::Outcome TracingDevice::Execute(const sim::Command& command) {
  TraceEntry entry{};
  entry.cdb.assign(command.cdb, command.cdb + command.cdbLength);
  entry.direction = command.direction;
  entry.dataLength = command.dataLength;
  if (harness_.onCommand) harness_.onCommand(entry);
  const sim::Outcome outcome = inner_.Execute(command);
  entry.delivered = outcome.delivered;
  entry.status = outcome.status;
  entry.sense[0] = outcome.sense[2];
  entry.sense[1] = outcome.sense[12];
  entry.sense[2] = outcome.sense[13];
  harness_.trace.push_back(std::move(entry));
  return outcome;
}

namespace {

// The job's callbacks reach the harness through their context.
Harness& Of(void* context) { return *static_cast<Harness*>(context); }

void AppendLog(void* context, const char* text) {
  Of(context).logs.emplace_back(text);
  Of(context).events.push_back(std::string("log: ") + text);
}
void SetStatus(void* context, const char* text) {
  Of(context).statuses.emplace_back(text);
  Of(context).events.push_back(std::string("status: ") + text);
}
void SetProgress(void* context, int position) { Of(context).progress.push_back(position); }
uint8_t IsAbortRequested(void* context) {
  const int query = ++Of(context).abortQueries;
  return Of(context).abortAnswer ? Of(context).abortAnswer(query) : 0;
}

}  // namespace

class Harness::FakeOs final : public platform::WindowsOsWrapper {
 public:
  FakeOs(platform::WindowsOs& target, Harness& h) : WindowsOsWrapper(target), h_(h) {}

  void sleepMs(uint32_t ms) override {
    h_.sleeps.push_back(ms);
    h_.clock.Advance(ms);
  }
  uint32_t tickCount() override { return static_cast<uint32_t>(h_.clock.NowMs()); }
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override {
    h_.boxes.push_back(Box{text, caption, style, owner != nullptr});
    h_.events.push_back(std::string("box: ") + text);
    if (!h_.answers.empty()) {
      const int answer = h_.answers.front();
      h_.answers.pop_front();
      return answer;
    }
    return (style & platform::kMbYesNo) != 0 ? platform::kIdNo : platform::kIdOk;
  }
  // The Windows family the job's transport belongs to: NT 5 for pass-through, 98 for ASPI.
  bool getVersion(platform::VersionInfo* out) override {
    *out = h_.windowsNt ? platform::VersionInfo{platform::kPlatformWin32Nt, 5, 1}
                        : platform::VersionInfo{platform::kPlatformWin32Windows, 4, 10};
    return true;
  }
  bool acquireShutdownPrivilege() override {
    ++h_.privilegeRequests;
    return h_.privilegeGranted;
  }
  bool exitWindows(uint32_t flags) override {
    h_.exitRequests.push_back(flags);
    return true;
  }
  void* allocImage(size_t size) override {
    if (h_.failImageStorage) return nullptr;
    ++h_.imagesHeld;
    void* block = std::malloc(size);
    std::memset(block, 0xA5, size);  // not zero: the loader must clear it itself
    return block;
  }
  void freeImage(void* block) override {
    --h_.imagesHeld;
    std::free(block);
  }
  platform::Handle openInputFile(const char* path, uint64_t* size) override {
    const platform::Handle file = target().openInputFile(path, size);
    if (file != platform::InvalidHandle()) ++h_.inputFilesOpen;
    return file;
  }
  void closeInputFile(platform::Handle file) override {
    --h_.inputFilesOpen;
    target().closeInputFile(file);
  }
  void* loadLibrary(const char* name) override {
    h_.librariesLoaded.emplace_back(name);
    return reinterpret_cast<void*>(0x5EA1);
  }

 private:
  Harness& h_;
};

Harness::Harness()
    : system_(testsupport::NewSystemOs()),
      fakes_(std::make_unique<FakeOs>(*system_, *this)),
      portOs_(std::make_unique<sim::NtPortOs>(*fakes_, port_)),
      nt_(std::make_unique<NtPassThroughTransport>(*portOs_, false)),
      aspi_(std::make_unique<AspiTransport>(*portOs_)) {}

Harness::~Harness() {
  if (record_.deviceHandle != nullptr) portOs_->closeHandle(record_.deviceHandle);
}

// The drive sits at path 0, target 1 behind letter e:, opened as the program opens it.
void Harness::Attach(sim::Device& target) {
  tracer = std::make_unique<TracingDevice>(target, *this);
  device = tracer.get();
  if (record_.deviceHandle != nullptr) portOs_->closeHandle(record_.deviceHandle);
  port_.Attach('e', device, 0, 1);
  record_ = DriveRecord{};
  record_.deviceHandle = portOs_->openDevice("\\\\.\\e:");
  record_.adapterId = 0;
  record_.targetId = 1;
  record_.maxTransferLength = 0x10000;
  record_.alignmentMask = 1;
  std::memcpy(record_.identity, "KORVADSKRW/DVD KDR-7305C(0)", 27);
  std::memcpy(record_.revision, "TR07", 4);
}

UpdateJob Harness::Job(const std::string& path, uint8_t isHexFile, uint8_t useNt) {
  UpdateJob job{};
  job.drive = record_;
  std::strncpy(job.firmwarePath, path.c_str(), sizeof job.firmwarePath - 1);
  job.isHexFile = isHexFile;
  job.callbacks = UiCallbacks{this, AppendLog, SetStatus, SetProgress, IsAbortRequested};
  job.transport = useNt != 0 ? static_cast<DriveTransport*>(nt_.get()) : aspi_.get();
  windowsNt = useNt != 0;
  return job;
}

int CountCommands(const std::vector<TraceEntry>& trace, uint8_t opcode, int mode) {
  int n = 0;
  for (const TraceEntry& e : trace) {
    if (!e.cdb.empty() && e.cdb[0] == opcode && (mode < 0 || (e.cdb.size() > 1 && e.cdb[1] == mode))) {
      ++n;
    }
  }
  return n;
}

}  // namespace enginetest
