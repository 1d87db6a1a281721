// A simulation scenario: which simulated devices the bus holds, in discovery order, and which
// faults the supported drive shows. Written as a comma-separated list, for example
//   drives=other+kdr,write-fail=3:6
// Items: drives=A+B+... (kdr: the supported drive; other: an optical drive of another model;
// disk: a disk; "none" alone for an empty bus), write-fail=N:K (WRITE BUFFER of block N, from 0,
// fails its first K attempts), verify-corrupt=N:K (the read-back of block N differs in one byte
// on its first K attempts), readback-fail (the read-back at 0x180000 fails), prepare-fail (the
// 0xF1 command fails), commit-fail, skip-end-window, hang (the drive stops answering during
// programming), missed-answers=K (during programming the drive misses its next K progress
// polls), slow-write=N:MS (the WRITE BUFFER of block N takes MS milliseconds of simulated time
// to answer, the first time it is sent), same-revision (the drive still reports its old
// revision after an update), time-scale=N (simulated time runs N times as fast as real time, 1 to 1000; the
// native program's simulation only).
// The native program takes it from --simulate=SCENARIO, the stand-in WNASPI32.dll from the
// FWLOADER_SIM environment variable. Plain C++ without exceptions, for every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

enum class DeviceKind : uint8_t { kSupported, kOtherOptical, kDisk };

constexpr uint32_t kMaxScenarioDevices = 16;

// A fault on one block, counted from 0, for its first `times` attempts; times 0: no fault.
struct BlockFault {
  uint32_t block;
  uint32_t times;
};

struct ScenarioFaults {
  BlockFault writeFail;
  BlockFault verifyCorrupt;
  bool readbackFail;
  bool commitFail;
  bool skipEndWindow;
  bool hang;
  bool prepareFail;
  uint32_t missedAnswers;
  BlockFault slowWrite;  // `times` holds the milliseconds; 0: no delay
};

struct Scenario {
  DeviceKind devices[kMaxScenarioDevices];
  uint32_t deviceCount;
  ScenarioFaults faults;
  uint32_t timeScale;  // simulated milliseconds per real millisecond; 1 by default
  bool sameRevision;   // the supported drive reports its old revision after an update too
};

// The default: one healthy supported drive.
Scenario DefaultScenario();

// Parses `text` (nullptr or "" give the default). Returns true on success. On failure returns
// false and writes a one-line reason into `error` (errorSize bytes, always terminated).
bool ParseScenario(const char* text, Scenario& out, char* error, size_t errorSize);

// True when the scenario injects any fault into the supported drive.
bool HasFaults(const ScenarioFaults& faults);

}  // namespace sim
