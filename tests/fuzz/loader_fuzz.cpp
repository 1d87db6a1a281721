// Fuzz target for the firmware loaders. The first input byte chooses the format (bit 0: text
// records) and, in bits 1-7, the abort query on which a terminate request arrives (0: none); the
// rest is the file. Every load must end with the image inside its storage, the file closed or
// left for the run to close, and the storage either held with length 0x80000 or released.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "drive/drive.h"
#include "engine/flash_updater.h"
#include "platform/platform.h"

namespace platform {
Os& os() {
  static Os table{};
  return table;
}
}  // namespace platform

constexpr uint8_t kDriveByte = 0xB0;

// A drive that accepts every command and answers reads with kDriveByte. A failed boot data
// read-back ends every load before its checks below, so the drive must answer for a load to
// reach the end; that failure itself has its own unit tests.
int SendScsiRequest(const ScsiRequest& request) {
  std::memset(request.senseArea, 0, 16);
  if (request.direction == SRB_DIR_IN && request.data != nullptr) {
    std::memset(request.data, kDriveByte, request.dataLength);
  }
  return 1;
}

namespace {

int abortAt = 0;
int queries = 0;
int held = 0;

void Ignore(const char*) {}
void IgnoreProgress(int) {}
uint8_t IsAbortRequested() { return abortAt != 0 && ++queries >= abortAt ? 1 : 0; }
void* AllocImage(size_t size) {
  ++held;
  return std::calloc(1, size);
}
void FreeImage(void* block) {
  --held;
  std::free(block);
}
void* LoadLibrary(const char*) { return nullptr; }

struct NoOwner : UpdateOwner {
  int GetCheckState(int) const override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  platform::Os& os = platform::os();
  os.allocImage = AllocImage;
  os.freeImage = FreeImage;
  os.loadLibrary = LoadLibrary;

  // The file's bytes come straight from memory, measured as a file would be.
  MemoryReader file(data + 1, size - 1);

  UpdateJob job{};
  job.isHexFile = data[0] & 1;
  job.callbacks = UiCallbacks{Ignore, Ignore, IgnoreProgress, IsAbortRequested};
  job.useNtPassThrough = 1;
  abortAt = data[0] >> 1;
  queries = 0;

  NoOwner owner;
  FlashUpdater engine(owner, job);
  const int32_t result = engine.LoadFirmwareFrom(file);
  switch (result) {
    case kLoadOk:
      if (engine.image.length != kImageSize || engine.firmwareFile != nullptr || held != 1) abort();
      // The drive's boot data replaces whatever the file put at 0..0x3FFF.
      for (uint32_t a = 0; a < kBootDataSize; ++a) {
        if (engine.image.banks[0][a] != kDriveByte) abort();
      }
      break;
    case kLoadFormatError:
    case kLoadReadError:
      engine.FailWithMessage(result == kLoadFormatError ? kErrFormat : kErrReadInput);
      break;
    case kLoadAlreadyShown:
      if (engine.firmwareFile != nullptr || engine.image.banks[0] != nullptr) abort();
      break;
    default:
      abort();
  }
  engine.ReleaseImage();
  if (held != 0) abort();
  return 0;
}
