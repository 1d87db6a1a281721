#include "app/console/firmware_check.h"

#include <cstring>

#include "app/update_dialog.h"
#include "engine/error_messages.h"
#include "engine/firmware_loader.h"

namespace {

// A check is never terminated.
uint8_t NeverAborted(void*) { return 0; }

// The whole file, up to kMaxFirmwareFileSize + 1 bytes. False on a read error.
bool ReadWhole(FileReader& file, std::vector<uint8_t>& bytes) {
  bytes.clear();
  uint8_t chunk[65536];
  for (;;) {
    const int32_t got = file.Read(chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > kMaxFirmwareFileSize) return true;
  }
}

// The texts the update shows for each way the load fails.
std::string MessageFor(const LoadResult& load) {
  const int index = load.result == kLoadReadError     ? kErrReadInput
                    : load.result == kLoadFormatError ? kErrFormat
                                                      : load.message;
  return std::string("ERR: ") + errorMessages[index];
}

}  // namespace

bool CheckFirmwareFile(platform::Os& os, const std::string& path, FirmwareSummary& out) {
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

  FileReader file(os);
  if (!file.Open(name)) {
    // The update's last word on a file that does not open.
    out.message = std::string("ERR: ") + errorMessages[kErrReadInput];
    return false;
  }
  if (file.Size() > kMaxFirmwareFileSize) {
    out.message = "the file is larger than any firmware file for this drive (" +
                  std::to_string(file.Size()) + " bytes)";
    return false;
  }
  // Read to its end, once. A file that grew or shrank while it was read is not the file that
  // was measured: it is refused as a failed read, as the run would refuse it.
  const bool read = ReadWhole(file, out.bytes) && out.bytes.size() == file.Size();
  file.Close();
  if (!read) {
    out.bytes.clear();
    out.message = std::string("ERR: ") + errorMessages[kErrReadInput];
    return false;
  }
  MemoryReader memory(out.bytes.data(), out.bytes.size());
  FirmwareImage image{};
  const LoadResult load =
      LoadFirmware(os, memory, isHexFile, AbortQuery{nullptr, NeverAborted}, image);
  if (load.result == kLoadOk) {
    out.imageSum = ImageSum(image);
    out.fileBytes = load.fileBytes;
    out.survivingBytes = load.survivingBytes;
    out.accepted = true;
  } else {
    out.message = MessageFor(load);
  }
  ReleaseImage(os, image);
  return out.accepted;
}
