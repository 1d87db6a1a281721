// ImageSeal: CRC-32 over big-endian words, generator 0x04C11DB7, most significant bit first,
// initial register 0x33943510, no final XOR. Internal to sumseal; DoCheck is the library's face.
#pragma once

#include <cstdint>

namespace sumseal {

constexpr uint32_t kPolynomial = 0x04C11DB7u;
constexpr uint32_t kInitialRegister = 0x33943510u;

// One word step: multiplies x by t^32 modulo the generator, the same as 32 shifts of the register.
uint32_t SealStep(uint32_t x);

// The seal of image[0, length - 8) less the words whose start offset lies in
// [windowStart, windowStart + windowLength) (the end taken modulo 2^32).
// Needs length >= 8 and a multiple of 4; reads nothing at or beyond length - 8.
// Long runs are folded with carry-less multiplication where the processor has it; with
// allowFolding false the tables do all the work (the form every processor runs).
uint32_t ComputeImageSeal(const uint8_t* image, uint32_t length, uint32_t windowStart,
                          uint32_t windowLength, bool allowFolding = true);

}  // namespace sumseal
