// The Linux tool names drives by their paths: only /dev/srN (N below 24, as the kernel writes
// it) names one, after symbolic links (/dev/cdrom) are followed. It reaches them through the
// numbered transport handed to it, here the simulated devices in number order.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/console/optical_drives.h"
#include "app/console/tool_output.h"
#include "app/update_dialog.h"
#include "sim/device_transport.h"
#include "tests/support/system_os.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(OpticalDrivePaths, OnlySrDevicesNameADrive) {
  struct Case {
    const char* path;
    int index;
  };
  const Case cases[] = {
      {"/dev/sr0", 0},   {"/dev/sr9", 9},    {"/dev/sr23", 23}, {"/dev/sr24", 24},
      {"/dev/sr01", -1}, {"/dev/sr", -1},    {"/dev/srx", -1},  {"/dev/sr1x", -1},
      {"/dev/sda", -1},  {"/dev/sg0", -1},   {"", -1},          {"/dev/sr100", 100},
      {"/dev/sr-1", -1}, {"sr0", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(SrIndexOfPath(c.path), c.index) << c.path;
  EXPECT_EQ(SrPath(3), "/dev/sr3");
}

// A path is judged by what it resolves to: a link named like a drive that points elsewhere is
// not one.
TEST(OpticalDrivePaths, ALinkIsJudgedByItsTarget) {
  testsupport::TempFolder folder;
  const std::string dev = folder.path() + "/dev";
  ASSERT_EQ(mkdir(dev.c_str(), 0700), 0);
  const std::string link = dev + "/sr0";
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  EXPECT_EQ(SrIndexOfPath(link), -1);
}

// /dev/sr0 a disk, sr1 another model, sr2 the supported drive, sr3 a drive that fails INQUIRY.
class SimulatedSrDevices : public ::testing::Test {
 protected:
  sim::BasicDevice disk_{sim::DiskIdentity()};
  sim::BasicDevice other_{sim::OtherOpticalIdentity()};
  sim::BasicDevice supported_{sim::SupportedDriveIdentity()};
  sim::FailingInquiryDevice silent_{sim::OtherOpticalIdentity()};
  std::unique_ptr<platform::WindowsOs> os_ = testsupport::NewSystemOs();
  sim::DeviceTransport devices_{*os_, {&disk_, &other_, &supported_, &silent_}};
};

TEST_F(SimulatedSrDevices, ListShowsTheOpticalDrivesThatAnswerByPath) {
  const std::vector<OpticalDrive> drives = ListOpticalDrives(devices_);
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].path, "/dev/sr1");
  EXPECT_EQ(drives[0].vendor, "OTHERCO");
  EXPECT_EQ(drives[0].product, "DVD-ROM DR-1600");
  EXPECT_EQ(drives[0].revision, "1.02");
  EXPECT_FALSE(drives[0].supported);
  EXPECT_EQ(drives[1].path, "/dev/sr2");
  EXPECT_EQ(drives[1].revision, "TR07");
  EXPECT_TRUE(drives[1].supported);
  EXPECT_EQ(devices_.openCount(), 0u);  // every device it opened is closed again
}

struct ChosenCase {
  const char* path;
  bool accepted;
  const char* reason;
};

TEST_F(SimulatedSrDevices, ChosenDeviceMustBeTheSupportedModel) {
  const ChosenCase cases[] = {
      {"/dev/sr2", true, ""},
      {"/dev/sr0", false, "/dev/sr0 is not an optical drive (device type 0)"},
      {"/dev/sr1", false,
       "/dev/sr1 holds OTHERCO DVD-ROM DR-1600 1.02, not the supported KORVADSK RW/DVD KDR-7305C"},
      {"/dev/sr3", false, "/dev/sr3 does not answer INQUIRY"},
      {"/dev/sr4", false, "cannot open /dev/sr4 (/dev/sr4)"},
      {"/dev/sda", false, "/dev/sda is not an optical drive: those are /dev/sr0, /dev/sr1, ..."},
  };
  for (const ChosenCase& c : cases) {
    SCOPED_TRACE(c.path);
    int index = -1;
    std::string reason;
    EXPECT_EQ(CheckChosenDevice(devices_, c.path, index, reason), c.accepted);
    EXPECT_EQ(reason, c.reason);
    if (c.accepted) {
      EXPECT_EQ(index, 2);
    }
  }
  EXPECT_EQ(devices_.openCount(), 0u);
}

