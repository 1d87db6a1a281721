#include "app/console/optical_drives.h"

#include <limits.h>
#include <stdlib.h>

#include <cstring>

#include "app/update_dialog.h"
#include "drive/command_trace.h"
#include "drive/pass_through_request.h"
#include "platform/nt_scsi.h"

namespace {

constexpr uint32_t kInquiryLength = 96;
constexpr uint32_t kStandardInquiryLength = 36;
constexpr uint8_t kCdRomPeripheralByte = 5;
constexpr uint32_t kAlignmentMask = 2047;
constexpr uint32_t kInquiryTimeOutSeconds = 2;
constexpr uint32_t kRetryPauseMs = 500;

std::string Field(const uint8_t* bytes, size_t length) {
  std::string text(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), length));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The seam's name for /dev/srN: drive letter c + N.
std::string LetterPath(int index) {
  std::string path = "\\\\.\\?:";
  path[4] = static_cast<char>('c' + index);
  return path;
}

// One INQUIRY on an open device; true when it was delivered and answered GOOD.
bool Inquiry(platform::Handle handle, uint8_t reply[kInquiryLength]) {
  std::memset(reply, 0, kInquiryLength);
  static const uint8_t kCdb[6] = {0x12, 0x00, 0x00, 0x00, kInquiryLength, 0x00};
  PassThroughBlock block;
  drive::FillPassThroughBlock(block, {0, 0, kCdb, sizeof kCdb, SCSI_IOCTL_DATA_IN, kInquiryLength,
                                      reply, kInquiryTimeOutSeconds});
  uint32_t returned = 0;
  const bool delivered = platform::os().deviceControl(
      handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block, sizeof block, &returned);
  const bool good = delivered && block.sptd.ScsiStatus == 0;
  drive::TraceCommand(kCdb, sizeof kCdb, SRB_DIR_IN, kInquiryLength, good, block.sense);
  return good;
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

std::string SrPath(int index) { return "/dev/sr" + std::to_string(index); }

int SrIndexOfPath(const std::string& path) {
  char resolved[PATH_MAX];
  const std::string name = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  if (name.compare(0, 7, "/dev/sr") != 0 || name.size() < 8 || name.size() > 9) return -1;
  int index = 0;
  for (size_t i = 7; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    index = index * 10 + (name[i] - '0');
  }
  if (name.size() == 9 && name[7] == '0') return -1;  // sr01 is not sr1
  return index < kMaxSrDevices ? index : -1;
}

bool InquireDrive(int index, OpticalDrive& out) {
  out = OpticalDrive();
  out.path = SrPath(index);
  const platform::Handle handle = platform::os().openDevice(LetterPath(index).c_str());
  if (handle == platform::InvalidHandle()) return false;
  uint8_t reply[kInquiryLength];
  if (Inquiry(handle, reply)) Describe(reply, out);
  platform::os().closeHandle(handle);
  return true;
}

std::vector<OpticalDrive> ListOpticalDrives() {
  std::vector<OpticalDrive> drives;
  for (int index = 0; index < kMaxSrDevices; ++index) {
    OpticalDrive drive;
    if (InquireDrive(index, drive) && drive.answered && drive.deviceType == kCdRomPeripheralByte) {
      drives.push_back(drive);
    }
  }
  return drives;
}

void PathTransport::Discover(DriveList& drives) {
  drives.count = 0;
  paths_.clear();
  for (int index = 0; index < kMaxSrDevices && drives.count < kMaxDrives; ++index) {
    if (onlyIndex_ >= 0 && index != onlyIndex_) continue;
    const platform::Handle handle = platform::os().openDevice(LetterPath(index).c_str());
    if (handle == platform::InvalidHandle()) continue;
    uint8_t reply[kInquiryLength];
    DriveRecord* record = nullptr;
    if (Inquiry(handle, reply) && reply[0] == kCdRomPeripheralByte) {
      record = static_cast<DriveRecord*>(platform::os().heapAlloc(sizeof(DriveRecord)));
    }
    if (record == nullptr) {
      platform::os().closeHandle(handle);
      continue;
    }
    std::memset(record, 0, sizeof *record);
    record->deviceHandle = handle;
    record->alignmentMask = kAlignmentMask;
    std::memcpy(record->identity, reply + 8, kModelLength);
    std::memcpy(record->revision, reply + 32, 4);
    drives.records[drives.count++] = record;
    paths_.emplace_back(handle, SrPath(index));
  }
}

std::string PathTransport::PathOf(const DriveRecord& drive) const {
  for (const auto& entry : paths_) {
    if (entry.first == drive.deviceHandle) return entry.second;
  }
  return "";
}

ScsiOutcome PathTransport::Carry(const ScsiRequest& request, bool& sent) {
  // The inner transport traces each command that reached it: this one adds no second line.
  sent = false;
  return inner_->Send(request);
}

bool ReadRevision(DriveTransport& transport, const DriveRecord& drive, int attempts,
                  std::string& revision) {
  // The standard 36 bytes: the transport takes a shorter answer than asked for as a failure.
  static const uint8_t kCdb[6] = {0x12, 0x00, 0x00, 0x00, kStandardInquiryLength, 0x00};
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) platform::os().sleepMs(kRetryPauseMs);
    uint8_t reply[kStandardInquiryLength] = {};
    uint8_t sense[kSenseAreaSize] = {};
    ScsiRequest request{};
    request.drive = &drive;
    request.direction = SRB_DIR_IN;
    request.dataLength = kStandardInquiryLength;
    request.data = reply;
    request.cdbLength = sizeof kCdb;
    request.cdb = kCdb;
    request.useNtPassThrough = 1;
    request.senseArea = sense;
    if (transport.Send(request) == ScsiOutcome::kGood) {
      revision = Field(reply + 32, 4);
      return true;
    }
  }
  return false;
}
