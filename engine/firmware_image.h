// The 512 KiB firmware image that a load fills and the run sends, and its storage.
#pragma once

#include <cstdint>

#include "drive/supported_model.h"
#include "platform/os.h"

// The image as 16 banks of 32 KiB, consecutive slices of one storage block; `bankIndex` and
// `bankOffset` are the cursor of the loaders and of the transfer.
struct FirmwareImage {
  uint8_t* banks[16];
  uint32_t length;
  uint8_t bankIndex;
  uint16_t bankOffset;
};

constexpr uint32_t kImageSize = kSupportedDrive.imageSize;
constexpr uint32_t kBankSize = 0x8000;
constexpr uint32_t kBankCount = 16;
constexpr uint32_t kBlockSize = 4096;
// The seal's trailer: the image's last 8 bytes, which the seal writes.
constexpr uint32_t kSealTrailerSize = 8;

// Whether an image byte at `address` reaches the drive as the file set it: the drive's own boot
// data replaces the first bytes, and the seal its window and the trailer.
constexpr bool SurvivesFinishing(uint32_t address) {
  return address >= kSupportedDrive.bootDataSize && address < kImageSize - kSealTrailerSize &&
         address - kSupportedDrive.sealWindowStart >= kSupportedDrive.sealWindowLength;
}

// Obtains the image storage through the platform seam, fills it with 0x00 and points the 16
// banks at its slices. False when no storage could be obtained (the banks stay null).
bool ObtainImage(platform::Os& os, FirmwareImage& image);
// Releases the storage if it is held; all 16 bank pointers become null.
void ReleaseImage(platform::Os& os, FirmwareImage& image);
// The sum of all image bytes modulo 65536.
uint16_t ImageSum(const FirmwareImage& image);
