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
  plan.senseKey = faults.failSense[0];
  plan.asc = faults.failSense[1];
  plan.ascq = faults.failSense[2];
  switch (faults.residual) {
    case ScenarioResidual::kExact:
      plan.residual = ResidualReport::kExact;
      break;
    case ScenarioResidual::kNone:
      plan.residual = ResidualReport::kNone;
      break;
    case ScenarioResidual::kBogus:
      plan.residual = ResidualReport::kBogus;
      break;
  }
  return plan;
}

KdrDriveConfig ToDriveConfig(const ScenarioDrive& drive, const KdrDriveConfig& config) {
  KdrDriveConfig own = config;
  if (drive.sameRevision) own.revisionAfterUpdate = own.revision;
  own.commitFills = drive.commitFills;
  own.senseLength = drive.senseLength;
  own.inquiryLength = drive.inquiryLength;
  own.unitAttentionAtPowerOn = drive.uaPowerOn;
  own.unitAttentionAtCommand = drive.uaAtCommand;
  own.unitAttentionAfterProgramming = drive.uaAfterProgramming;
  if (drive.finishGiven) own.finishMs = drive.finishMs;
  switch (drive.end) {
    case ScenarioEnd::kIdle:
      own.end = ProgrammingEnd::kIdle;
      break;
    case ScenarioEnd::kReset:
      own.end = ProgrammingEnd::kReset;
      break;
    case ScenarioEnd::kVanish:
      own.end = ProgrammingEnd::kVanish;
      break;
  }
  own.vanishMs = drive.vanishMs;
  own.disc = drive.disc;
  own.discInsertMs = drive.discInsertGiven ? int64_t{drive.discInsertMs} : -1;
  own.notReadyMs = drive.notReadyMs;
  return own;
}

ScenarioDevices::ScenarioDevices(const Scenario& scenario, Clock& clock,
                                 const KdrDriveConfig& config, const DriveModel& model) {
  const bool faulty = HasFaults(scenario.faults);
  const FaultPlan plan = ToFaultPlan(scenario.faults);
  // Other devices see only the host stack's part of the plan.
  FaultPlan hostOnly;
  hostOnly.residual = plan.residual;
  const bool hostWrapped = plan.residual != ResidualReport::kExact;
  const KdrDriveConfig driveConfig = ToDriveConfig(scenario.drive, config);
  for (uint32_t i = 0; i < scenario.deviceCount; ++i) {
    Device* device = nullptr;
    switch (scenario.devices[i]) {
      case DeviceKind::kSupported:
        drives_.push_back(std::make_unique<KdrDrive>(clock, model, driveConfig));
        device = drives_.back().get();
        if (faulty) {
          wrappers_.push_back(std::make_unique<FaultyDevice>(*device, plan, model, &clock));
          device = wrappers_.back().get();
        }
        break;
      case DeviceKind::kOtherOptical:
      case DeviceKind::kDisk:
        others_.push_back(std::make_unique<BasicDevice>(
            scenario.devices[i] == DeviceKind::kDisk ? DiskIdentity() : OtherOpticalIdentity()));
        device = others_.back().get();
        if (hostWrapped) {
          wrappers_.push_back(std::make_unique<FaultyDevice>(*device, hostOnly, &clock));
          device = wrappers_.back().get();
        }
        break;
    }
    order_.push_back(device);
  }
}

}  // namespace sim
