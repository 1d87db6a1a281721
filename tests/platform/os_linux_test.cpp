// The Linux binding's own behaviour where it needs no device, terminal or privilege.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "platform/nt_scsi.h"
#include "platform/platform.h"

namespace {

TEST(LinuxOsTest, ReportsNtFiveOne) {
  platform::VersionInfo info{};
  ASSERT_TRUE(platform::RealOs().getVersion(&info));
  EXPECT_EQ(info.platformId, platform::kPlatformWin32Nt);
  EXPECT_EQ(info.majorVersion, 5u);
  EXPECT_EQ(info.minorVersion, 1u);
}

TEST(LinuxOsTest, ManualResetEventStaysSet) {
  const platform::Os os = platform::RealOs();
  platform::Handle event = os.createEvent();
  ASSERT_NE(event, nullptr);
  os.setEvent(event);
  os.waitEvent(event);  // returns at once: the event is set
  os.waitEvent(event);  // and stays set (manual reset)
  os.closeHandle(event);
}

TEST(LinuxOsTest, OnlyPassThroughOnAnOpenDeviceIsAccepted) {
  const platform::Os os = platform::RealOs();
  EXPECT_EQ(os.openDevice("\\\\.\\b:"), platform::InvalidHandle());
  EXPECT_EQ(os.openDevice("/etc/passwd"), platform::InvalidHandle());
  PassThroughBlock block{};
  uint32_t returned = 7;
  EXPECT_FALSE(os.deviceControl(platform::InvalidHandle(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                sizeof(block.sptd), &block, sizeof(block), &returned));
  EXPECT_EQ(returned, 0u);
  platform::Handle event = os.createEvent();  // a handle, but not a device
  EXPECT_FALSE(os.deviceControl(event, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof(block.sptd),
                                &block, sizeof(block), &returned));
  os.closeHandle(event);
}

TEST(LinuxOsTest, ImageStorageIsZeroFilledAndWritable) {
  const platform::Os os = platform::RealOs();
  const size_t size = 512 * 1024;
  auto* image = static_cast<uint8_t*>(os.allocImage(size));
  ASSERT_NE(image, nullptr);
  for (size_t i = 0; i < size; i += 4093) EXPECT_EQ(image[i], 0) << i;
  std::memset(image, 0xA5, size);
  os.freeImage(image);
}

TEST(LinuxOsTest, HeapRecordsAreZeroFilled) {
  const platform::Os os = platform::RealOs();
  auto* block = static_cast<uint8_t*>(os.heapAlloc(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  os.heapFree(block);
}

TEST(LinuxOsTest, ApplicationNameIsTheProgramBaseName) {
  EXPECT_STREQ(platform::RealOs().applicationName(), "platform_test");
}

TEST(LinuxOsTest, MessageBoxWithoutTerminalTakesTheSafeAnswer) {
  if (isatty(STDIN_FILENO)) GTEST_SKIP() << "standard input is a terminal";
  const platform::Os os = platform::RealOs();
  EXPECT_EQ(os.messageBox(nullptr, "text", "NOTE", platform::kMbOk), platform::kIdOk);
  EXPECT_EQ(os.messageBox(nullptr, "text", "NOTE", platform::kMbOkCancel | platform::kMbSystemModal),
            platform::kIdCancel);
  EXPECT_EQ(os.messageBox(nullptr, "text", "NOTE", platform::kMbYesNo), platform::kIdNo);
}

}  // namespace
