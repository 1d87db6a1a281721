// The devices of a simulation scenario as the logical units of the iSCSI target, LUN i being
// the scenario's i-th device. Sessions on several connections share them: one command runs at
// a time. Every command is written to a trace when one is given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "sim/iscsi/session.h"
#include "sim/scenario_devices.h"

namespace sim {
namespace iscsi {

// The command block a device receives for the 16 bytes that arrived, and its length: the
// length its opcode group implies (6, 10, 16 or 12; vendor groups 12).
//
// Completion: an initiator that passes commands through by their opcode group (QEMU's SCSI
// layer does) cuts the drive's 12-byte WRITE BUFFER and READ BUFFER blocks (group 1) to 10
// bytes, so they arrive with bytes 10 and 11 zero. A block of the drive's download protocol
// (byte 9 holding 0x0A, with or without the boot overwrite bit 0x80) always carries the check
// bytes 0B 0C there, so the target puts them back and hands the drive all 12 bytes. This is the
// one difference this path accepts: what the program really sent is checked in the program's
// own trace. `completed` says whether bytes 10 and 11 were put back.
uint8_t DeviceCdb(const uint8_t received[16], uint8_t cdb[16], bool& completed);

class ScenarioUnits : public LogicalUnits {
 public:
  // `trace`, if not null, receives one line per command; the caller keeps it open.
  ScenarioUnits(ScenarioDevices& devices, const Clock& clock, std::FILE* trace)
      : devices_(devices), clock_(clock), trace_(trace) {}

  bool Exists(uint32_t lun) const override { return lun < devices_.count(); }
  Outcome Execute(uint32_t lun, const uint8_t cdb[16], uint8_t direction, uint8_t* data,
                  uint32_t length) override;
  // The device's own reset (sim/device: Device::Reset), traced.
  void Reset(bool wholeTarget, uint32_t lun) override;

  // Runs `fn` while no command runs (the flash dump at the end, for one).
  template <typename Fn>
  void Exclusively(Fn fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    fn();
  }

 private:
  void Trace(uint32_t lun, const uint8_t received[16], uint8_t length, bool completed,
             uint8_t direction, uint32_t dataLength, const Outcome& outcome, const uint8_t* data);

  ScenarioDevices& devices_;
  const Clock& clock_;
  std::FILE* trace_;
  std::mutex mutex_;
};

}  // namespace iscsi
}  // namespace sim
