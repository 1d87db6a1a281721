#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <random>
#include <vector>

#include "sumseal/seal.h"
#include "sumseal/sumseal.h"

namespace {

// The plain shift-register rule, word by word, exactly as the seal is defined: the reference
// every fast form must agree with.
uint32_t ShiftRegisterSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                           uint32_t windowLength) {
  uint32_t reg = 0x33943510u;
  for (uint32_t offset = 0; offset < length - 8; offset += 4) {
    if (offset < windowStart || offset >= windowStart + windowLength) {
      uint32_t x = reg ^ ((uint32_t{image[offset]} << 24) | (uint32_t{image[offset + 1]} << 16) |
                          (uint32_t{image[offset + 2]} << 8) | image[offset + 3]);
      for (int i = 0; i < 32; ++i) x = (x & 0x80000000u) ? (x << 1) ^ 0x04C11DB7u : (x << 1);
      reg = x;
    }
  }
  return reg;
}

uint32_t ShiftRegisterSeal(const std::vector<uint8_t>& image, uint32_t windowStart,
                           uint32_t windowLength) {
  return ShiftRegisterSeal(image.data(), static_cast<uint32_t>(image.size()), windowStart,
                           windowLength);
}

// Every form of the seal this processor runs (the tables always; the carry-less forms where
// the processor has the instructions), each named for the failure messages.
struct NamedForm {
  sumseal::SealForm form;
  const char* name;
};

