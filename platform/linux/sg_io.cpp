#include "platform/linux/sg_io.h"

#include <scsi/sg.h>
#include <fcntl.h>
#include <sys/ioctl.h>

#include <cstring>

namespace platform {
namespace linux_sg {
namespace {

constexpr unsigned kDriverSense = 0x08;  // DRIVER_SENSE: sense data came back, not an error

}  // namespace

int SystemIoctl(int fd, unsigned long request, void* arg) { return ioctl(fd, request, arg); }

int SystemOpen(const char* path, int flags) { return open(path, flags); }

int DriveLetterToSrIndex(const char* path) {
  if (path == nullptr) return -1;
  if (std::strncmp(path, "\\\\.\\", 4) != 0) return -1;
  const char letter = path[4];
  if (path[5] != ':' || path[6] != '\0') return -1;
  const char lower = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
  if (lower < 'c' || lower > 'z') return -1;
  return lower - 'c';
}

int SrPathToIndex(const char* path) {
  if (path == nullptr || std::strncmp(path, "/dev/sr", 7) != 0) return -1;
  const char* digits = path + 7;
  const size_t count = std::strlen(digits);
  if (count == 0 || count > 2) return -1;
  int index = 0;
  for (size_t i = 0; i < count; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    index = index * 10 + (digits[i] - '0');
  }
  return index;
}

bool PassThrough(int fd, void* in, uint32_t inSize, void* out, uint32_t outSize) {
  return Deliver(fd, in, inSize, out, outSize) == Delivery::kDelivered;
}

Delivery Deliver(int fd, void* in, uint32_t inSize, void* out, uint32_t outSize) {
  if (in == nullptr || out == nullptr || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
      outSize < sizeof(SCSI_PASS_THROUGH_DIRECT)) {
    return Delivery::kMalformed;
  }
  auto* request = static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
  if (request->CdbLength == 0 || request->CdbLength > sizeof(request->Cdb)) {
    return Delivery::kMalformed;
  }
  // The sense buffer must lie inside the output block, after the request itself.
  uint8_t* sense = nullptr;
  if (request->SenseInfoLength > 0) {
    const uint64_t end = uint64_t{request->SenseInfoOffset} + request->SenseInfoLength;
    if (request->SenseInfoOffset < sizeof(SCSI_PASS_THROUGH_DIRECT) || end > outSize) {
      return Delivery::kMalformed;
    }
    sense = static_cast<uint8_t*>(out) + request->SenseInfoOffset;
  }

  sg_io_hdr_t hdr;
  std::memset(&hdr, 0, sizeof(hdr));
  hdr.interface_id = 'S';
  hdr.cmd_len = request->CdbLength;
  hdr.cmdp = request->Cdb;
  hdr.dxfer_len = request->DataTransferLength;
  hdr.dxferp = request->DataBuffer;
  if (request->DataTransferLength == 0) {
    hdr.dxfer_direction = SG_DXFER_NONE;
  } else if (request->DataIn == SCSI_IOCTL_DATA_IN) {
    hdr.dxfer_direction = SG_DXFER_FROM_DEV;
  } else {
    hdr.dxfer_direction = SG_DXFER_TO_DEV;
  }
  hdr.sbp = sense;
  hdr.mx_sb_len = sense != nullptr ? request->SenseInfoLength : 0;
  const uint64_t timeoutMs = uint64_t{request->TimeOutValue} * 1000u;
  hdr.timeout = timeoutMs > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(timeoutMs);

  if (os().ioctlNode(fd, SG_IO, &hdr) < 0) return Delivery::kOsError;
  if (hdr.host_status != 0) return Delivery::kHostError;
  if (hdr.driver_status != 0 && hdr.driver_status != kDriverSense) return Delivery::kHostError;

  auto* reply = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
  if (reply != request) std::memcpy(reply, request, sizeof(SCSI_PASS_THROUGH_DIRECT));
  reply->ScsiStatus = hdr.status;
  // As the NT port driver does, DataTransferLength comes back as the bytes actually moved: the
  // residual count says how many of those asked for did not arrive (or were not taken).
  const uint32_t residual = hdr.resid > 0 ? static_cast<uint32_t>(hdr.resid) : 0u;
  reply->DataTransferLength =
      request->DataTransferLength - (residual < request->DataTransferLength ? residual
                                                                            : request->DataTransferLength);
  return Delivery::kDelivered;
}

}  // namespace linux_sg
}  // namespace platform
