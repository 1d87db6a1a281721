// The scenario items for the prepare command, missed progress polls, a slow block and the time
// scale, and how they reach the fault injector.
#include <gtest/gtest.h>

#include <string>

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

TEST(ScenarioItems, RefusesBadValues) {
  for (const char* text : {"time-scale=0", "time-scale=1001", "time-scale", "time-scale=x",
                           "missed-answers", "missed-answers=-1", "prepare-fail=1",
                           "slow-write=2", "slow-write=x:1"}) {
    sim::Scenario s{};
    char error[128];
    EXPECT_FALSE(sim::ParseScenario(text, s, error, sizeof error)) << text;
    EXPECT_NE(std::string(error), "") << text;
  }
}

}  // namespace
