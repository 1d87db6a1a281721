// A simulation scenario: which simulated devices the bus holds, in discovery order, and how the
// supported drive and the host's side of the bus behave. Written as a comma-separated list, for
// example
//   drives=other+kdr,write-fail=3:6
// Items:
//   drives=A+B+... (kdr: the supported drive; other: an optical drive of another model; disk: a
//     disk; "none" alone for an empty bus)
// Faults injected into the supported drive's download protocol:
//   write-fail=N:K (WRITE BUFFER of block N, from 0, fails its first K attempts),
//   verify-corrupt=N:K (the read-back of block N differs in one byte on its first K attempts),
//   readback-fail (the read-back at 0x180000 fails), prepare-fail (the 0xF1 command fails),
//   commit-fail, write-fail-sense=KK/AA/QQ (hex: the sense key, ASC and ASCQ those four
//   failures report; 04/44/00 by default), skip-end-window, missed-answers=K (during
//   programming the drive misses its next K progress polls), slow-write=N:MS (the WRITE BUFFER
//   of block N takes MS milliseconds of simulated time to answer, the first time it is sent)
// The supported drive's own ways:
//   same-revision (it still reports its old revision after an update),
//   commit-fills (the commit writes 4096 zero bytes into the data-in buffer offered with it;
//     by default it moves nothing, as its block announces),
//   sense-length=N (REQUEST SENSE delivers at most N bytes, 0 to 18; 18 by default),
//   inquiry-length=N (standard INQUIRY delivers at most N bytes, 0 to 36; 36 by default),
//   ua-power-on (06/29/00 pending at power-on), ua-at=N (06/28/00 becomes pending when the
//     drive receives its Nth command, counted from 1), ua-after-programming (06/3F/01,
//     microcode changed, raised when programming ends),
//   finish=MS (after all bytes are programmed the drive still reports 02/04/07 with all bytes
//     done for MS milliseconds; 0 allowed; the front end's own value by default),
//   end=idle|reset|vanish (then: answers with NO SENSE; resets itself, 06/29/00 pending; or
//     leaves the bus for vanish-ms=MS, 2000 by default, and comes back as a new device with
//     06/29/00 pending),
//   disc (a disc is in the drive), disc-insert=MS (a disc is inserted MS milliseconds after
//     power-on, raising 06/28/00),
//   not-ready=MS (for the first MS milliseconds after power-on every command but INQUIRY and
//     REQUEST SENSE fails with 02/04/01, becoming ready)
// The host's side:
//   residual=exact|none|bogus (how the host stack reports residuals: as moved; always 0, as
//     libata and QEMU do; or a data-in that moved everything reports half its length and one
//     that moved less reports 0), hang (once programming has started the drive answers nothing:
//     the host waits out each command's time-out), nt-alignment=MASK (hex with 0x, or decimal:
//     the alignment mask the simulated NT port reports and demands of data buffers),
//   time-scale=N (simulated time runs N times as fast as real time, 1 to 1000; the native
//     program's simulation only).
// Items that take a value refuse a missing or malformed one, and a repeated item takes the last
// value. The native program takes it from --simulate=SCENARIO, the stand-in WNASPI32.dll from
// the FWLOADER_SIM environment variable. Plain C++ without exceptions, for every build.
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

enum class ScenarioResidual : uint8_t { kExact, kNone, kBogus };

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
  uint8_t failSense[3];  // key, ASC, ASCQ of the injected failures
  ScenarioResidual residual;
};

enum class ScenarioEnd : uint8_t { kIdle, kReset, kVanish };

// The supported drive's own behaviour.
struct ScenarioDrive {
  bool sameRevision;  // it reports its old revision after an update too
  bool commitFills;
  uint32_t senseLength;
  uint32_t inquiryLength;
  bool uaPowerOn;
  uint32_t uaAtCommand;  // 0: none
  bool uaAfterProgramming;
  bool finishGiven;  // finish= was given: finishMs replaces the front end's value
  uint32_t finishMs;
  ScenarioEnd end;
  uint32_t vanishMs;
  bool disc;
  bool discInsertGiven;
  uint32_t discInsertMs;
  uint32_t notReadyMs;
};

// Plain data (a value-initialized one is not the default: start from DefaultScenario()).
struct Scenario {
  DeviceKind devices[kMaxScenarioDevices];
  uint32_t deviceCount;
  ScenarioFaults faults;
  uint32_t timeScale;  // simulated milliseconds per real millisecond; 1 by default
  ScenarioDrive drive;
  uint32_t ntAlignmentMask;  // 0: the simulated NT port's own default
};

// The default: one healthy supported drive.
Scenario DefaultScenario();

// Parses `text` (nullptr or "" give the default). Returns true on success. On failure returns
// false and writes a one-line reason into `error` (errorSize bytes, always terminated).
bool ParseScenario(const char* text, Scenario& out, char* error, size_t errorSize);

// True when the scenario injects any fault into the supported drive, or has the host stack
// report residuals other than exactly: the devices are then wrapped in the fault injector.
bool HasFaults(const ScenarioFaults& faults);

}  // namespace sim
