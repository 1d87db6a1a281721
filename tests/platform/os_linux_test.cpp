// The Linux binding's own behaviour where it needs no device, terminal or privilege.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/capabilities.h"
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

// A thread that cannot be started is a false result, as the seam's contract says, not an
// exception that aborts the program. The failure is injected: nothing is exhausted.
TEST(LinuxOsTest, ThreadThatCannotStartIsAFalseResult) {
  const platform::ScopedOs restore;
  platform::os() = platform::RealOs();
  static int injected = 0;
  for (int error : {EAGAIN, ENOMEM, EPERM}) {
    injected = error;
    platform::os().startPosixThread = [](void* (*)(void*), void*) { return injected; };
    static bool ran = false;
    EXPECT_FALSE(platform::os().startThread([](void*) { ran = true; }, nullptr)) << error;
    EXPECT_FALSE(ran);
  }
  EXPECT_FALSE(platform::RealOs().startThread(nullptr, nullptr));
}

// A started thread runs with its argument and leaves SIGINT, SIGTERM and SIGHUP to the main
// thread, so they never interrupt its drive commands; the caller's own mask is unchanged.
TEST(LinuxOsTest, StartedThreadRunsWithTheEndSignalsBlocked) {
  const platform::Os os = platform::RealOs();
  struct Seen {
    platform::Handle done;
    sigset_t mask;
  } seen{os.createEvent(), {}};
  ASSERT_NE(seen.done, nullptr);
  sigset_t before;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  ASSERT_TRUE(os.startThread(
      [](void* arg) {
        auto* s = static_cast<Seen*>(arg);
        pthread_sigmask(SIG_SETMASK, nullptr, &s->mask);
        platform::RealOs().setEvent(s->done);
      },
      &seen));
  os.waitEvent(seen.done);
  os.closeHandle(seen.done);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_EQ(sigismember(&seen.mask, signo), 1) << signo;
  }
  sigset_t after;
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_EQ(sigismember(&after, signo), sigismember(&before, signo)) << signo;
  }
}

}  // namespace

namespace {

// Only the effective set counts: a permitted or bounding capability is not held, and neither is
// one that root has dropped.
TEST(CapabilitiesTest, OnlyTheEffectiveSetCounts) {
  const struct {
    const char* line;
    bool rawio;
  } cases[] = {
      {"CapEff:\t000001ffffffffff\n", true},   // root with every capability
      {"CapEff:\t00000000a80425fb\n", false},  // root in a container without CAP_SYS_RAWIO
      {"CapEff:\t0000000000020000\n", true},   // CAP_SYS_RAWIO alone
      {"CapEff:\t0000000000000000\n", false},
      {"CapPrm:\t000001ffffffffff\n", false},
      {"CapBnd:\t000001ffffffffff\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::CapabilityInStatusLine(c.line, platform::kCapSysRawio), c.rawio) << c.line;
  }
}

}  // namespace
