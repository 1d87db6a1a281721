#include "app/console/firmware_check.h"

#include <cstring>

#include "app/update_dialog.h"
#include "engine/error_messages.h"
#include "engine/firmware_loader.h"

namespace {

// A check is never terminated.
uint8_t NeverAborted(void*) { return 0; }

// The texts the update shows for each way the load fails.
std::string MessageFor(const LoadResult& load) {
  const int index = load.result == kLoadReadError     ? kErrReadInput
                    : load.result == kLoadFormatError ? kErrFormat
                                                      : load.message;
  return std::string("ERR: ") + errorMessages[index];
}

}  // namespace

bool CheckFirmwareFile(const std::string& path, FirmwareSummary& out) {
  out = FirmwareSummary();
  out.path = path;
  char name[512];
  uint8_t isHexFile = 0;
  if (path.size() >= sizeof name) {
    out.message = "Update file name is not correct!";
    return false;
  }
  std::memcpy(name, path.c_str(), path.size() + 1);
  if (!FirmwareFormatFromName(name, isHexFile)) {
    out.message = "Update file name is not correct!";
    return false;
  }
  out.format = isHexFile != 0 ? "text records" : "binary";

  FileReader file;
  if (!file.Open(name)) {
    // The update's last word on a file that does not open.
    out.message = std::string("ERR: ") + errorMessages[kErrReadInput];
    return false;
  }
  FirmwareImage image{};
  const LoadResult load = LoadFirmware(file, isHexFile, AbortQuery{nullptr, NeverAborted}, image);
  file.Close();
  if (load.result == kLoadOk) {
    out.imageSum = ImageSum(image);
    out.fileBytes = load.fileBytes;
    out.accepted = true;
  } else {
    out.message = MessageFor(load);
  }
  ReleaseImage(image);
  return out.accepted;
}
