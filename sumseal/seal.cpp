#include "sumseal/seal.h"

#include <algorithm>
#include <array>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SUMSEAL_HAVE_CLMUL 1
// 256-bit folding only where 32-byte values that spill to the stack get an aligned slot: GCC
// cannot realign the stack for them under the SEH unwinding of 64-bit Windows, and the 32-bit
// build has too few vector registers for the wide step to stay out of memory anyway.
#if defined(__x86_64__) && !defined(__SEH__)
#define SUMSEAL_HAVE_WIDE_CLMUL 1
#endif
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
// x^n modulo the generator, as the 32 low coefficients: n shifts of the register from x^0.
constexpr uint32_t PowerOfXMod(int n) {
  uint32_t r = 1;
  for (int i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
  return r;
}

// Carry-less multiply folding. A 128-bit value A, the big-endian reading of 16 message bytes
// (first byte in the top bits), stands for a piece of the message as a polynomial. Moving it n
// bits further along the message multiplies it by x^n, and modulo the generator
//   A * x^n = A_high * x^(n+64) + A_low * x^n  ==  A_high * (x^(n+64) mod P) + A_low * (x^n mod P),
// two 64 x 32-bit carry-less products of at most 95 bits, so the result again fits 128 bits.
// The pair of constants for a distance of n bits is therefore (x^(n+64) mod P, x^n mod P),
// computed here at compile time by PowerOfXMod.
//
// Several accumulators ("lanes") take the 16-byte blocks of each step in turn, so that the
// multiplications of one step do not wait on each other; each lane moves a whole step a time.
// At the end the lanes are joined in message order, each moved past the one that follows it,
// the remaining whole blocks are folded in one by one, and the accumulator's 16 bytes, fed to
// the tables from a zero register, give A * x^32 mod P: the CRC register. Words after the last
// whole block go through the tables.
struct FoldConstants {
  uint64_t high, low;  // x^(n+64) mod P and x^n mod P
};
constexpr FoldConstants FoldBy(int bits) { return {PowerOfXMod(bits + 64), PowerOfXMod(bits)}; }

// 128-bit form: eight lanes in eight registers, 128 bytes a step.
constexpr int kLanes = 8;
constexpr uint32_t kStepBytes = 16 * kLanes;
constexpr FoldConstants kFoldByBlock = FoldBy(128);
constexpr FoldConstants kFoldByStep = FoldBy(8 * kStepBytes);

#define SUMSEAL_CLMUL_TARGET __attribute__((target("pclmul,ssse3")))

// Where the 128-bit code is entered from plain code. A 32-bit Windows caller of DoCheck owes the
// library only a 4-byte aligned stack, and the register-starved 32-bit build spills 16-byte
// values to stack slots that instructions such as PXOR read with a 16-byte alignment demand:
// there the function aligns its own frame.
#if defined(__i386__)
#define SUMSEAL_CLMUL_ENTRY SUMSEAL_CLMUL_TARGET __attribute__((force_align_arg_pointer))
#else
#define SUMSEAL_CLMUL_ENTRY SUMSEAL_CLMUL_TARGET
#endif

SUMSEAL_CLMUL_TARGET inline __m128i Constants(FoldConstants k) {
  return _mm_set_epi64x(static_cast<int64_t>(k.high), static_cast<int64_t>(k.low));
}

SUMSEAL_CLMUL_TARGET inline __m128i ReverseMask() {
  return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

SUMSEAL_CLMUL_TARGET inline __m128i LoadReversed(const uint8_t* at, __m128i reverse) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), reverse);
}

// acc moved along by the distance k was made for, plus the block that lies there.
SUMSEAL_CLMUL_TARGET inline __m128i FoldInto(__m128i acc, __m128i k, __m128i next) {
  const __m128i high = _mm_clmulepi64_si128(acc, k, 0x11);
  const __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
  return _mm_xor_si128(high, _mm_xor_si128(low, next));
}

// The register after the message that acc stands for, followed by the whole blocks in
// [p, blocksEnd) and then `tailWords` words.
SUMSEAL_CLMUL_TARGET inline uint32_t FinishFolding(__m128i acc, const uint8_t* p,
                                                   const uint8_t* blocksEnd, uint32_t tailWords) {
  const __m128i reverse = ReverseMask();
  const __m128i byBlock = Constants(kFoldByBlock);
  for (; p != blocksEnd; p += 16) acc = FoldInto(acc, byBlock, LoadReversed(p, reverse));
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(acc, reverse));
  return FeedWordsByTable(FeedWordsByTable(0, folded, 4), p, tailWords);
}

