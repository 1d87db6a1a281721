// The scenario items for the prepare command, missed progress polls, a slow block and the time
// scale, the supported drive's own ways and the host's side of the bus, and how they reach the
// fault injector, the drive's configuration and the devices built for a bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/scenario.h"
#include "sim/scenario_devices.h"

namespace {

TEST(ScenarioItems, PrepareFailMissedAnswersAndTimeScale) {
  sim::Scenario s{};
  char error[128];
  ASSERT_TRUE(sim::ParseScenario("prepare-fail,missed-answers=3,time-scale=100,slow-write=2:1500",
                                 s, error, sizeof error))
      << error;
  EXPECT_TRUE(s.faults.prepareFail);
  EXPECT_EQ(s.faults.missedAnswers, 3u);
  EXPECT_EQ(s.timeScale, 100u);
  EXPECT_TRUE(sim::HasFaults(s.faults));
  const sim::FaultPlan plan = sim::ToFaultPlan(s.faults);
  EXPECT_TRUE(plan.failPrepare);
  EXPECT_EQ(plan.missedSenseAnswers, 3u);
  EXPECT_EQ(plan.slowWriteBlock, 2);
  EXPECT_EQ(plan.slowWriteMs, 1500u);

  // Real time unless the scenario says otherwise; a time scale alone injects no fault.
  ASSERT_TRUE(sim::ParseScenario("", s, error, sizeof error));
  EXPECT_EQ(s.timeScale, 1u);
  ASSERT_TRUE(sim::ParseScenario("time-scale=1000", s, error, sizeof error));
  EXPECT_FALSE(sim::HasFaults(s.faults));
}

// The front end's own drive configuration, which the scenario's items change.
sim::KdrDriveConfig FrontEndConfig() {
  sim::KdrDriveConfig config;
  config.programMs = 1500;
  config.finishMs = 1000;
  return config;
}

// Each item as the drive's configuration, the fault plan and the scenario take it.
TEST(ScenarioItems, EachItemReachesTheDriveOrTheHostSide) {
  using Check = void (*)(const sim::Scenario&, const sim::KdrDriveConfig&, const sim::FaultPlan&);
  const struct {
    const char* text;
    Check check;
  } cases[] = {
      {"", [](const sim::Scenario& s, const sim::KdrDriveConfig& c, const sim::FaultPlan& p) {
         EXPECT_FALSE(c.commitFills);
         EXPECT_EQ(c.senseLength, 18u);
         EXPECT_EQ(c.inquiryLength, 36u);
         EXPECT_FALSE(c.unitAttentionAtPowerOn);
         EXPECT_EQ(c.unitAttentionAtCommand, 0u);
         EXPECT_FALSE(c.unitAttentionAfterProgramming);
         EXPECT_EQ(c.finishMs, 1000u);  // the front end's
         EXPECT_EQ(c.end, sim::ProgrammingEnd::kIdle);
         EXPECT_EQ(c.vanishMs, 2000u);
         EXPECT_FALSE(c.disc);
         EXPECT_EQ(c.discInsertMs, -1);
         EXPECT_EQ(c.notReadyMs, 0u);
         EXPECT_EQ(c.revisionAfterUpdate, "TR08");
         EXPECT_EQ(p.residual, sim::ResidualReport::kExact);
         EXPECT_FALSE(p.silentAfterCommit);
         EXPECT_EQ(p.senseKey, 0x04);
         EXPECT_EQ(p.asc, 0x44);
         EXPECT_EQ(p.ascq, 0x00);
         EXPECT_EQ(s.ntAlignmentMask, 0u);
         EXPECT_FALSE(sim::HasFaults(s.faults));
       }},
      {"commit-fills", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                          const sim::FaultPlan&) { EXPECT_TRUE(c.commitFills); }},
      {"same-revision", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                           const sim::FaultPlan&) { EXPECT_EQ(c.revisionAfterUpdate, "TR07"); }},
      {"sense-length=8,inquiry-length=5",
       [](const sim::Scenario&, const sim::KdrDriveConfig& c, const sim::FaultPlan&) {
         EXPECT_EQ(c.senseLength, 8u);
         EXPECT_EQ(c.inquiryLength, 5u);
       }},
      {"sense-length=0,inquiry-length=36",
       [](const sim::Scenario&, const sim::KdrDriveConfig& c, const sim::FaultPlan&) {
         EXPECT_EQ(c.senseLength, 0u);
         EXPECT_EQ(c.inquiryLength, 36u);
       }},
      {"residual=none", [](const sim::Scenario& s, const sim::KdrDriveConfig&,
                           const sim::FaultPlan& p) {
         EXPECT_EQ(p.residual, sim::ResidualReport::kNone);
         EXPECT_TRUE(sim::HasFaults(s.faults));
       }},
      {"residual=bogus", [](const sim::Scenario&, const sim::KdrDriveConfig&,
                            const sim::FaultPlan& p) {
         EXPECT_EQ(p.residual, sim::ResidualReport::kBogus);
       }},
      {"residual=bogus,residual=exact", [](const sim::Scenario& s, const sim::KdrDriveConfig&,
                                           const sim::FaultPlan& p) {
         EXPECT_EQ(p.residual, sim::ResidualReport::kExact);
         EXPECT_FALSE(sim::HasFaults(s.faults));
       }},
      {"ua-power-on,ua-at=7,ua-after-programming",
       [](const sim::Scenario&, const sim::KdrDriveConfig& c, const sim::FaultPlan&) {
         EXPECT_TRUE(c.unitAttentionAtPowerOn);
         EXPECT_EQ(c.unitAttentionAtCommand, 7u);
         EXPECT_TRUE(c.unitAttentionAfterProgramming);
       }},
      {"finish=0,end=reset", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                                const sim::FaultPlan&) {
         EXPECT_EQ(c.finishMs, 0u);
         EXPECT_EQ(c.end, sim::ProgrammingEnd::kReset);
       }},
      {"end=vanish", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                        const sim::FaultPlan&) {
         EXPECT_EQ(c.end, sim::ProgrammingEnd::kVanish);
         EXPECT_EQ(c.vanishMs, 2000u);
       }},
      {"end=vanish,vanish-ms=500,end=idle",
       [](const sim::Scenario&, const sim::KdrDriveConfig& c, const sim::FaultPlan&) {
         EXPECT_EQ(c.end, sim::ProgrammingEnd::kIdle);
         EXPECT_EQ(c.vanishMs, 500u);
       }},
      {"hang", [](const sim::Scenario& s, const sim::KdrDriveConfig&, const sim::FaultPlan& p) {
         EXPECT_TRUE(p.silentAfterCommit);
         EXPECT_TRUE(sim::HasFaults(s.faults));
       }},
      {"disc", [](const sim::Scenario&, const sim::KdrDriveConfig& c, const sim::FaultPlan&) {
         EXPECT_TRUE(c.disc);
         EXPECT_EQ(c.discInsertMs, -1);
       }},
      {"disc-insert=0", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                           const sim::FaultPlan&) { EXPECT_EQ(c.discInsertMs, 0); }},
      {"disc-insert=4000000000", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                                    const sim::FaultPlan&) {
         EXPECT_EQ(c.discInsertMs, 4000000000);
       }},
      {"not-ready=2500", [](const sim::Scenario&, const sim::KdrDriveConfig& c,
                            const sim::FaultPlan&) { EXPECT_EQ(c.notReadyMs, 2500u); }},
      {"write-fail-sense=02/3a/0F,commit-fail",
       [](const sim::Scenario&, const sim::KdrDriveConfig&, const sim::FaultPlan& p) {
         EXPECT_TRUE(p.failCommit);
         EXPECT_EQ(p.senseKey, 0x02);
         EXPECT_EQ(p.asc, 0x3A);
         EXPECT_EQ(p.ascq, 0x0F);
       }},
      {"nt-alignment=0x1000", [](const sim::Scenario& s, const sim::KdrDriveConfig&,
                                 const sim::FaultPlan&) { EXPECT_EQ(s.ntAlignmentMask, 4096u); }},
      {"nt-alignment=4095", [](const sim::Scenario& s, const sim::KdrDriveConfig&,
                               const sim::FaultPlan&) { EXPECT_EQ(s.ntAlignmentMask, 4095u); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sim::Scenario s{};
    char error[160];
    ASSERT_TRUE(sim::ParseScenario(c.text, s, error, sizeof error)) << error;
    c.check(s, sim::ToDriveConfig(s.drive, FrontEndConfig()), sim::ToFaultPlan(s.faults));
  }
}

