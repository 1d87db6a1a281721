#include "drive/linux/sg_io_transport.h"

#include <fcntl.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace drive {
namespace {

// A command that names no time-out of its own.
constexpr uint32_t kDefaultTimeOutSeconds = 60;
// DRIVER_SENSE: the driver's note that sense data came back, not an error of its own.
constexpr unsigned kDriverSense = 0x08;

unsigned TimeOutMs(uint32_t seconds) {
  const uint64_t ms = uint64_t{seconds} * 1000u;
  return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(ms);
}

}  // namespace

bool SrNumberOfName(const std::string& name, uint32_t& number) {
  if (name.size() < 3 || name.compare(0, 2, "sr") != 0 || name.size() > 2 + 9) return false;
  const std::string digits = name.substr(2);
  if (digits.size() > 1 && digits[0] == '0') return false;
  uint32_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  number = value;
  return true;
}

SgIoTransport::~SgIoTransport() {
  for (const auto& entry : open_) kernel_.closeNode(entry.second);
}

std::vector<uint32_t> ListedSrNumbers(platform::Kernel& kernel) {
  std::vector<std::string> names;
  std::vector<uint32_t> numbers;
  if (!kernel.listDirectory("/sys/class/block", names)) return numbers;
  for (const std::string& name : names) {
    uint32_t number = 0;
    if (SrNumberOfName(name, number)) numbers.push_back(number);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

platform::Handle SgIoTransport::OpenNumbered(uint32_t number) {
  const std::string node = "/dev/sr" + std::to_string(number);
  int fd = kernel_.openNode(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  // A user who may only read the drive can still ask it INQUIRY (listing the drives); the
  // kernel lets only writers, or CAP_SYS_RAWIO, send the update's commands.
  if (fd < 0 && errno == EACCES) {
    fd = kernel_.openNode(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  if (fd < 0) return platform::InvalidHandle();
  std::lock_guard<std::mutex> lock(mutex_);
  const platform::Handle handle = reinterpret_cast<platform::Handle>(nextHandle_);
  nextHandle_ += 0x10;
  open_[handle] = fd;
  return handle;
}

void SgIoTransport::CloseNumbered(platform::Handle device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(device);
  if (it == open_.end()) return;
  kernel_.closeNode(it->second);
  open_.erase(it);
}

int SgIoTransport::DescriptorOf(platform::Handle device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = open_.find(device);
  return it == open_.end() ? -1 : it->second;
}

// One sg_io_hdr from the command, as the sg driver takes it; the answer sorted the way the
// drive layer reports it: the ioctl failed (kOsError); the host adapter or the driver reported
// an error of its own (kHostError); otherwise the device answered, with its status and the
// bytes moved (the length asked for less the residual).
SgIoTransport::SgResult SgIoTransport::Execute(int fd, const uint8_t* cdb, uint8_t cdbLength,
                                               uint8_t direction, uint8_t* data, uint32_t length,
                                               uint32_t timeOutSeconds, uint8_t* sense) {
  std::memset(sense, 0, kSenseAreaSize);
  uint8_t command[kMaxCdbLength];
  std::memcpy(command, cdb, cdbLength);
  sg_io_hdr_t hdr;
  std::memset(&hdr, 0, sizeof(hdr));
  hdr.interface_id = 'S';
  hdr.cmd_len = cdbLength;
  hdr.cmdp = command;
  hdr.dxfer_len = length;
  hdr.dxferp = data;
  // No data phase is none; otherwise in or out as asked, and a data phase without a direction
  // goes out.
  hdr.dxfer_direction = length == 0                  ? SG_DXFER_NONE
                        : (direction & kDataIn) &&
                                  !(direction & kDataOut) ? SG_DXFER_FROM_DEV
                                                             : SG_DXFER_TO_DEV;
  hdr.sbp = sense;
  hdr.mx_sb_len = kSenseAreaSize;
  hdr.timeout = TimeOutMs(timeOutSeconds);

  if (kernel_.ioctlNode(fd, SG_IO, &hdr) < 0) return {ScsiOutcome::kOsError, 0, 0};
  if (hdr.host_status != 0) return {ScsiOutcome::kHostError, 0, 0};
  if (hdr.driver_status != 0 && hdr.driver_status != kDriverSense) {
    return {ScsiOutcome::kHostError, 0, 0};
  }
  const uint32_t residual = hdr.resid > 0 ? static_cast<uint32_t>(hdr.resid) : 0u;
  return {ScsiOutcome::kGood, hdr.status, length - std::min(residual, length)};
}

ScsiOutcome SgIoTransport::Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) {
  const int fd = DescriptorOf(request.drive->deviceHandle);
  const uint32_t length = request.dataLength;
  void* staging = os().allocBuffer(length == 0 ? 1 : length);
  if (staging == nullptr) return ScsiOutcome::kNotSent;
  if (length > 0) std::memcpy(staging, request.data, length);
  sent = true;

  uint8_t sense[kSenseAreaSize];
  const uint32_t timeOut =
      request.timeOutSeconds != 0 ? request.timeOutSeconds : kDefaultTimeOutSeconds;
  SgResult result{ScsiOutcome::kOsError, 0, 0};
  std::memset(sense, 0, sizeof sense);
  if (fd >= 0) {
    result = Execute(fd, request.cdb, request.cdbLength, request.direction,
                     static_cast<uint8_t*>(staging), length, timeOut, sense);
  }
  ScsiOutcome outcome = result.outcome;
  if (outcome == ScsiOutcome::kGood) outcome = OutcomeOfStatus(result.status);
  if (outcome == ScsiOutcome::kGood) {
    const bool readsData = (request.direction & kDataIn) && !(request.direction & kDataOut);
    if (readsData && length > 0) std::memcpy(request.data, staging, length);
    moved = result.moved;
  } else {
    std::memcpy(request.senseArea, sense, kSenseAreaSize);
  }
  os().freeBuffer(staging);
  return outcome;
}

DeviceAnswer SgIoTransport::AskDevice(platform::Handle device, const uint8_t* cdb,
                                      uint8_t cdbLength, uint8_t* reply, uint32_t replyLength,
                                      uint32_t timeOutSeconds) {
  DeviceAnswer answer{};
  const int fd = DescriptorOf(device);
  if (fd < 0) return answer;
  const SgResult result =
      Execute(fd, cdb, cdbLength, kDataIn, reply, replyLength, timeOutSeconds, answer.sense);
  answer.delivered = result.outcome == ScsiOutcome::kGood;
  answer.status = result.status;
  answer.moved = answer.delivered ? result.moved : 0;
  if (!answer.delivered || answer.status == kScsiStatusGood) {
    std::memset(answer.sense, 0, sizeof answer.sense);
  }
  return answer;
}

}  // namespace drive
