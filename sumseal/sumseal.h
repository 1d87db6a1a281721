// The sumseal library: one export, DoCheck, which seals a firmware image.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define SUMSEAL_CALL __stdcall
#if defined(SUMSEAL_BUILDING)
#define SUMSEAL_API __declspec(dllexport)
#else
#define SUMSEAL_API __declspec(dllimport)
#endif
#else
#define SUMSEAL_CALL
#define SUMSEAL_API __attribute__((visibility("default")))
#endif

extern "C" {

// Stores the ImageSeal of image[0, length - 8), less the words whose start offset lies in
// [windowStart, windowStart + windowLength), big-endian at length - 8, followed by four 0xFF
// bytes, and returns 1. Nothing else in the buffer changes.
// A length below 8 or not a multiple of 4 is refused: the buffer is left untouched and the
// result is 0. (The updater always passes 0x80000.)
SUMSEAL_API int32_t SUMSEAL_CALL DoCheck(uint8_t* image, uint32_t length, uint32_t windowStart,
                                         uint32_t windowLength);
}