TEST(ScenarioItems, RefusesBadValues) {
  for (const char* text : {"time-scale=0", "time-scale=1001", "time-scale", "time-scale=x",
                           "missed-answers", "missed-answers=-1", "prepare-fail=1",
                           "slow-write=2", "slow-write=x:1", "sense-length=19", "inquiry-length=37",
                           "inquiry-length=", "ua-at=0", "ua-at", "residual=some", "residual",
                           "end=stop", "end=", "vanish-ms=1.5", "finish", "finish=-1",
                           "disc-insert=x", "not-ready=99999999999", "write-fail-sense=04/44",
                           "write-fail-sense=104/44/00", "write-fail-sense=04/44/0g",
                           "write-fail-sense=04/44/00/00", "write-fail-sense=//",
                           "nt-alignment=0x", "nt-alignment=0x123456789", "nt-alignment=-1",
                           "nt-alignment=0xfz", "disc=1", "commit-fills=yes", "ua-power-on=",
                           "hang=1"}) {
    sim::Scenario s{};
    char error[128];
    EXPECT_FALSE(sim::ParseScenario(text, s, error, sizeof error)) << text;
    EXPECT_NE(std::string(error), "") << text;
    EXPECT_EQ(std::string(error).find('\n'), std::string::npos) << text;
  }
  const struct {
    const char* text;
    const char* error;
  } said[] = {
      {"sense-length=19", "sense-length takes a byte count from 0 to 18: \"sense-length=19\""},
      {"drives=kdr,end=stop", "end is idle, reset or vanish: \"end=stop\""},
      {"residual", "residual is exact, none or bogus: \"residual\""},
      {"disc=1", "this scenario item takes no value: \"disc=1\""},
      {"write-fail-sense=4/44",
       "write-fail-sense takes KEY/ASC/ASCQ in hexadecimal, as 04/44/00: "
       "\"write-fail-sense=4/44\""},
  };
  for (const auto& c : said) {
    sim::Scenario s{};
    char error[160];
    EXPECT_FALSE(sim::ParseScenario(c.text, s, error, sizeof error));
    EXPECT_EQ(std::string(error), c.error);
  }
}

