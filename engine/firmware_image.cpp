#include "engine/firmware_image.h"

#include <cstring>


bool ObtainImage(platform::Os& os, FirmwareImage& image, const DriveModel& model) {
  if (!DriveModelIsUsable(model)) return false;
  auto* storage = static_cast<uint8_t*>(os.allocImage(model.imageSize));
  if (storage == nullptr) return false;
  image.model = &model;
  image.bankShift = 0;
  while ((uint32_t{1} << image.bankShift) < model.bankSize) ++image.bankShift;
  const uint32_t bankCount = model.imageSize / model.bankSize;
  for (uint32_t i = 0; i < kMaxModelBankCount; ++i) {
    image.banks[i] = i < bankCount ? storage + i * model.bankSize : nullptr;
  }
  std::memset(storage, 0x00, model.imageSize);
  return true;
}

void ReleaseImage(platform::Os& os, FirmwareImage& image) {
  if (image.banks[0] == nullptr) return;
  os.freeImage(image.banks[0]);
  for (auto& bank : image.banks) bank = nullptr;
}

uint16_t ImageSum(const FirmwareImage& image) {
  // The banks are consecutive slices of one block.
  uint16_t sum = 0;
  const uint8_t* bytes = image.banks[0];
  for (uint32_t a = 0; a < image.model->imageSize; ++a) sum = static_cast<uint16_t>(sum + bytes[a]);
  return sum;
}
