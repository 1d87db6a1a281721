// DoCheck over the updater's 512 KiB image, with zlib's crc32 over the same buffer as a yardstick.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "sumseal/sumseal.h"

namespace {

constexpr uint32_t kImageLength = 0x80000;

std::vector<uint8_t> RandomImage() {
  std::vector<uint8_t> image(kImageLength);
  std::mt19937 rng(1);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  return image;
}

void BM_DoCheck(benchmark::State& state) {
  std::vector<uint8_t> image = RandomImage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(DoCheck(image.data(), kImageLength, 0x3000, 0x1000));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageLength);
}
BENCHMARK(BM_DoCheck)->Unit(benchmark::kMicrosecond);

void BM_ZlibCrc32(benchmark::State& state) {
  std::vector<uint8_t> image = RandomImage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0L, image.data(), kImageLength));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageLength);
}
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMicrosecond);

}  // namespace