// INQUIRY with 96 bytes offered, through the i-th device the bus sees.
uint32_t InquiryResidual(sim::ScenarioDevices& devices, uint32_t i) {
  const uint8_t cdb[6] = {0x12, 0, 0, 0, 96, 0};
  uint8_t data[96];
  return devices.at(i).Execute(sim::Command{cdb, 6, sim::kDirIn, data, 96, 0}).residual;
}

// The drive's items reach every supported drive; the host stack's residual reporting reaches
// every device on the bus.
TEST(ScenarioItems, TheDevicesForABusCarryTheItems) {
  const struct {
    const char* text;
    std::vector<uint32_t> residuals;  // of kdr, other, disk
  } cases[] = {
      {"drives=kdr+other+disk", {60, 60, 60}},
      {"drives=kdr+other+disk,inquiry-length=5", {91, 60, 60}},
      {"drives=kdr+other+disk,residual=none", {0, 0, 0}},
      {"drives=kdr+other+disk,residual=bogus,inquiry-length=5", {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sim::Scenario s{};
    char error[128];
    ASSERT_TRUE(sim::ParseScenario(c.text, s, error, sizeof error)) << error;
    sim::VirtualClock clock;
    sim::ScenarioDevices devices(s, clock, FrontEndConfig());
    ASSERT_EQ(devices.count(), 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(InquiryResidual(devices, i), c.residuals[i]) << i;
  }
}

}  // namespace
