#define SUMSEAL_BUILDING 1
#include "sumseal/sumseal.h"

#include "sumseal/seal.h"

#if defined(_WIN32)
#include <windows.h>
#endif

extern "C" SUMSEAL_API int32_t SUMSEAL_CALL DoCheck(uint8_t* image, uint32_t length,
                                                    uint32_t windowStart, uint32_t windowLength) {
  if (image == nullptr || length < 8 || length % 4 != 0) return 0;
  const uint32_t seal = sumseal::ComputeImageSeal(image, length, windowStart, windowLength);
  uint8_t* trailer = image + (length - 8);
  trailer[0] = static_cast<uint8_t>(seal >> 24);
  trailer[1] = static_cast<uint8_t>(seal >> 16);
  trailer[2] = static_cast<uint8_t>(seal >> 8);
  trailer[3] = static_cast<uint8_t>(seal);
  trailer[4] = trailer[5] = trailer[6] = trailer[7] = 0xFF;
  return 1;
}

#if defined(_WIN32)
// The library does nothing on load or unload and never refuses either.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
