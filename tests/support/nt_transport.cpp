// The harness reaches its device the way the program does on the NT family: a drive-letter
// device opened through the seam, and SCSI pass-through requests through the real transport,
// here answered by the simulated NT port driver.
#include <cstring>
#include <memory>

#include "sim/nt_port.h"
#include "tests/support/harness_transport.h"

namespace enginetest {
namespace {

std::unique_ptr<sim::NtPort> port;
DriveRecord record{};

}  // namespace

void AttachTransport(sim::Device& device) {
  DetachTransport();
  port = std::make_unique<sim::NtPort>();
  port->Attach('e', &device, 0, 1);
  port->Install(platform::os());
  record = DriveRecord{};
  record.deviceHandle = platform::os().openDevice("\\\\.\\e:");
  record.adapterId = 0;
  record.targetId = 1;
  record.maxTransferLength = 0x10000;
  record.alignmentMask = 1;
  std::memcpy(record.identity, "KORVADSKRW/DVD KDR-7305C(0)", 27);
  std::memcpy(record.revision, "TR07", 4);
}

void DetachTransport() {
  if (!port) return;
  platform::os().closeHandle(record.deviceHandle);
  port.reset();
}

DriveRecord TransportDrive() { return record; }

}  // namespace enginetest
