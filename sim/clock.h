// Time for the simulated drives: what "now" is, in milliseconds. Tests use a virtual clock that
// only moves when the code under test sleeps; the native simulation mode uses the real one.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace sim {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() const = 0;
  // Waits `milliseconds` of this clock's time (a host that waits out a time-out).
  virtual void Sleep(uint32_t milliseconds) = 0;
};

// Moves only when told to, typically from a test's stand-in for sleep.
class VirtualClock : public Clock {
 public:
  uint64_t NowMs() const override { return now_; }
  void Sleep(uint32_t milliseconds) override { Advance(milliseconds); }
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
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The monotonic system clock running `scale` times as fast as real time (1: real time): the
// simulation mode's time, in which a long wait of the program (a drive that stays silent for
// a minute) can pass in a moment. The program's sleeps shrink by the same factor
// (sim/simulated_time.h).
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(uint32_t scale) : scale_(scale == 0 ? 1 : scale) {}
  uint64_t NowMs() const override {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start_);
    return static_cast<uint64_t>(elapsed.count()) * scale_ / 1000u;
  }
  uint32_t scale() const { return scale_; }
  // n ms of this clock last n / scale ms of real time.
  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::microseconds(uint64_t{milliseconds} * 1000u / scale_));
  }

 private:
  uint32_t scale_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace sim
