#include "sumseal/seal.h"

#include <algorithm>
#include <array>

namespace sumseal {
namespace {

// Slice-by-8 tables for the most-significant-bit-first CRC: kTables[k][b] is the register after
// byte b followed by k zero bytes has been fed into a zero register. Built at compile time and
// only read afterwards, so simultaneous calls share nothing mutable.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t r = b << 24;
    for (int i = 0; i < 8; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
    t[0][b] = r;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      const uint32_t prev = t[k - 1][b];
      t[k][b] = (prev << 8) ^ t[0][prev >> 24];
    }
  }
  return t;
}

constexpr Tables kTables = MakeTables();

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Feeds the words at byte offsets [begin, end) (both multiples of 4) into the register.
uint32_t FeedWords(uint32_t reg, const uint8_t* image, uint32_t begin, uint32_t end) {
  const uint8_t* p = image + begin;
  uint32_t count = (end - begin) / 4;
  for (; count >= 2; count -= 2, p += 8) {
    const uint32_t x = reg ^ LoadBigEndian(p);
    reg = kTables[7][x >> 24] ^ kTables[6][(x >> 16) & 0xFF] ^ kTables[5][(x >> 8) & 0xFF] ^
          kTables[4][x & 0xFF] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
          kTables[0][p[7]];
  }
  if (count == 1) {
    const uint32_t x = reg ^ LoadBigEndian(p);
    reg = kTables[3][x >> 24] ^ kTables[2][(x >> 16) & 0xFF] ^ kTables[1][(x >> 8) & 0xFF] ^
          kTables[0][x & 0xFF];
  }
  return reg;
}

// The first word offset at or above x (offsets are multiples of 4), without overflow.
inline uint64_t WordOffsetAtOrAbove(uint64_t x) { return (x + 3) & ~uint64_t{3}; }

}  // namespace

uint32_t SealStep(uint32_t x) {
  // Feeding x's four bytes into a zero register is the same linear map as 32 shifts of x.
  return kTables[3][x >> 24] ^ kTables[2][(x >> 16) & 0xFF] ^ kTables[1][(x >> 8) & 0xFF] ^
         kTables[0][x & 0xFF];
}

uint32_t ComputeImageSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                          uint32_t windowLength) {
  const uint32_t coveredEnd = length - 8;  // words start below this offset
  const uint32_t windowEnd = windowStart + windowLength;  // wraps like the 32-bit sum it is
  uint32_t reg = kInitialRegister;

  // A word at offset o is covered when o < windowStart or o >= windowEnd. When the (wrapped)
  // end is not above the start, every offset satisfies one of the two.
  if (windowEnd <= windowStart) return FeedWords(reg, image, 0, coveredEnd);

  const uint64_t firstRunEnd = std::min<uint64_t>(WordOffsetAtOrAbove(windowStart), coveredEnd);
  reg = FeedWords(reg, image, 0, static_cast<uint32_t>(firstRunEnd));
  const uint64_t secondRunStart = WordOffsetAtOrAbove(windowEnd);
  if (secondRunStart < coveredEnd) {
    reg = FeedWords(reg, image, static_cast<uint32_t>(secondRunStart), coveredEnd);
  }
  return reg;
}

}  // namespace sumseal