// Needs count >= 8 (two blocks).
SUMSEAL_CLMUL_ENTRY uint32_t FeedWordsByFolding(uint32_t reg, const uint8_t* p, uint32_t count) {
  const __m128i reverse = ReverseMask();
  const __m128i initial = _mm_set_epi32(static_cast<int>(reg), 0, 0, 0);
  const uint8_t* const blocksEnd = p + (count / 4) * 16;
  if (static_cast<uint32_t>(blocksEnd - p) < kStepBytes) {
    return FinishFolding(_mm_xor_si128(LoadReversed(p, reverse), initial), p + 16, blocksEnd,
                         count % 4);
  }
  const __m128i byStep = Constants(kFoldByStep);
  __m128i lane[kLanes];
#pragma GCC unroll 8
  for (int i = 0; i < kLanes; ++i) lane[i] = LoadReversed(p + 16 * i, reverse);
  lane[0] = _mm_xor_si128(lane[0], initial);
  for (p += kStepBytes; static_cast<uint32_t>(blocksEnd - p) >= kStepBytes; p += kStepBytes) {
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i) {
      lane[i] = FoldInto(lane[i], byStep, LoadReversed(p + 16 * i, reverse));
    }
  }
  const __m128i byBlock = Constants(kFoldByBlock);
  __m128i acc = lane[0];
#pragma GCC unroll 8
  for (int i = 1; i < kLanes; ++i) acc = FoldInto(acc, byBlock, lane[i]);
  return FinishFolding(acc, p, blocksEnd, count % 4);
}

bool CpuCanFold() {
  static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  return can;
}
#endif

#if defined(SUMSEAL_HAVE_WIDE_CLMUL)
// 256-bit form: the same folding, two 16-byte lanes per register (the carry-less multiply and
// the byte reversal work on each 128-bit half on its own), four registers, so eight lanes and
// 128 bytes a step with half the instructions.
constexpr int kWideRegisters = 4;
constexpr uint32_t kWideStepBytes = 32 * kWideRegisters;
constexpr FoldConstants kFoldByWideStep = FoldBy(8 * kWideStepBytes);
constexpr FoldConstants kFoldByWideRegister = FoldBy(256);

#define SUMSEAL_WIDE_CLMUL_TARGET __attribute__((target("avx2,vpclmulqdq,pclmul")))

SUMSEAL_WIDE_CLMUL_TARGET inline __m256i WideConstants(FoldConstants k) {
  return _mm256_broadcastsi128_si256(Constants(k));
}

SUMSEAL_WIDE_CLMUL_TARGET inline __m256i WideLoadReversed(const uint8_t* at, __m256i reverse) {
  return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), reverse);
}

SUMSEAL_WIDE_CLMUL_TARGET inline __m256i WideFoldInto(__m256i acc, __m256i k, __m256i next) {
  const __m256i high = _mm256_clmulepi64_epi128(acc, k, 0x11);
  const __m256i low = _mm256_clmulepi64_epi128(acc, k, 0x00);
  return _mm256_xor_si256(high, _mm256_xor_si256(low, next));
}

