// The drive model this program updates, described once: the dialog matches drives by its
// identity, the engine builds its image and download commands from it, and the simulated drive
// answers by it. A second model would be a second description: everything below that takes a
// model takes a `DriveModel`, and kSupportedDrive where its caller names none.
#pragma once

#include <cstddef>
#include <cstdint>

// Operation codes of the commands the update sends to the supported drive.
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpStartStopUnit = 0x1B;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpPrepareReadBack = 0xF1;  // the drive's own: boot data into the buffer

// The fixed length of every command block of the download protocol.
constexpr size_t kModelCdbLength = 12;

// The operation codes of the commands an update sends (the prepare command's is the first byte
// of its block).
struct DriveOpcodes {
  uint8_t requestSense;   // the progress poll
  uint8_t startStopUnit;  // the stop before the transfer
  uint8_t writeBuffer;    // block transfer (mode 2) and the commit (mode 1)
  uint8_t readBuffer;     // block read-back and boot data (mode 2)
};

struct DriveModel {
  char vendor[9];     // INQUIRY vendor identification, 8 characters
  char product[17];   // INQUIRY product identification, 16 characters
  char identity[25];  // vendor and product as one string: what the drive list shows and matches
  uint32_t imageSize;        // the firmware image, programmed from the buffer at imageAddress
  uint32_t bankSize;         // the image's storage slices: a power of two, 4 KiB to 32 KiB
  uint32_t bufferSize;       // the buffer memory that WRITE BUFFER and READ BUFFER reach
  uint32_t imageAddress;     // buffer address of the image's first byte
  uint32_t bootDataAddress;  // where the prepare command places the drive's own boot data
  uint32_t bootDataSize;     // and how much of it: image addresses 0 up to this size
  uint32_t sealWindowStart;  // the words the seal leaves out (the drive's own)
  uint32_t sealWindowLength;
  // Bytes 9, 10 and 11 of every buffer access and of a checked commit. Bit 0x80 on the first in
  // a commit: overwrite the boot code too; 00 00 in the other two: skip the seal check.
  uint8_t checkBytes[3];
  // The one command block that has the drive place its boot data at bootDataAddress.
  uint8_t prepareReadBack[kModelCdbLength];
  // Programming progress values (bytes programmed) that count as the end of programming.
  uint32_t endWindowFirst;
  uint32_t endWindowLast;
  DriveOpcodes opcodes;
};

// One object in the whole program (inline), so that a description is also known by its address.
inline constexpr DriveModel kSupportedDrive = {
    "KORVADSK",
    "RW/DVD KDR-7305C",
    "KORVADSKRW/DVD KDR-7305C",
    0x80000,   // imageSize
    0x8000,    // bankSize
    0x200000,  // bufferSize
    0x000000,  // imageAddress
    0x180000,  // bootDataAddress
    0x4000,    // bootDataSize
    0x3000,    // sealWindowStart
    0x1000,    // sealWindowLength
    {0x0A, 0x0B, 0x0C},
    {kOpPrepareReadBack, 0x01, 0x00, 0x00, 0x40, 0x7D, 0x00, 0x00, 0x00, 0x26, 0x00, 0x00},
    0x7E000,  // endWindowFirst
    0x80000,  // endWindowLast
    {kOpRequestSense, kOpStartStopUnit, kOpWriteBuffer, kOpReadBuffer}};

constexpr size_t kVendorLength = 8;
constexpr size_t kProductLength = 16;

// The identity is the vendor followed by the product, as INQUIRY reports them side by side.
constexpr bool IdentityIsVendorThenProduct(const DriveModel& model) {
  for (size_t i = 0; i < kVendorLength; ++i) {
    if (model.identity[i] != model.vendor[i]) return false;
  }
  for (size_t i = 0; i < kProductLength; ++i) {
    if (model.identity[kVendorLength + i] != model.product[i]) return false;
  }
  return model.identity[kVendorLength + kProductLength] == '\0';
}
static_assert(IdentityIsVendorThenProduct(kSupportedDrive), "identity must be vendor + product");

// The largest image a description may name: the engine keeps this many bank pointers.
constexpr uint32_t kMaxModelBankCount = 64;
// The transfer unit of the download protocol: every image and boot data size is a multiple.
constexpr uint32_t kModelBlockSize = 4096;

// Whether a description can be served: the image is whole banks (at most kMaxModelBankCount),
// the image and the boot data lie inside the buffer without overlapping, the boot data, the
// seal window and the seal's 8-byte trailer lie inside the image, and the end window ends
// within the image. The engine refuses to update, and the simulated drive to program, by a
// description that is not.
constexpr bool DriveModelIsUsable(const DriveModel& model) {
  const uint64_t image = model.imageSize;
  const uint64_t bank = model.bankSize;
  const bool bankOk = bank >= kModelBlockSize && bank <= 0x8000 && (bank & (bank - 1)) == 0;
  if (!bankOk || image == 0 || image % bank != 0 || image / bank > kMaxModelBankCount) {
    return false;
  }
  const uint64_t imageEnd = uint64_t{model.imageAddress} + image;
  const uint64_t bootEnd = uint64_t{model.bootDataAddress} + model.bootDataSize;
  const bool apart = bootEnd <= model.imageAddress || model.bootDataAddress >= imageEnd;
  return IdentityIsVendorThenProduct(model) && imageEnd <= model.bufferSize &&
         bootEnd <= model.bufferSize && apart && model.bootDataSize > 0 &&
         model.bootDataSize % kModelBlockSize == 0 && model.bootDataSize < image - 8 &&
         uint64_t{model.sealWindowStart} + model.sealWindowLength <= image - 8 &&
         model.endWindowFirst <= model.endWindowLast && model.endWindowLast <= image &&
         model.prepareReadBack[0] != 0;
}
static_assert(DriveModelIsUsable(kSupportedDrive), "the supported drive's description");
