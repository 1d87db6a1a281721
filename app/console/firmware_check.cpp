#include "app/console/firmware_check.h"

#include <cstring>

#include "app/update_dialog.h"
#include "engine/flash_updater.h"

namespace {

// The loaders report through the run's callbacks; the check keeps the last status text (the
// context is a std::string).
void IgnoreLog(void*, const char*) {}
void KeepStatus(void* lastStatus, const char* text) { *static_cast<std::string*>(lastStatus) = text; }
void IgnoreProgress(void*, int) {}
uint8_t NeverAborted(void*) { return 0; }

struct NoOwner final : UpdateOwner {
  int GetCheckState(int) const override { return 0; }
};

// The updater with the drive's part of the load left out: neither boot data nor the seal.
class FileOnlyUpdater final : public FlashUpdater {
 public:
  using FlashUpdater::FlashUpdater;
  bool FinishImage() override { return true; }
};

}  // namespace

bool CheckFirmwareFile(const std::string& path, FirmwareSummary& out) {
  out = FirmwareSummary();
  out.path = path;
  UpdateJob job{};
  if (path.size() >= sizeof job.firmwarePath) {
    out.message = "Update file name is not correct!";
    return false;
  }
  std::memcpy(job.firmwarePath, path.c_str(), path.size() + 1);
  if (!FirmwareFormatFromName(job.firmwarePath, job.isHexFile)) {
    out.message = "Update file name is not correct!";
    return false;
  }
  out.format = job.isHexFile != 0 ? "text records" : "binary";
  std::string lastStatus;
  job.callbacks = UiCallbacks{&lastStatus, IgnoreLog, KeepStatus, IgnoreProgress, NeverAborted};

  NoOwner owner;
  FileOnlyUpdater loader(owner, job);
  const int32_t loaded = loader.LoadFirmwareFile();
  // The texts the run itself shows for each result of the load.
  if (loaded == kLoadReadError) {
    out.message = std::string("ERR: ") + errorMessages[kErrReadInput];
  } else if (loaded == kLoadFormatError) {
    out.message = std::string("ERR: ") + errorMessages[kErrFormat];
  } else if (loaded != kLoadOk) {
    out.message = lastStatus;
  } else {
    uint16_t sum = 0;
    for (uint32_t a = 0; a < kImageSize; ++a) {
      sum = static_cast<uint16_t>(sum + loader.image.banks[a >> 15][a & 0x7FFF]);
    }
    out.imageSum = sum;
    out.fileBytes = loader.fileBytes;
    out.accepted = true;
  }
  loader.ReleaseImage();
  return out.accepted;
}