// Needs count >= 8 * kWideRegisters (one step).
SUMSEAL_WIDE_CLMUL_TARGET uint32_t FeedWordsByWideFolding(uint32_t reg, const uint8_t* p,
                                                          uint32_t count) {
  const __m256i reverse = _mm256_broadcastsi128_si256(ReverseMask());
  const uint8_t* const blocksEnd = p + (count / 4) * 16;
  const __m256i byStep = WideConstants(kFoldByWideStep);
  __m256i part[kWideRegisters];
#pragma GCC unroll 4
  for (int i = 0; i < kWideRegisters; ++i) part[i] = WideLoadReversed(p + 32 * i, reverse);
  part[0] = _mm256_xor_si256(part[0], _mm256_set_epi32(0, 0, 0, 0, static_cast<int>(reg), 0, 0, 0));
  for (p += kWideStepBytes; static_cast<uint32_t>(blocksEnd - p) >= kWideStepBytes;
       p += kWideStepBytes) {
#pragma GCC unroll 4
    for (int i = 0; i < kWideRegisters; ++i) {
      part[i] = WideFoldInto(part[i], byStep, WideLoadReversed(p + 32 * i, reverse));
    }
  }
  const __m256i byRegister = WideConstants(kFoldByWideRegister);
  __m256i wide = part[0];
#pragma GCC unroll 4
  for (int i = 1; i < kWideRegisters; ++i) wide = WideFoldInto(wide, byRegister, part[i]);
  // The lower half holds the earlier 16 bytes of the message.
  const __m128i acc = FoldInto(_mm256_castsi256_si128(wide), Constants(kFoldByBlock),
                               _mm256_extracti128_si256(wide, 1));
  // Clean upper halves, so that 128-bit code that follows, here or in the caller, pays no
  // penalty for mixing with 256-bit code.
  _mm256_zeroupper();
  return FinishFolding(acc, p, blocksEnd, count % 4);
}

bool CpuCanFoldWide() {
  static const bool can = CpuCanFold() && __builtin_cpu_supports("avx2") &&
                          __builtin_cpu_supports("vpclmulqdq");
  return can;
}
#endif

// Feeds the words at byte offsets [begin, end) (both multiples of 4) into the register.
uint32_t FeedWords(uint32_t reg, const uint8_t* image, uint32_t begin, uint32_t end,
                   SealForm form) {
  const uint8_t* const p = image + begin;
  const uint32_t count = (end - begin) / 4;
#if defined(SUMSEAL_HAVE_WIDE_CLMUL)
  if (form == SealForm::kWideFolding && count >= 8 * kWideRegisters) {
    return FeedWordsByWideFolding(reg, p, count);
  }
#endif
#if defined(SUMSEAL_HAVE_CLMUL)
  if (form != SealForm::kTables && count >= 8) return FeedWordsByFolding(reg, p, count);
#endif
  return FeedWordsByTable(reg, p, count);
}

// The first word offset at or above x (offsets are multiples of 4), without overflow.
inline uint64_t WordOffsetAtOrAbove(uint64_t x) { return (x + 3) & ~uint64_t{3}; }

}  // namespace

SealForm FastestSealForm() {
#if defined(SUMSEAL_HAVE_WIDE_CLMUL)
  if (CpuCanFoldWide()) return SealForm::kWideFolding;
#endif
#if defined(SUMSEAL_HAVE_CLMUL)
  if (CpuCanFold()) return SealForm::kFolding;
#endif
  return SealForm::kTables;
}

uint32_t SealStep(uint32_t x) {
  // Feeding x's four bytes into a zero register is the same linear map as 32 shifts of x.
  return kTables[3][x >> 24] ^ kTables[2][(x >> 16) & 0xFF] ^ kTables[1][(x >> 8) & 0xFF] ^
         kTables[0][x & 0xFF];
}

uint32_t ComputeImageSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                          uint32_t windowLength) {
  return ComputeImageSeal(image, length, windowStart, windowLength, FastestSealForm());
}

uint32_t ComputeImageSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                          uint32_t windowLength, SealForm form) {
  // A form beyond what this processor runs falls back to the fastest one it does.
  form = std::min(form, FastestSealForm());
  const uint32_t coveredEnd = length - 8;  // words start below this offset
  const uint32_t windowEnd = windowStart + windowLength;  // wraps like the 32-bit sum it is
  uint32_t reg = kInitialRegister;

  // A word at offset o is covered when o < windowStart or o >= windowEnd. When the (wrapped)
  // end is not above the start, every offset satisfies one of the two.
  if (windowEnd <= windowStart) return FeedWords(reg, image, 0, coveredEnd, form);

  const uint64_t firstRunEnd = std::min<uint64_t>(WordOffsetAtOrAbove(windowStart), coveredEnd);
  reg = FeedWords(reg, image, 0, static_cast<uint32_t>(firstRunEnd), form);
  const uint64_t secondRunStart = WordOffsetAtOrAbove(windowEnd);
  if (secondRunStart < coveredEnd) {
    reg = FeedWords(reg, image, static_cast<uint32_t>(secondRunStart), coveredEnd, form);
  }
  return reg;
}

}  // namespace sumseal
