// ImageSeal: CRC-32 over big-endian words, generator 0x04C11DB7, most significant bit first,
// initial register 0x33943510, no final XOR. Internal to sumseal; DoCheck is the library's face.
#pragma once

#include <cstdint>

namespace sumseal {

constexpr uint32_t kPolynomial = 0x04C11DB7u;
constexpr uint32_t kInitialRegister = 0x33943510u;

// One word step: multiplies x by t^32 modulo the generator, the same as 32 shifts of the register.
uint32_t SealStep(uint32_t x);

// The ways the seal is computed, each giving the same seal; a later one is faster where the
// processor runs it.
enum class SealForm {
  kTables,       // slice-by-16 tables: every processor
  kFolding,      // 128-bit carry-less multiply folding (PCLMULQDQ), tables for the ends
  kWideFolding,  // 256-bit carry-less multiply folding (VPCLMULQDQ with AVX2), then as above
};

// The fastest form this build runs on this processor.
SealForm FastestSealForm();

// The seal of image[0, length - 8) less the words whose start offset lies in
// [windowStart, windowStart + windowLength) (the end taken modulo 2^32).
// Needs length >= 8 and a multiple of 4; reads nothing at or beyond length - 8.
// Computed in the fastest form, or in the one asked for (a form the processor lacks stands for
// the fastest it has), e.g. SealForm::kTables for what processors without carry-less
// multiplication run.
uint32_t ComputeImageSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                          uint32_t windowLength);
uint32_t ComputeImageSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                          uint32_t windowLength, SealForm form);

}  // namespace sumseal
