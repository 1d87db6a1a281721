// The drive model this program updates, described once: the dialog matches drives by its
// identity, the engine builds its image and download commands from it, and the simulated drive
// answers by it. A second model would be a second description.
#pragma once

#include <cstddef>
#include <cstdint>

// Operation codes of the commands the update sends.
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpStartStopUnit = 0x1B;
constexpr uint8_t kOpWriteBuffer = 0x3B;
constexpr uint8_t kOpReadBuffer = 0x3C;
constexpr uint8_t kOpPrepareReadBack = 0xF1;  // the drive's own: boot data into the buffer

struct DriveModel {
  char vendor[9];     // INQUIRY vendor identification, 8 characters
  char product[17];   // INQUIRY product identification, 16 characters
  char identity[25];  // vendor and product as one string: what the drive list shows and matches
  uint32_t imageSize;        // the firmware image, programmed from buffer address 0
  uint32_t bufferSize;       // the buffer memory that WRITE BUFFER and READ BUFFER reach
  uint32_t bootDataAddress;  // where the prepare command places the drive's own boot data
  uint32_t bootDataSize;     // and how much of it: image addresses 0 up to this size
  uint32_t sealWindowStart;  // the words the seal leaves out (the drive's own)
  uint32_t sealWindowLength;
  // Bytes 9, 10 and 11 of every buffer access and of a checked commit. Bit 0x80 on the first in
  // a commit: overwrite the boot code too; 00 00 in the other two: skip the seal check.
  uint8_t checkBytes[3];
};

constexpr DriveModel kSupportedDrive = {
    "KORVADSK", "RW/DVD KDR-7305C", "KORVADSKRW/DVD KDR-7305C",
    0x80000, 0x200000, 0x180000, 0x4000, 0x3000, 0x1000, {0x0A, 0x0B, 0x0C}};

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
