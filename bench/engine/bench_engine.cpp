// Host cost of the engine: a whole update against the simulated drive with the virtual clock
// (no real waiting), per run and per drive command; and the text loader's throughput on a full
// 512 KiB image written as about 1.4 MB of records.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/firmware_loader.h"
#include "engine/flash_updater.h"
#include "sim/kdr_drive.h"
#include "tests/support/firmware_files.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_folder.h"

namespace {

using enginetest::FakeOwner;
using enginetest::Harness;

void WholeUpdate(benchmark::State& state) {
  const uint8_t isHex = static_cast<uint8_t>(state.range(0));
  const std::vector<uint8_t> image = enginetest::PatternImage(3);
  const testsupport::TempFolder folder;
  const std::string path =
      isHex ? folder.Write("bench_update.hex", enginetest::TextRecordsFor(image))
            : folder.Write("bench_update.bin", std::string(image.begin(), image.end()));
  Harness h;
  FakeOwner owner;
  size_t commands = 0;
  uint64_t simulatedMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::KdrDrive drive(h.clock);
    h.Attach(drive);
    h.trace.clear();
    h.events.clear();
    h.progress.clear();
    h.sleeps.clear();
    h.boxes.clear();
    state.ResumeTiming();
    const uint64_t startMs = h.clock.NowMs();
    FlashUpdater engine(owner, h.Job(path, isHex), h.os());
    engine.Run();
    simulatedMs += h.clock.NowMs() - startMs;
    commands += h.trace.size();
    if (h.statuses.empty() || h.statuses.back() != "Finished") {
      state.SkipWithError("the update did not finish");
      break;
    }
  }
  state.counters["commands_per_run"] =
      benchmark::Counter(static_cast<double>(commands), benchmark::Counter::kAvgIterations);
  // The drive's own time for the update on the virtual clock, beside which the host time shows.
  state.counters["simulated_s_per_run"] = benchmark::Counter(
      static_cast<double>(simulatedMs) / 1000.0, benchmark::Counter::kAvgIterations);
  state.counters["time_per_command"] = benchmark::Counter(
      static_cast<double>(commands), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(WholeUpdate)->ArgName("hex")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void LoadTextImage(benchmark::State& state) {
  const std::string text = enginetest::TextRecordsFor(enginetest::PatternImage(5));
  const testsupport::TempFolder folder;
  const std::string path = folder.Write("bench_load.hex", text);
  Harness h;  // the image storage, as the run obtains it
  const AbortQuery never{nullptr, [](void*) -> uint8_t { return 0; }};
  for (auto _ : state) {
    FileReader file(h.os());
    FirmwareImage image{};
    if (!file.Open(path.c_str()) || LoadFirmware(h.os(), file, 1, never, image).result != kLoadOk) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(image.banks[0][0x4000]);
    ReleaseImage(h.os(), image);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["file_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(LoadTextImage)->Unit(benchmark::kMillisecond);

}  // namespace
