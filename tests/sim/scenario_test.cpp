// The scenario language of --simulate and FWLOADER_SIM.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/scenario.h"

namespace {

using sim::DeviceKind;

std::vector<DeviceKind> Devices(const sim::Scenario& s) {
  return std::vector<DeviceKind>(s.devices, s.devices + s.deviceCount);
}

TEST(Scenario, DefaultIsOneHealthySupportedDrive) {
  for (const char* text : {static_cast<const char*>(nullptr), ""}) {
    sim::Scenario s;
    char error[128];
    ASSERT_TRUE(sim::ParseScenario(text, s, error, sizeof error));
    EXPECT_EQ(Devices(s), std::vector<DeviceKind>{DeviceKind::kSupported});
    EXPECT_FALSE(sim::HasFaults(s.faults));
  }
}

TEST(Scenario, EveryItem) {
  sim::Scenario s;
  char error[128];
  ASSERT_TRUE(sim::ParseScenario(
      "drives=other+kdr+disk,write-fail=3:6,verify-corrupt=127:2,readback-fail,commit-fail,"
      "skip-end-window,hang,same-revision",
      s, error, sizeof error))
      << error;
  EXPECT_EQ(Devices(s), (std::vector<DeviceKind>{DeviceKind::kOtherOptical, DeviceKind::kSupported,
                                                 DeviceKind::kDisk}));
  EXPECT_EQ(s.faults.writeFail.block, 3u);
  EXPECT_EQ(s.faults.writeFail.times, 6u);
  EXPECT_EQ(s.faults.verifyCorrupt.block, 127u);
  EXPECT_EQ(s.faults.verifyCorrupt.times, 2u);
  EXPECT_TRUE(s.faults.readbackFail);
  EXPECT_TRUE(s.faults.commitFail);
  EXPECT_TRUE(s.faults.skipEndWindow);
  EXPECT_TRUE(s.faults.hang);
  EXPECT_TRUE(s.drive.sameRevision);

  ASSERT_TRUE(sim::ParseScenario("drives=none", s, error, sizeof error));
  EXPECT_EQ(s.deviceCount, 0u);
}

TEST(Scenario, RefusesMalformedItemsAndSaysWhich) {
  const char* bad[] = {"drives=", "drives=kdr+", "drives=cdrom", "write-fail=3", "write-fail=a:1",
                       "write-fail=1:", "verify-corrupt", "hang=1", "kdr", ",", "drives=kdr,,hang",
                       "write-fail=99999999999:1",
                       "drives=kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr+kdr"};
  for (const char* text : bad) {
    sim::Scenario s;
    char error[128];
    EXPECT_FALSE(sim::ParseScenario(text, s, error, sizeof error)) << text;
    EXPECT_NE(std::string(error), "") << text;
  }
  sim::Scenario s;
  char error[128];
  ASSERT_FALSE(sim::ParseScenario("drives=kdr,wrte-fail=1:1", s, error, sizeof error));
  EXPECT_EQ(std::string(error), "unknown scenario item: \"wrte-fail=1:1\"");
}

}  // namespace
