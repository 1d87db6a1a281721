#include "engine/firmware_image.h"

#include <cstring>


bool ObtainImage(platform::Os& os, FirmwareImage& image) {
  auto* storage = static_cast<uint8_t*>(os.allocImage(kImageSize));
  if (storage == nullptr) return false;
  for (uint32_t i = 0; i < kBankCount; ++i) {
    image.banks[i] = storage + i * kBankSize;
    std::memset(image.banks[i], 0x00, kBankSize);
  }
  return true;
}

void ReleaseImage(platform::Os& os, FirmwareImage& image) {
  if (image.banks[0] == nullptr) return;
  os.freeImage(image.banks[0]);
  for (auto& bank : image.banks) bank = nullptr;
}

uint16_t ImageSum(const FirmwareImage& image) {
  uint16_t sum = 0;
  for (uint32_t a = 0; a < kImageSize; ++a) {
    sum = static_cast<uint16_t>(sum + image.banks[a >> 15][a & 0x7FFF]);
  }
  return sum;
}
