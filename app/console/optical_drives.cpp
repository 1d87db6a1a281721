#include "app/console/optical_drives.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>

#include "app/console/terminal_text.h"
#include "app/update_dialog.h"
#include "drive/drive_records.h"
#include "drive/linux/sg_io_transport.h"

namespace {

using drive::kCdRomPeripheralByte;
using drive::kStandardInquiryLength;

constexpr uint32_t kInquiryLength = 96;
constexpr uint32_t kAlignmentMask = 2047;
constexpr uint32_t kInquiryTimeOutSeconds = 2;
constexpr uint32_t kRetryPauseMs = 500;

std::string Field(const uint8_t* bytes, size_t length) {
  return InquiryText(reinterpret_cast<const char*>(bytes), length);
}

// One INQUIRY on an open device (traced); true when it was delivered, answered GOOD and brought
// at least the 36 standard bytes (or the transport cannot tell): an answer that stops before the
// revision names no drive. A drive may answer with fewer bytes than asked for beyond those: the
// rest of the reply stays zero.
bool Inquiry(NumberedTransport& devices, platform::Handle handle, uint8_t reply[kInquiryLength]) {
  std::memset(reply, 0, kInquiryLength);
  static const uint8_t kCdb[6] = {0x12, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
  const DeviceAnswer answer =
      devices.Ask(handle, kCdb, sizeof kCdb, reply, kInquiryLength, kInquiryTimeOutSeconds);
  return answer.delivered && answer.status == 0 &&
         (answer.moved == kMovedUnknown || answer.moved >= kStandardInquiryLength);
}

void Describe(const uint8_t* reply, OpticalDrive& out) {
  out.answered = true;
  out.deviceType = reply[0] & 0x1F;
  out.vendor = Field(reply + 8, 8);
  out.product = Field(reply + 16, 16);
  out.revision = Field(reply + 32, 4);
  char identity[kModelLength + 1] = {};
  std::memcpy(identity, reply + 8, kModelLength);
  out.supported = reply[0] == kCdRomPeripheralByte && MatchesSupportedModel(identity);
}

}  // namespace

std::string InquiryText(const char* text, size_t length) {
  std::string out(text, strnlen(text, length));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  // What a drive says is shown on one line wherever it appears, however the line that shows it
  // treats line feeds of its own.
  return TerminalText(out);
}

std::string SrPath(int index) { return "/dev/sr" + std::to_string(index); }

int SrIndexOfPath(const std::string& path) {
  char resolved[PATH_MAX];
  const std::string name = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  uint32_t number = 0;
  if (name.compare(0, 5, "/dev/") != 0 || !drive::SrNumberOfName(name.substr(5), number) ||
      number > static_cast<uint32_t>(INT_MAX)) {
    return -1;
  }
  return static_cast<int>(number);
}

bool InquireDrive(NumberedTransport& devices, int index, OpticalDrive& out) {
  out = OpticalDrive();
  out.path = SrPath(index);
  const platform::Handle handle = devices.OpenNumbered(static_cast<uint32_t>(index));
  if (handle == platform::InvalidHandle()) return false;
  uint8_t reply[kInquiryLength];
  if (Inquiry(devices, handle, reply)) Describe(reply, out);
  devices.CloseNumbered(handle);
  return true;
}

std::vector<OpticalDrive> ListOpticalDrives(NumberedTransport& devices) {
  std::vector<OpticalDrive> drives;
  for (const uint32_t number : devices.DeviceNumbers()) {
    OpticalDrive drive;
    if (InquireDrive(devices, static_cast<int>(number), drive) && drive.answered &&
        drive.deviceType == kCdRomPeripheralByte) {
      drives.push_back(drive);
    }
  }
  return drives;
}

PathTransport::~PathTransport() {
  for (const auto& entry : paths_) devices_.CloseNumbered(entry.first);
}

// The devices of an earlier discovery stay open with the transport: records of it may still
// name them.
void PathTransport::Discover(DriveList& drives) {
  drives.count = 0;
  for (const uint32_t number : devices_.DeviceNumbers()) {
    const int index = static_cast<int>(number);
    if (onlyIndex_ >= 0 && index != onlyIndex_) continue;
    const platform::Handle handle = devices_.OpenNumbered(number);
    if (handle == platform::InvalidHandle()) continue;
    uint8_t reply[kInquiryLength];
    DriveRecord* record = nullptr;
    if (Inquiry(devices_, handle, reply) && reply[0] == kCdRomPeripheralByte &&
        (drives.count < kMaxDrives || MakeRoomFor(reply, drives))) {
      record = NewRecord();
    }
    if (record == nullptr) {
      devices_.CloseNumbered(handle);
      continue;
    }
    record->deviceHandle = handle;
    record->alignmentMask = kAlignmentMask;
    drive::SetIdentity(*record, reply);
    drive::Append(drives, record);
    paths_.emplace_back(handle, SrPath(index));
  }
}

// The list holds as many drives as the dialog shows. A supported drive found once it is full
// takes the place of the last drive of another model, so that --list and the update agree on
// which drives can be updated; the one it replaces is closed and forgotten.
bool PathTransport::MakeRoomFor(const uint8_t* reply, DriveList& drives) {
  char identity[kModelLength + 1] = {};
  std::memcpy(identity, reply + 8, kModelLength);
  if (!MatchesSupportedModel(identity)) return false;
  for (uint32_t i = drives.count; i-- > 0;) {
    if (MatchesSupportedModel(drives.records[i]->identity)) continue;
    const platform::Handle handle = drives.records[i]->deviceHandle;
    os().heapFree(drives.records[i]);
    for (uint32_t j = i + 1; j < drives.count; ++j) drives.records[j - 1] = drives.records[j];
    --drives.count;
    drives.records[drives.count] = nullptr;
    for (auto it = paths_.begin(); it != paths_.end(); ++it) {
      if (it->first == handle) {
        paths_.erase(it);
        break;
      }
    }
    devices_.CloseNumbered(handle);
    return true;
  }
  return false;
}

std::string PathTransport::PathOf(const DriveRecord& drive) const {
  for (const auto& entry : paths_) {
    if (entry.first == drive.deviceHandle) return entry.second;
  }
  return "";
}

ScsiOutcome PathTransport::Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) {
  // The numbered transport traces each command that reached it: this one adds no second line.
  sent = false;
  return devices_.Send(request, moved);
}

