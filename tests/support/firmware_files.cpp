#include "tests/support/firmware_files.h"

#include <algorithm>

#include "sumseal/seal.h"

namespace enginetest {

std::vector<uint8_t> PatternImage(uint32_t seed) {
  std::vector<uint8_t> image(0x80000);
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return image;
}

std::vector<uint8_t> FinishedImage(std::vector<uint8_t> image,
                                   const std::vector<uint8_t>& bootData) {
  std::copy(bootData.begin(), bootData.end(), image.begin());
  const uint32_t seal =
      sumseal::ComputeImageSeal(image.data(), static_cast<uint32_t>(image.size()), 0x3000, 0x1000);
  const uint8_t trailer[8] = {uint8_t(seal >> 24), uint8_t(seal >> 16), uint8_t(seal >> 8),
                              uint8_t(seal), 0xFF, 0xFF, 0xFF, 0xFF};
  std::copy(trailer, trailer + 8, image.end() - 8);
  return image;
}

std::string TextRecordsFor(const std::vector<uint8_t>& image) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(image.size() / 16 * 45 + 64);
  const auto put = [&out](uint8_t b, uint8_t& sum) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
    sum = static_cast<uint8_t>(sum + b);
  };
  for (size_t a = 0; a < image.size(); a += 16) {
    if (a != 0 && a % 0x10000 == 0) out += ":00000055AB\r\n";
    const size_t n = image.size() - a < 16 ? image.size() - a : 16;
    uint8_t sum = 0;
    out += ':';
    put(static_cast<uint8_t>(n), sum);
    put(static_cast<uint8_t>(a >> 8), sum);
    put(static_cast<uint8_t>(a), sum);
    put(0x00, sum);
    for (size_t i = 0; i < n; ++i) put(image[a + i], sum);
    uint8_t ignored = 0;
    put(static_cast<uint8_t>(0x100 - sum), ignored);
    out += "\r\n";
  }
  out += ":00000001FF\r\n";
  return out;
}

}  // namespace enginetest
