// The simulation mode's time through the operating-system seam: the program sleeps and reads
// its tick count on the same clock that the simulated drives follow, so that a time scale
// applies to both alike.
#pragma once

#include "platform/platform.h"
#include "sim/clock.h"

namespace sim {

// Binds sleepMs and tickCount of `os` to `clock`: a sleep of n ms lasts n / scale ms of real
// time, and the tick count is the clock's milliseconds. `clock` must outlive the binding.
void InstallSimulatedTime(platform::Os& os, const ScaledClock& clock);

}  // namespace sim
