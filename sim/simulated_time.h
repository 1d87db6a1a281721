// The simulation mode's time for the operating-system seam: the program sleeps and reads its
// tick count on the same clock that the simulated drives follow, so that a time scale applies
// to both alike.
#pragma once

#include "platform/platform.h"
#include "sim/clock.h"

namespace sim {

// `table` with its sleepMs and tickCount entries on `clock`, for a table being composed before
// it is bound: a sleep of n ms lasts n / scale ms of real time, and the tick count is the
// clock's milliseconds. The entries reach the last clock given here, which must outlive every
// table that holds them.
platform::Os WithSimulatedTime(platform::Os table, const ScaledClock& clock);

}  // namespace sim
