// The seal over the updater's 512 KiB image and window, beside zlib's crc32 over the same buffer:
// DoCheck as exported (carry-less multiply folding where the processor has it), the table-only
// form every processor can run, the 128-bit folding that processors without 256-bit carry-less
// multiplication run, and zlib's crc32 as the yardstick. After the usual table the program
// prints the median CPU time of each and its ratio to zlib's. One line, for example:
//
//   build/native/bench/bench_sumseal --benchmark_repetitions=9
//                                    --benchmark_report_aggregates_only=true
//
// Without repetitions the single measurement of each stands for its median. They run one after
// another in one process; --benchmark_enable_random_interleaving=true mixes their repetitions
// for a machine whose speed drifts during the run.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "sumseal/seal.h"
#include "sumseal/sumseal.h"

namespace {

constexpr uint32_t kImageLength = 0x80000;
constexpr uint32_t kWindowStart = 0x3000;
constexpr uint32_t kWindowLength = 0x1000;

std::vector<uint8_t> RandomImage() {
  std::vector<uint8_t> image(kImageLength);
  std::mt19937 rng(1);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  return image;
}

void BM_DoCheck(benchmark::State& state) {
  std::vector<uint8_t> image = RandomImage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(DoCheck(image.data(), kImageLength, kWindowStart, kWindowLength));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageLength);
}
BENCHMARK(BM_DoCheck)->Unit(benchmark::kMicrosecond);

// The seal in one form, as ComputeImageSeal gives it (without the trailer DoCheck writes).
void BM_SealForm(benchmark::State& state, sumseal::SealForm form) {
  std::vector<uint8_t> image = RandomImage();
  if (sumseal::FastestSealForm() < form) {
    state.SkipWithError("this processor lacks the instructions of this form");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        sumseal::ComputeImageSeal(image.data(), kImageLength, kWindowStart, kWindowLength, form));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageLength);
}
BENCHMARK_CAPTURE(BM_SealForm, TablesOnly, sumseal::SealForm::kTables)
    ->Unit(benchmark::kMicrosecond);
// The form processors with PCLMULQDQ but without 256-bit VPCLMULQDQ run inside DoCheck.
BENCHMARK_CAPTURE(BM_SealForm, Folding128, sumseal::SealForm::kFolding)
    ->Unit(benchmark::kMicrosecond);

void BM_ZlibCrc32(benchmark::State& state) {
  std::vector<uint8_t> image = RandomImage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0L, image.data(), kImageLength));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kImageLength);
}
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMicrosecond);

// The console table as usual, and per benchmark the median CPU time per iteration: the "median"
// aggregate where repetitions made one, else the median of the single runs seen.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that a script reading the output gets plain text.
  MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      Seen& seen = seen_[run.run_name.function_name];
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") seen.median = run.GetAdjustedCPUTime();
      } else {
        seen.single.push_back(run.GetAdjustedCPUTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Median CPU time in the benchmarks' unit (microseconds), or a negative value if not run.
  double Median(const std::string& name) const {
    const auto it = seen_.find(name);
    if (it == seen_.end()) return -1;
    if (it->second.median >= 0) return it->second.median;
    std::vector<double> single = it->second.single;
    if (single.empty()) return -1;
    std::sort(single.begin(), single.end());
    const size_t n = single.size();
    return n % 2 ? single[n / 2] : (single[n / 2 - 1] + single[n / 2]) / 2;
  }

 private:
  struct Seen {
    double median = -1;
    std::vector<double> single;
  };
  std::map<std::string, Seen> seen_;
};

void PrintRatios(const MedianReporter& reporter) {
  const double doCheck = reporter.Median("BM_DoCheck");
  const double tables = reporter.Median("BM_SealForm/TablesOnly");
  const double folding128 = reporter.Median("BM_SealForm/Folding128");
  const double zlib = reporter.Median("BM_ZlibCrc32");
  std::printf("\nMedian CPU time over 512 KiB, window 0x3000+0x1000 (us):\n");
  const struct {
    const char* label;
    double us;
  } rows[] = {{"DoCheck", doCheck},
                {"table-only seal", tables},
                {"128-bit folding", folding128},
                {"zlib crc32", zlib}};
  for (const auto& row : rows) {
    if (row.us < 0) continue;
    if (zlib > 0 && row.us > 0) {
      std::printf("  %-16s %9.2f us  zlib crc32 / this = %.2f\n", row.label, row.us, zlib / row.us);
    } else {
      std::printf("  %-16s %9.2f us\n", row.label, row.us);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintRatios(reporter);
  return 0;
}
