// The simulated devices of a scenario, in discovery order: supported drives (wrapped in the
// fault injector when the scenario has faults), optical drives of another model and disks (each
// wrapped too when the host stack reports residuals other than exactly: that is the host's
// doing, for every device on it).
// A front end puts them behind its bus: the device transport (native), ASPI targets (stand-in
// DLL) or iSCSI units.
#pragma once

#include <memory>
#include <vector>

#include "sim/clock.h"
#include "sim/device.h"
#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "sim/scenario.h"

namespace sim {

// The scenario's faults as the fault injector takes them.
FaultPlan ToFaultPlan(const ScenarioFaults& faults);
// The supported drive of the scenario: `config` (the front end's) with the scenario's items for
// the drive applied over it.
KdrDriveConfig ToDriveConfig(const ScenarioDrive& drive, const KdrDriveConfig& config);

class ScenarioDevices {
 public:
  // The scenario's supported drives are drives of `model`.
  ScenarioDevices(const Scenario& scenario, Clock& clock, const KdrDriveConfig& config,
                  const DriveModel& model = kSupportedDrive);
  ScenarioDevices(const ScenarioDevices&) = delete;
  ScenarioDevices& operator=(const ScenarioDevices&) = delete;

  uint32_t count() const { return static_cast<uint32_t>(order_.size()); }
  // The i-th device as the bus should see it.
  Device& at(uint32_t i) { return *order_[i]; }
  // All of them, in that order.
  const std::vector<Device*>& all() const { return order_; }
  // The first supported drive, or nullptr when the scenario has none.
  KdrDrive* supportedDrive() { return drives_.empty() ? nullptr : drives_.front().get(); }

 private:
  std::vector<std::unique_ptr<KdrDrive>> drives_;
  std::vector<std::unique_ptr<BasicDevice>> others_;
  std::vector<std::unique_ptr<FaultyDevice>> wrappers_;
  std::vector<Device*> order_;
};

}  // namespace sim
