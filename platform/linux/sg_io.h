// The Linux stand-in for the SCSI port driver's pass-through: drive letters name /dev/sr*
// devices, and a pass-through request becomes one SG_IO request on the open device.
#pragma once

#include <cstdint>

#include "platform/nt_scsi.h"
#include "platform/platform.h"

namespace platform {
namespace linux_sg {

// The index N of /dev/srN that a drive-letter device path ("\\.\c:" .. "\\.\z:", the letter in
// either case) stands for: c is 0, z is 23. -1 for any other path.
int DriveLetterToSrIndex(const char* path);

// The index N of a "/dev/srN" path (N of one or two digits); -1 for any other path.
int SrPathToIndex(const char* path);

// The kernel's open(2) and ioctl(2) for device nodes, as the bound table's openNode and
// ioctlNode entries.
int SystemOpen(const char* path, int flags);
int SystemIoctl(int fd, unsigned long request, void* arg);

// What became of one request handed to SG_IO.
enum class Delivery {
  kDelivered,  // the device answered: ScsiStatus holds its status
  kHostError,  // the host adapter or the driver reported an error
  kOsError,    // the ioctl itself failed
  kMalformed,  // the block is malformed: nothing was sent
};

// Carries one IOCTL_SCSI_PASS_THROUGH_DIRECT request (the block in `out`, outSize bytes, the
// sense buffer at its SenseInfoOffset) to the device as exactly one SG_IO (through the bound
// table's ioctlNode).
// Returns true when SG_IO delivered the command (ScsiStatus then holds the SCSI status, the
// sense buffer what the device reported, and DataTransferLength the bytes moved: the length
// asked for less SG_IO's residual count); false when the ioctl failed, the host or driver reported
// a transport error, or the block is malformed (nothing sent then).
bool PassThrough(int fd, void* in, uint32_t inSize, void* out, uint32_t outSize);
// The same request, with what became of it.
Delivery Deliver(int fd, void* in, uint32_t inSize, void* out, uint32_t outSize);
// Deliver on a device handle that the Linux binding's openDevice returned; kOsError for any
// other handle.
Delivery DeliverOn(Handle device, void* in, uint32_t inSize, void* out, uint32_t outSize);

}  // namespace linux_sg
}  // namespace platform
