// The simulation mode's time for the program: it sleeps and reads its tick count on the same
// clock that the simulated drives follow, so that a time scale applies to both alike.
#pragma once

#include "platform/os.h"
#include "sim/clock.h"

namespace sim {

// `target` with its sleep and tick count on `clock`: a sleep of n ms lasts n / scale ms of real
// time, and the tick count is the clock's milliseconds. The clock must outlive the binding.
class SimulatedTimeOs : public platform::OsWrapper {
 public:
  SimulatedTimeOs(platform::Os& target, ScaledClock& clock) : OsWrapper(target), clock_(clock) {}
  void sleepMs(uint32_t milliseconds) override { clock_.Sleep(milliseconds); }
  uint32_t tickCount() override { return static_cast<uint32_t>(clock_.NowMs()); }

 private:
  ScaledClock& clock_;
};

}  // namespace sim
