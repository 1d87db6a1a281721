// The Linux tool names drives by their paths: only /dev/srN (N below 24, as the kernel writes
// it) names one, after symbolic links (/dev/cdrom) are followed.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "app/console/optical_drives.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(OpticalDrivePaths, OnlySrDevicesNameADrive) {
  struct Case {
    const char* path;
    int index;
  };
  const Case cases[] = {
      {"/dev/sr0", 0},   {"/dev/sr9", 9},    {"/dev/sr23", 23}, {"/dev/sr24", -1},
      {"/dev/sr01", -1}, {"/dev/sr", -1},    {"/dev/srx", -1},  {"/dev/sr1x", -1},
      {"/dev/sda", -1},  {"/dev/sg0", -1},   {"", -1},          {"/dev/sr100", -1},
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

}  // namespace
