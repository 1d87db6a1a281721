// Time for the simulated drives: what "now" is, in milliseconds. Tests use a virtual clock that
// only moves when the code under test sleeps; the native simulation mode uses the real one.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() const = 0;
};

// Moves only when told to, typically from a test's stand-in for sleep.
class VirtualClock : public Clock {
 public:
  uint64_t NowMs() const override { return now_; }
  void Advance(uint64_t milliseconds) { now_ += milliseconds; }

 private:
  uint64_t now_ = 0;
};

// Milliseconds of the monotonic system clock since this clock was made.
class SteadyClock : public Clock {
 public:
  uint64_t NowMs() const override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace sim
