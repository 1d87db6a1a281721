// A direct transport for the engine tests: hands each request straight to the attached device,
// with the transport's sense contract (first 16 bytes cleared, the drive's sense copied on
// failure).
#include <cstring>

#include "tests/engine/harness_transport.h"

namespace enginetest {
namespace {
sim::Device* attached = nullptr;
}

void AttachTransport(sim::Device& device) { attached = &device; }
void DetachTransport() { attached = nullptr; }
DriveRecord TransportDrive() {
  DriveRecord record{};
  std::memcpy(record.identity, "KORVADSKRW/DVD KDR-7305C(0)", 27);
  return record;
}

}  // namespace enginetest

int SendScsiRequest(const ScsiRequest& request) {
  std::memset(request.senseArea, 0, 16);
  if (enginetest::attached == nullptr) return 0;
  sim::Command command{request.cdb, request.cdbLength, request.direction, request.data,
                       request.dataLength};
  const sim::Outcome outcome = enginetest::attached->Execute(command);
  if (!outcome.delivered) return 0;
  if (outcome.status != sim::kStatusGood) {
    std::memcpy(request.senseArea, outcome.sense, sim::kSenseLength);
    return 0;
  }
  return 1;
}
