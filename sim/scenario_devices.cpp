#include "sim/scenario_devices.h"

namespace sim {

FaultPlan ToFaultPlan(const ScenarioFaults& faults) {
  FaultPlan plan;
  if (faults.writeFail.times != 0) {
    plan.failWriteBlock = static_cast<int32_t>(faults.writeFail.block);
    plan.failWriteTimes = faults.writeFail.times;
  }
  if (faults.verifyCorrupt.times != 0) {
    plan.corruptReadBlock = static_cast<int32_t>(faults.verifyCorrupt.block);
    plan.corruptReadTimes = faults.verifyCorrupt.times;
  }
  plan.failBootReadBack = faults.readbackFail;
  plan.failCommit = faults.commitFail;
  plan.skipEndWindow = faults.skipEndWindow;
  plan.silentAfterCommit = faults.hang;
  plan.failPrepare = faults.prepareFail;
  plan.missedSenseAnswers = faults.missedAnswers;
  if (faults.slowWrite.times != 0) {
    plan.slowWriteBlock = static_cast<int32_t>(faults.slowWrite.block);
    plan.slowWriteMs = faults.slowWrite.times;
  }
  return plan;
}

ScenarioDevices::ScenarioDevices(const Scenario& scenario, const Clock& clock,
                                 const KdrDriveConfig& config) {
  const bool faulty = HasFaults(scenario.faults);
  const FaultPlan plan = ToFaultPlan(scenario.faults);
  for (uint32_t i = 0; i < scenario.deviceCount; ++i) {
    switch (scenario.devices[i]) {
      case DeviceKind::kSupported: {
        KdrDriveConfig own = config;
        if (scenario.sameRevision) own.revisionAfterUpdate = own.revision;
        drives_.push_back(std::make_unique<KdrDrive>(clock, own));
        if (faulty) {
          wrappers_.push_back(std::make_unique<FaultyDevice>(*drives_.back(), plan));
          order_.push_back(wrappers_.back().get());
        } else {
          order_.push_back(drives_.back().get());
        }
        break;
      }
      case DeviceKind::kOtherOptical:
        others_.push_back(std::make_unique<BasicDevice>(OtherOpticalIdentity()));
        order_.push_back(others_.back().get());
        break;
      case DeviceKind::kDisk:
        others_.push_back(std::make_unique<BasicDevice>(DiskIdentity()));
        order_.push_back(others_.back().get());
        break;
    }
  }
}

}  // namespace sim
