// The Linux stand-in for the SCSI port driver's pass-through: drive letters name /dev/sr*
// devices, and a pass-through request becomes one SG_IO request on the open device.
#pragma once

#include <cstdint>

#include "platform/nt_scsi.h"

namespace platform {
namespace linux_sg {

// The index N of /dev/srN that a drive-letter device path ("\\.\c:" .. "\\.\z:", the letter in
// either case) stands for: c is 0, z is 23. -1 for any other path.
int DriveLetterToSrIndex(const char* path);

// The ioctl that carries SG_IO. Tests put a recorder in its place; nullptr restores ioctl(2).
using IoctlFn = int (*)(int fd, unsigned long request, void* arg);
void SetIoctl(IoctlFn fn);

// Carries one IOCTL_SCSI_PASS_THROUGH_DIRECT request (the block in `out`, outSize bytes, the
// sense buffer at its SenseInfoOffset) to the device as exactly one SG_IO.
// Returns true when SG_IO delivered the command (ScsiStatus then holds the SCSI status, the
// sense buffer what the device reported, and DataTransferLength the bytes moved: the length
// asked for less SG_IO's residual count); false when the ioctl failed, the host or driver reported
// a transport error, or the block is malformed (nothing sent then).
bool PassThrough(int fd, void* in, uint32_t inSize, void* out, uint32_t outSize);

}  // namespace linux_sg
}  // namespace platform
