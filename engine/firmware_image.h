// The firmware image that a load fills and the run sends, and its storage. Its size and banks
// follow the drive model it is obtained for (kSupportedDrive: 512 KiB in 16 banks of 32 KiB).
#pragma once

#include <cstdint>

#include "drive/supported_model.h"
#include "platform/os.h"

// The image as banks of the model's bank size, consecutive slices of one storage block;
// `bankIndex` and `bankOffset` are the cursor of the loaders and of the transfer. Bank pointers
// past the model's bank count stay null.
struct FirmwareImage {
  uint8_t* banks[kMaxModelBankCount];
  uint32_t length;
  uint8_t bankIndex;
  uint16_t bankOffset;
  const DriveModel* model;  // what the storage was obtained for; null until then
  uint8_t bankShift;        // log2 of the model's bank size
};

// The supported drive's image.
constexpr uint32_t kImageSize = kSupportedDrive.imageSize;
constexpr uint32_t kBankSize = kSupportedDrive.bankSize;
constexpr uint32_t kBankCount = kImageSize / kBankSize;
constexpr uint32_t kBlockSize = kModelBlockSize;
// The seal's trailer: the image's last 8 bytes, which the seal writes.
constexpr uint32_t kSealTrailerSize = 8;

// Whether an image byte at `address` reaches the drive as the file set it: the drive's own boot
// data replaces the first bytes, and the seal its window and the trailer.
constexpr bool SurvivesFinishing(uint32_t address, const DriveModel& model = kSupportedDrive) {
  return address >= model.bootDataSize && address < model.imageSize - kSealTrailerSize &&
         address - model.sealWindowStart >= model.sealWindowLength;
}

// Obtains the image storage for `model` from `os`, fills it with 0x00 and points the model's
// banks at its slices. False when no storage could be obtained, or the description is not
// usable (the banks stay null).
bool ObtainImage(platform::Os& os, FirmwareImage& image, const DriveModel& model = kSupportedDrive);
// Releases the storage if it is held; all bank pointers become null.
void ReleaseImage(platform::Os& os, FirmwareImage& image);
// The sum of all image bytes modulo 65536.
uint16_t ImageSum(const FirmwareImage& image);
// The image byte at `address` (below the model's image size).
inline uint8_t& ImageByte(const FirmwareImage& image, uint32_t address) {
  return image.banks[address >> image.bankShift][address & (image.model->bankSize - 1)];
}
