// Fault injection for a drive model's download protocol (the supported drive's unless the
// wrapper is given another description), as a device that wraps another device: the wrapped
// drive never knows. The wrapper also stands for the host's side of the bus
// where that is less than truthful: how the host stack reports residuals, and a host that waits
// out its time-out for a drive that never answers. A FaultPlan is plain data, so a front end
// can fill it from a scenario text (sim/scenario) and a test can set its fields directly.
#pragma once

#include <cstdint>
#include <map>

#include "drive/supported_model.h"
#include "sim/clock.h"
#include "sim/device.h"

namespace sim {

// How the host stack reports the residual of a command (the device itself is truthful).
enum class ResidualReport : uint8_t {
  kExact,  // as the device moved
  kNone,   // always 0, as libata and QEMU's iSCSI pass-through report it
  // A data-in that moved everything reports half its length as residual; one that moved less
  // reports 0.
  kBogus,
};

struct FaultPlan {
  // WRITE BUFFER (mode 2) of block N (the image's Nth block of 4096 bytes) fails its first K
  // attempts.
  int32_t failWriteBlock = -1;
  uint32_t failWriteTimes = 0;
  // WRITE BUFFER of block N takes this many milliseconds to answer the first time it is sent,
  // on the host's clock: a drive that is slow to answer.
  int32_t slowWriteBlock = -1;
  uint32_t slowWriteMs = 0;
  // The read-back (READ BUFFER mode 2) of block N returns one changed byte on its first K tries.
  int32_t corruptReadBlock = -1;
  uint32_t corruptReadTimes = 0;
  // READ BUFFER at the boot data address (the supported drive's: 0x180000) fails.
  bool failBootReadBack = false;
  // The prepare command (the supported drive's 0xF1) fails and the drive never sees it.
  bool failPrepare = false;
  // The READ BUFFER at this buffer address delivers only the first half of its data (GOOD
  // status, the rest reported as residual, the host's buffer there as it was); -1: none.
  int64_t shortReadAddress = -1;
  // The commit (WRITE BUFFER mode 1, buffer ID 1) fails and the drive never sees it.
  bool failCommit = false;
  // Progress replies inside the model's end window (the supported drive's: 0x7E000..0x80000)
  // read as NO SENSE instead: the progress seems to jump from below the window to "done".
  bool skipEndWindow = false;
  // Once a commit has been accepted, the drive answers nothing at all: the host waits out each
  // command's time-out (Command::timeOutMs, on the host's clock)
  // and gets no answer; a command without a time-out gets none at once.
  bool silentAfterCommit = false;
  // Once a commit has been accepted, the next N REQUEST SENSE commands get no answer; later
  // ones are answered again (a drive busy with its flash may miss a few).
  uint32_t missedSenseAnswers = 0;
  // The sense that injected command failures report.
  uint8_t senseKey = 0x04;  // HARDWARE ERROR
  uint8_t asc = 0x44;       // internal target failure
  uint8_t ascq = 0x00;
  ResidualReport residual = ResidualReport::kExact;
};

class FaultyDevice : public Device {
 public:
  // `model` (copied) is the wrapped drive's: its commands are the ones recognised. `clock` is
  // the host's time that a slow or silent drive keeps waiting (null: no wait).
  FaultyDevice(Device& inner, const FaultPlan& plan, Clock* clock = nullptr)
      : FaultyDevice(inner, plan, kSupportedDrive, clock) {}
  FaultyDevice(Device& inner, const FaultPlan& plan, const DriveModel& model,
               Clock* clock = nullptr)
      : inner_(inner), plan_(plan), clock_(clock), model_(model) {}

  Outcome Execute(const Command& command) override;
  uint8_t PeripheralByte() const override { return inner_.PeripheralByte(); }
  void StandardInquiry(uint8_t out[36]) const override { inner_.StandardInquiry(out); }
  uint32_t Attachment() override { return inner_.Attachment(); }
  bool Present() override { return inner_.Present(); }
  void Reset() override { inner_.Reset(); }

  uint32_t injected() const { return injected_; }  // how many replies were changed

 private:
  Outcome Fail();
  Outcome Inject(const Command& command);
  // The outcome's residual as the host stack reports it.
  Outcome Reported(const Command& command, Outcome outcome) const;

  void Wait(uint32_t milliseconds) {
    if (clock_ != nullptr) clock_->Sleep(milliseconds);
  }

  Device& inner_;
  FaultPlan plan_;
  Clock* clock_;
  DriveModel model_;
  std::map<uint32_t, uint32_t> writeAttempts_;  // per block
  bool slowWriteDone_ = false;
  std::map<uint32_t, uint32_t> readAttempts_;
  bool committed_ = false;
  uint32_t sensesMissed_ = 0;
  uint32_t injected_ = 0;
};

}  // namespace sim
