#include "sumseal/seal.h"

#include <algorithm>
#include <array>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SUMSEAL_HAVE_CLMUL 1
#endif

namespace sumseal {
namespace {

// Slice-by-16 tables for the most-significant-bit-first CRC: kTables[k][b] is the register after
// byte b followed by k zero bytes has been fed into a zero register. Built at compile time and
// only read afterwards, so simultaneous calls share nothing mutable.
constexpr int kSlices = 16;
using Tables = std::array<std::array<uint32_t, 256>, kSlices>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t r = b << 24;
    for (int i = 0; i < 8; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
    t[0][b] = r;
  }
  for (int k = 1; k < kSlices; ++k) {
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

// Feeds `count` words starting at p into the register with the tables.
uint32_t FeedWordsByTable(uint32_t reg, const uint8_t* p, uint32_t count) {
  // Four words at a time: the register meets the first word, the other twelve bytes are looked
  // up on their own, and all sixteen lookups are independent of each other.
  for (; count >= 4; count -= 4, p += 16) {
    const uint32_t x = reg ^ LoadBigEndian(p);
    reg = kTables[15][x >> 24] ^ kTables[14][(x >> 16) & 0xFF] ^ kTables[13][(x >> 8) & 0xFF] ^
          kTables[12][x & 0xFF] ^ kTables[11][p[4]] ^ kTables[10][p[5]] ^ kTables[9][p[6]] ^
          kTables[8][p[7]] ^ kTables[7][p[8]] ^ kTables[6][p[9]] ^ kTables[5][p[10]] ^
          kTables[4][p[11]] ^ kTables[3][p[12]] ^ kTables[2][p[13]] ^ kTables[1][p[14]] ^
          kTables[0][p[15]];
  }
  for (; count > 0; --count, p += 4) {
    const uint32_t x = reg ^ LoadBigEndian(p);
    reg = kTables[3][x >> 24] ^ kTables[2][(x >> 16) & 0xFF] ^ kTables[1][(x >> 8) & 0xFF] ^
          kTables[0][x & 0xFF];
  }
  return reg;
}

#if defined(SUMSEAL_HAVE_CLMUL)
// x^n modulo the generator, as the 32 low coefficients.
constexpr uint32_t PowerOfXMod(int n) {
  uint32_t r = 1;
  for (int i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
  return r;
}

// Carry-less multiply folding, 16 bytes a step. The 128-bit accumulator A stands for the message
// so far: appending the next block B gives A * x^128 + B, and A * x^128 is congruent to
// A_high * (x^192 mod P) + A_low * (x^128 mod P), a value of at most 95 bits. At the end the
// accumulator's own 16 bytes, fed to the tables from a zero register, give the CRC register.
__attribute__((target("pclmul,ssse3"))) inline __m128i LoadReversed(const uint8_t* at,
                                                                      __m128i reverse) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), reverse);
}

__attribute__((target("pclmul,ssse3"))) uint32_t FeedWordsByFolding(uint32_t reg, const uint8_t* p,
                                                                     uint32_t count) {
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i constants = _mm_set_epi64x(static_cast<int64_t>(PowerOfXMod(192)),
                                           static_cast<int64_t>(PowerOfXMod(128)));
  __m128i acc = _mm_xor_si128(LoadReversed(p, reverse), _mm_set_epi32(static_cast<int>(reg), 0, 0, 0));
  uint32_t blocks = count / 4;
  p += 16;
  for (uint32_t i = 1; i < blocks; ++i, p += 16) {
    const __m128i high = _mm_clmulepi64_si128(acc, constants, 0x11);
    const __m128i low = _mm_clmulepi64_si128(acc, constants, 0x00);
    acc = _mm_xor_si128(_mm_xor_si128(high, low), LoadReversed(p, reverse));
  }
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(acc, reverse));
  reg = FeedWordsByTable(0, folded, 4);
  return FeedWordsByTable(reg, p, count % 4);
}

bool CpuCanFold() {
  static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  return can;
}
#endif

// Feeds the words at byte offsets [begin, end) (both multiples of 4) into the register.
uint32_t FeedWords(uint32_t reg, const uint8_t* image, uint32_t begin, uint32_t end,
                   bool allowFolding) {
  const uint32_t count = (end - begin) / 4;
#if defined(SUMSEAL_HAVE_CLMUL)
  if (allowFolding && count >= 8 && CpuCanFold()) return FeedWordsByFolding(reg, image + begin, count);
#else
  (void)allowFolding;
#endif
  return FeedWordsByTable(reg, image + begin, count);
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
                          uint32_t windowLength, bool allowFolding) {
  const uint32_t coveredEnd = length - 8;  // words start below this offset
  const uint32_t windowEnd = windowStart + windowLength;  // wraps like the 32-bit sum it is
  uint32_t reg = kInitialRegister;

  // A word at offset o is covered when o < windowStart or o >= windowEnd. When the (wrapped)
  // end is not above the start, every offset satisfies one of the two.
  if (windowEnd <= windowStart) return FeedWords(reg, image, 0, coveredEnd, allowFolding);

  const uint64_t firstRunEnd = std::min<uint64_t>(WordOffsetAtOrAbove(windowStart), coveredEnd);
  reg = FeedWords(reg, image, 0, static_cast<uint32_t>(firstRunEnd), allowFolding);
  const uint64_t secondRunStart = WordOffsetAtOrAbove(windowEnd);
  if (secondRunStart < coveredEnd) {
    reg = FeedWords(reg, image, static_cast<uint32_t>(secondRunStart), coveredEnd, allowFolding);
  }
  return reg;
}

}  // namespace sumseal
