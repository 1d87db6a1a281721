#include "tests/support/engine_harness.h"

#include <cstdlib>
#include <cstring>

#include "tests/support/harness_transport.h"

namespace enginetest {

Harness* Harness::current = nullptr;

sim::Outcome TracingDevice::Execute(const sim::Command& command) {
  TraceEntry entry{};
  entry.cdb.assign(command.cdb, command.cdb + command.cdbLength);
  entry.direction = command.direction;
  entry.dataLength = command.dataLength;
  if (Harness::current != nullptr && Harness::current->onCommand) {
    Harness::current->onCommand(entry);
  }
  const sim::Outcome outcome = inner_.Execute(command);
  entry.delivered = outcome.delivered;
  entry.status = outcome.status;
  entry.sense[0] = outcome.sense[2];
  entry.sense[1] = outcome.sense[12];
  entry.sense[2] = outcome.sense[13];
  trace_.push_back(std::move(entry));
  return outcome;
}

namespace {

Harness& H() { return *Harness::current; }

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

void SleepMs(uint32_t ms) {
  H().sleeps.push_back(ms);
  H().clock.Advance(ms);
}

uint32_t TickCount() { return static_cast<uint32_t>(H().clock.NowMs()); }

int MessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  H().boxes.push_back(Box{text, caption, style, owner != nullptr});
  H().events.push_back(std::string("box: ") + text);
  if (!H().answers.empty()) {
    const int answer = H().answers.front();
    H().answers.pop_front();
    return answer;
  }
  return (style & platform::kMbYesNo) != 0 ? platform::kIdNo : platform::kIdOk;
}

// The Windows family the job's transport belongs to: NT 5 for pass-through, 98 for ASPI.
bool GetVersion(platform::VersionInfo* out) {
  *out = H().windowsNt ? platform::VersionInfo{platform::kPlatformWin32Nt, 5, 1}
                       : platform::VersionInfo{platform::kPlatformWin32Windows, 4, 10};
  return true;
}

bool AcquireShutdownPrivilege() {
  ++H().privilegeRequests;
  return H().privilegeGranted;
}

bool ExitWindows(uint32_t flags) {
  H().exitRequests.push_back(flags);
  return true;
}

void* AllocImage(size_t size) {
  if (H().failImageStorage) return nullptr;
  ++H().imagesHeld;
  void* block = std::malloc(size);
  std::memset(block, 0xA5, size);  // not zero: the loader must clear it itself
  return block;
}

void FreeImage(void* block) {
  --H().imagesHeld;
  std::free(block);
}

platform::Handle OpenInputFile(const char* path, uint64_t* size) {
  const platform::Handle file = H().openInputFile_(path, size);
  if (file != platform::InvalidHandle()) ++H().inputFilesOpen;
  return file;
}

void CloseInputFile(platform::Handle file) {
  --H().inputFilesOpen;
  H().closeInputFile_(file);
}

void* LoadLibrary(const char* name) {
  H().librariesLoaded.emplace_back(name);
  return reinterpret_cast<void*>(0x5EA1);
}

}  // namespace

Harness::Harness() {
  current = this;
  platform::Os& os = platform::os();
  os.sleepMs = SleepMs;
  os.tickCount = TickCount;
  os.messageBox = MessageBox;
  os.getVersion = GetVersion;
  os.acquireShutdownPrivilege = AcquireShutdownPrivilege;
  os.exitWindows = ExitWindows;
  os.allocImage = AllocImage;
  os.freeImage = FreeImage;
  os.loadLibrary = LoadLibrary;
  openInputFile_ = os.openInputFile;
  closeInputFile_ = os.closeInputFile;
  os.openInputFile = OpenInputFile;
  os.closeInputFile = CloseInputFile;
}

Harness::~Harness() {
  DetachTransport();
  current = nullptr;
}

void Harness::Attach(sim::Device& target) {
  tracer = std::make_unique<TracingDevice>(target, trace);
  device = tracer.get();
  AttachTransport(*device);
}

UpdateJob Harness::Job(const std::string& path, uint8_t isHexFile, uint8_t useNtPassThrough) {
  UpdateJob job{};
  job.drive = TransportDrive();
  std::strncpy(job.firmwarePath, path.c_str(), sizeof job.firmwarePath - 1);
  job.isHexFile = isHexFile;
  job.callbacks = UiCallbacks{this, AppendLog, SetStatus, SetProgress, IsAbortRequested};
  job.useNtPassThrough = useNtPassThrough;
  job.transport = &TransportFor(useNtPassThrough, 0);
  windowsNt = useNtPassThrough != 0;
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