// The update's drives: the optical ones by path (or the one chosen), commands carried to them,
// and their devices closed when the transport ends, after the records are freed.
TEST_F(SimulatedSrDevices, PathTransportDiscoversByPathAndOwnsItsDevices) {
  struct Case {
    int onlyIndex;
    std::vector<std::string> paths;
  };
  const Case cases[] = {{-1, {"/dev/sr1", "/dev/sr2"}}, {2, {"/dev/sr2"}}, {0, {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.onlyIndex);
    {
      PathTransport drives(*os_, devices_, c.onlyIndex);
      DriveList list{};
      drives.Discover(list);
      std::vector<std::string> paths;
      for (uint32_t i = 0; i < list.count; ++i) paths.push_back(drives.PathOf(*list.records[i]));
      EXPECT_EQ(paths, c.paths);
      EXPECT_EQ(devices_.openCount(), c.paths.size());
      drives.ReleaseDrives(list);
      EXPECT_EQ(list.count, 0u);
      EXPECT_EQ(devices_.openCount(), c.paths.size());  // the records named them; still open
    }
    EXPECT_EQ(devices_.openCount(), 0u);
  }
}

TEST_F(SimulatedSrDevices, CommandsAndTheRevisionReadReachTheDiscoveredDrive) {
  PathTransport drives(*os_, devices_, 2);
  DriveList list{};
  drives.Discover(list);
  ASSERT_EQ(list.count, 1u);
  uint8_t sense[kSenseAreaSize];
  const uint8_t stopUnit[6] = {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00};
  ScsiRequest stop{list.records[0], 0, 0, nullptr, sizeof stopUnit, stopUnit, sense, 0};
  EXPECT_EQ(drives.Send(stop), ScsiOutcome::kGood);
  EXPECT_FALSE(supported_.started());
  supported_.SetRevision("TR08");
  std::string revision;
  EXPECT_TRUE(ReadRevision(*os_, drives, *list.records[0], 1, revision));
  EXPECT_EQ(revision, "TR08");
  drives.ReleaseDrives(list);
}

// After programming the drive is found again by its identity, on fresh handles: it may answer
// under another number, and a device of another model, or one whose INQUIRY stops before the
// revision, is not it.
TEST(FindDriveAgain, FindsTheSameModelWhereverItAnswers) {
  struct Short : sim::BasicDevice {
    Short() : sim::BasicDevice(sim::SupportedDriveIdentity()) {}
    sim::Outcome Execute(const sim::Command& command) override {
      sim::Outcome outcome = sim::BasicDevice::Execute(command);
      if (command.cdb[0] == 0x12) outcome.residual = command.dataLength - 30;  // no revision
      return outcome;
    }
  };
  sim::BasicDevice other{sim::OtherOpticalIdentity()};
  Short cutShort;
  sim::BasicDevice moved{sim::SupportedDriveIdentity()};
  moved.SetRevision("TR08");
  const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
  sim::DeviceTransport devices(*os, {&other, &cutShort, &moved});
  OpticalDrive found;
  ASSERT_TRUE(FindDriveAgain(*os, devices, 1, "KORVADSK", "RW/DVD KDR-7305C", 1, found));
  EXPECT_EQ(found.path, "/dev/sr2");
  EXPECT_EQ(found.revision, "TR08");
  EXPECT_FALSE(FindDriveAgain(*os, devices, 0, "KORVADSK", "RW/DVD KDR-7306C", 2, found));
  EXPECT_EQ(devices.openCount(), 0u);
}

// Text a drive reports never moves the terminal to a new line, wherever it is shown.
TEST(InquiryTextTest, ControlCharactersOfADriveAreEscaped) {
  const char field[16] = {'T', 'R', '\n', '8', '\r', ' ', ' ', '\0'};
  EXPECT_EQ(InquiryText(field, 16), "TR\\x0a8\\x0d");
}

// The dialog lists eight drives; a supported one found after eight others still gets a place,
// taken from the last drive of another model, so that it can be updated as --list says.
TEST(PathTransportTest, ASupportedDriveBeyondTheEighthIsListed) {
  std::vector<std::unique_ptr<sim::BasicDevice>> others;
  std::vector<sim::Device*> devices;
  for (int i = 0; i < 9; ++i) {
    others.push_back(std::make_unique<sim::BasicDevice>(sim::OtherOpticalIdentity()));
    devices.push_back(others.back().get());
  }
  sim::BasicDevice supported{sim::SupportedDriveIdentity()};
  devices.push_back(&supported);
  const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
  sim::DeviceTransport numbered(*os, devices);
  {
    PathTransport drives(*os, numbered, -1);
    DriveList list{};
    drives.Discover(list);
    ASSERT_EQ(list.count, kMaxDrives);
    EXPECT_EQ(drives.PathOf(*list.records[0]), "/dev/sr0");
    EXPECT_EQ(drives.PathOf(*list.records[kMaxDrives - 1]), "/dev/sr9");
    EXPECT_TRUE(MatchesSupportedModel(list.records[kMaxDrives - 1]->identity));
    EXPECT_EQ(numbered.openCount(), kMaxDrives);  // the one it replaced is closed
    drives.ReleaseDrives(list);
  }
  EXPECT_EQ(numbered.openCount(), 0u);
}

}  // namespace
