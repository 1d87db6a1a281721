#include "sim/simulated_time.h"

#include <chrono>
#include <thread>

namespace sim {
namespace {

const ScaledClock* g_clock = nullptr;

void SleepScaled(uint32_t milliseconds) {
  const uint32_t scale = g_clock != nullptr ? g_clock->scale() : 1;
  std::this_thread::sleep_for(std::chrono::microseconds(uint64_t{milliseconds} * 1000u / scale));
}

uint32_t TickOfClock() {
  return g_clock != nullptr ? static_cast<uint32_t>(g_clock->NowMs()) : 0;
}

}  // namespace

platform::Os WithSimulatedTime(platform::Os table, const ScaledClock& clock) {
  g_clock = &clock;
  table.sleepMs = &SleepScaled;
  table.tickCount = &TickOfClock;
  return table;
}

}  // namespace sim