std::vector<NamedForm> FormsThisProcessorRuns() {
  const NamedForm all[] = {{sumseal::SealForm::kTables, "tables"},
                           {sumseal::SealForm::kFolding, "128-bit folding"},
                           {sumseal::SealForm::kWideFolding, "256-bit folding"}};
  std::vector<NamedForm> forms;
  for (const NamedForm& f : all) {
    if (f.form <= sumseal::FastestSealForm()) forms.push_back(f);
  }
  return forms;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 rng(seed);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

uint32_t StoredSeal(const std::vector<uint8_t>& image) {
  const size_t at = image.size() - 8;
  return (uint32_t{image[at]} << 24) | (uint32_t{image[at + 1]} << 16) |
         (uint32_t{image[at + 2]} << 8) | image[at + 3];
}

void ExpectFfTail(const std::vector<uint8_t>& image) {
  for (size_t i = image.size() - 4; i < image.size(); ++i) EXPECT_EQ(image[i], 0xFF) << i;
}

// Known answers of the ImageSeal on zero-filled buffers (each also reproduced by the
// shift-register rule above).
struct KnownAnswer {
  uint32_t length, windowStart, windowLength, seal;
};

TEST(DoCheck, KnownAnswersOnZeroBuffers) {
  const KnownAnswer cases[] = {
      {4096, 0, 0, 0x6233B43Eu},
      {0x80000, 0x3000, 0x1000, 0xD979EA13u},  // the updater's own call
      {8, 0, 0, 0x33943510u},                  // no word is read: the initial register
  };
  for (const KnownAnswer& c : cases) {
    std::vector<uint8_t> image(c.length, 0);
    EXPECT_EQ(DoCheck(image.data(), c.length, c.windowStart, c.windowLength), 1);
    EXPECT_EQ(StoredSeal(image), c.seal) << "length " << c.length;
    EXPECT_EQ(ShiftRegisterSeal(image, c.windowStart, c.windowLength), c.seal);
    ExpectFfTail(image);
    for (size_t i = 0; i + 8 < image.size(); ++i) ASSERT_EQ(image[i], 0) << i;
  }
}

TEST(DoCheck, LengthEightStoresTheInitialRegister) {
  std::vector<uint8_t> image = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(DoCheck(image.data(), 8, 0, 0), 1);
  EXPECT_EQ(image, (std::vector<uint8_t>{0x33, 0x94, 0x35, 0x10, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(DoCheck, RefusesLengthsItCannotSealAndLeavesTheBufferAlone) {
  for (uint32_t length : {0u, 4u, 7u, 9u, 10u, 4098u}) {
    std::vector<uint8_t> image(length + 1, 0xA5);
    EXPECT_EQ(DoCheck(image.data(), length, 0, 0), 0) << length;
    for (uint8_t b : image) ASSERT_EQ(b, 0xA5) << length;
  }
  EXPECT_EQ(DoCheck(nullptr, 16, 0, 0), 0);
}

TEST(SealStep, IsThirtyTwoRegisterShifts) {
  EXPECT_EQ(sumseal::SealStep(1), 0x04C11DB7u);
  // Row mask k of the step's matrix: bit i is output bit k of SealStep(1 << i).
  auto rowMask = [](int k) {
    uint32_t mask = 0;
    for (int i = 0; i < 32; ++i) mask |= ((sumseal::SealStep(1u << i) >> k) & 1u) << i;
    return mask;
  };
  EXPECT_EQ(rowMask(0), 0xF7011641u);
  EXPECT_EQ(rowMask(1), 0x19033AC3u);
  EXPECT_EQ(rowMask(31), 0xFB808B20u);
}

// Only a word's start offset is tested against the window.
TEST(DoCheck, WindowExcludesWordsByTheirStartOffset) {
  const uint32_t length = 0x6000;
  struct Probe {
    uint32_t offset;
    bool covered;
  };
  // Window 0x3001 / 0x1000: the word at 0x3000 is covered, 0x3004 up to 0x4000 are not.
  const Probe probes[] = {{0x2FFC, true}, {0x3000, true},  {0x3004, false},
                          {0x3FFC, false}, {0x4000, false}, {0x4004, true}};
  std::vector<uint8_t> base(length, 0x5A);
  DoCheck(base.data(), length, 0x3001, 0x1000);
  for (const Probe& p : probes) {
    std::vector<uint8_t> changed(length, 0x5A);
    changed[p.offset + 1] ^= 0x01;
    DoCheck(changed.data(), length, 0x3001, 0x1000);
    EXPECT_EQ(StoredSeal(changed) != StoredSeal(base), p.covered) << std::hex << p.offset;
  }
}

TEST(DoCheck, TrailerAndWindowBytesDoNotChangeTheSealButOthersDo) {
  const uint32_t length = 0x80000;
  std::vector<uint8_t> image(length);
  std::mt19937 rng(7);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  DoCheck(image.data(), length, 0x3000, 0x1000);
  const uint32_t seal = StoredSeal(image);

  // A second call over its own output stores the same seal: the trailer is never covered.
  EXPECT_EQ(DoCheck(image.data(), length, 0x3000, 0x1000), 1);
  EXPECT_EQ(StoredSeal(image), seal);

  for (uint32_t offset : {0x3000u, 0x3ABCu, 0x3FFFu, length - 8, length - 1}) {
    std::vector<uint8_t> changed = image;
    changed[offset] ^= 0xFF;
    DoCheck(changed.data(), length, 0x3000, 0x1000);
    EXPECT_EQ(StoredSeal(changed), seal) << std::hex << offset;
  }
  for (uint32_t offset : {0u, 0x2FFFu, 0x4000u, length - 9}) {
    std::vector<uint8_t> changed = image;
    changed[offset] ^= 0x01;
    DoCheck(changed.data(), length, 0x3000, 0x1000);
    EXPECT_NE(StoredSeal(changed), seal) << std::hex << offset;
  }
}

TEST(DoCheck, MatchesTheShiftRegisterRuleOnRandomBuffersAndWindows) {
  const std::vector<NamedForm> forms = FormsThisProcessorRuns();
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    const uint32_t length = 8 + 4 * (rng() % 600);
    std::vector<uint8_t> image = RandomBytes(length, static_cast<uint32_t>(rng()));
    uint32_t windowStart = rng() % (length + 16);
    uint32_t windowLength = rng() % (length + 16);
    if (round % 10 == 0) windowLength = 0;
    if (round % 10 == 1) windowStart = 0xFFFFFFF0u;  // start + length wraps past 2^32
    if (round % 10 == 2) windowLength = 0xFFFFFFFFu - (rng() % 64);
    const uint32_t expected = ShiftRegisterSeal(image, windowStart, windowLength);
    std::vector<uint8_t> before = image;
    ASSERT_EQ(DoCheck(image.data(), length, windowStart, windowLength), 1);
    ASSERT_EQ(StoredSeal(image), expected)
        << "length " << length << " window " << windowStart << "+" << windowLength;
    ExpectFfTail(image);
    ASSERT_TRUE(std::equal(image.begin(), image.end() - 8, before.begin()));
    for (const NamedForm& f : forms) {
      ASSERT_EQ(sumseal::ComputeImageSeal(before.data(), length, windowStart, windowLength, f.form),
                expected)
          << f.name << ": length " << length << " window " << windowStart << "+" << windowLength;
    }
  }
}

// One covered run of every length from none to 1,100 bytes: below, at and above each multiple
// of the 16-byte block and of the 64-, 128- and 256-byte multiples the folding steps take,
// with the remaining words after the last whole block, and the image at an address of every
// alignment the loads may meet.
TEST(ImageSeal, EveryFormMatchesTheShiftRegisterRuleForEveryShortRunLength) {
  const std::vector<uint8_t> bytes = RandomBytes(1100 + 8 + 32, 11);
  for (const NamedForm& f : FormsThisProcessorRuns()) {
    for (uint32_t covered = 0; covered <= 1100; covered += 4) {
      for (uint32_t misalignment : {0u, 1u, 4u, 15u, 17u}) {
        const uint8_t* image = bytes.data() + misalignment;
        const uint32_t length = covered + 8;
        ASSERT_EQ(sumseal::ComputeImageSeal(image, length, 0, 0, f.form),
                  ShiftRegisterSeal(image, length, 0, 0))
            << f.name << ": " << covered << " bytes covered, image at +" << misalignment;
      }
    }
  }
}

// Windows that split the image into two runs of every kind of length, windows at the image's
// edges, past its end and wrapping past 2^32, with starts and ends between word offsets.
TEST(ImageSeal, EveryFormMatchesTheShiftRegisterRuleForEveryWindowSplit) {
  const uint32_t length = 2048 + 8;
  const std::vector<uint8_t> image = RandomBytes(length, 12);
  const uint32_t starts[] = {0,   1,   3,   4,   60,  64,  68,   124,  127,  128,  132,
                             252, 256, 260, 508, 512, 513, 516,  1020, 1024, 1028, 1532,
                             1920, 1984, 2036, 2040, 2044, 2047, 2048, 2052, 2056, 4096,
                             0xFFFFFFF0u, 0xFFFFFFFCu};
  const uint32_t windowLengths[] = {0,   1,   3,   4,    5,    12,   16,    60,   64,
                                    68,  124, 128, 132,  256,  1024, 1536,  2040, 2048,
                                    2056, 0xFFFFFF00u, 0xFFFFFFFCu, 0xFFFFFFFFu};
  for (const NamedForm& f : FormsThisProcessorRuns()) {
    for (uint32_t start : starts) {
      for (uint32_t windowLength : windowLengths) {
        ASSERT_EQ(sumseal::ComputeImageSeal(image.data(), length, start, windowLength, f.form),
                  ShiftRegisterSeal(image, start, windowLength))
            << f.name << ": window " << start << "+" << windowLength;
      }
    }
  }
}

// The updater's own call, where the two runs are 0x3000 bytes and the long rest of the image.
TEST(ImageSeal, EveryFormMatchesTheShiftRegisterRuleOnTheUpdatersImage) {
  const std::vector<uint8_t> image = RandomBytes(0x80000, 13);
  const uint32_t expected = ShiftRegisterSeal(image, 0x3000, 0x1000);
  for (const NamedForm& f : FormsThisProcessorRuns()) {
    EXPECT_EQ(sumseal::ComputeImageSeal(image.data(), 0x80000, 0x3000, 0x1000, f.form), expected)
        << f.name;
  }
}

}  // namespace