bool ReadRevision(platform::Os& os, DriveTransport& transport, const DriveRecord& drive,
                  int attempts, std::string& revision) {
  // The standard 36 bytes: the transport takes a shorter answer than asked for as a failure.
  static const uint8_t kCdb[6] = {0x12, 0x00, 0x00, 0x00, kStandardInquiryLength, 0x00};
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) os.sleepMs(kRetryPauseMs);
    uint8_t reply[kStandardInquiryLength] = {};
    uint8_t sense[kSenseAreaSize] = {};
    const ScsiRequest request =
        RequestFor(drive, kCdb, sizeof kCdb, kDataIn, reply, kStandardInquiryLength, sense);
    uint32_t moved = kMovedUnknown;
    if (transport.Send(request, moved) == ScsiOutcome::kGood &&
        (moved == kMovedUnknown || moved >= kStandardInquiryLength)) {
      revision = Field(reply + 32, 4);
      return true;
    }
  }
  return false;
}

bool FindDriveAgain(platform::Os& os, NumberedTransport& devices, int preferredIndex,
                    const std::string& vendor, const std::string& product, int attempts,
                    OpticalDrive& found) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) os.sleepMs(kRetryPauseMs);
    std::vector<int> order;
    if (preferredIndex >= 0) order.push_back(preferredIndex);
    for (const uint32_t number : devices.DeviceNumbers()) {
      if (static_cast<int>(number) != preferredIndex) order.push_back(static_cast<int>(number));
    }
    for (const int index : order) {
      OpticalDrive drive;
      if (InquireDrive(devices, index, drive) && drive.answered && drive.vendor == vendor &&
          drive.product == product) {
        found = drive;
        return true;
      }
    }
  }
  return false;
}

std::vector<std::string> UnopenableSrDevices(platform::Kernel& kernel) {
  std::vector<std::string> out;
  for (const uint32_t number : drive::ListedSrNumbers(kernel)) {
    const std::string path = SrPath(static_cast<int>(number));
    const int fd = kernel.openNode(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      kernel.closeNode(fd);
      continue;
    }
    const int error = errno;
    if (error == ENOENT) continue;  // listed, but no node for it
    out.push_back(path + ": " + std::strerror(error) +
                  (error == EACCES || error == EPERM
                       ? " (its group, often cdrom, or root may open it)"
                       : ""));
  }
  return out;
}
