// Seals a zero-filled 4096-byte buffer through the imported DoCheck and checks the known seal
// 0x6233B43E with its 0xFF trailer. Exit status 0 when the import works and the seal is right.
#include <cstdio>
#include <cstring>

#include "sumseal/sumseal.h"

int main() {
  static uint8_t image[4096];
  std::memset(image, 0, sizeof image);
  const int32_t result = DoCheck(image, sizeof image, 0, 0);
  const uint8_t expected[8] = {0x62, 0x33, 0xB4, 0x3E, 0xFF, 0xFF, 0xFF, 0xFF};
  const bool ok = result == 1 && std::memcmp(image + sizeof image - 8, expected, 8) == 0;
  std::printf("DoCheck import %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
