// The Linux binding's own behaviour where it needs no device, terminal or privilege.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/capabilities.h"
#include "platform/linux/linux_os.h"

namespace {

// A kernel whose thread start fails with the error set, and which lists a directory.
class ThreadlessKernel final : public platform::Kernel {
 public:
  int openNode(const char*, int) override { return -1; }
  int ioctlNode(int, unsigned long, void*) override { return -1; }
  void closeNode(int) override {}
  int startPosixThread(void* (*)(void*), void*) override { return error; }
  bool listDirectory(const char*, std::vector<std::string>&) override { return false; }
  int error = EAGAIN;
};

class LinuxOsTest : public ::testing::Test {
 protected:
  platform::SystemKernel kernel_;
  platform::LinuxOs os_{kernel_};
};

TEST_F(LinuxOsTest, ImageStorageIsZeroFilledAndWritable) {
  platform::Os& os = os_;
  const size_t size = 512 * 1024;
  auto* image = static_cast<uint8_t*>(os.allocImage(size));
  ASSERT_NE(image, nullptr);
  for (size_t i = 0; i < size; i += 4093) EXPECT_EQ(image[i], 0) << i;
  std::memset(image, 0xA5, size);
  os.freeImage(image);
}

TEST_F(LinuxOsTest, HeapRecordsAreZeroFilled) {
  platform::Os& os = os_;
  auto* block = static_cast<uint8_t*>(os.heapAlloc(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  os.heapFree(block);
}

TEST_F(LinuxOsTest, ApplicationNameIsTheProgramBaseName) {
  EXPECT_STREQ(os_.applicationName(), "platform_test");
}

// Nobody is asked: the answer that changes nothing is taken.
TEST_F(LinuxOsTest, MessageBoxesTakeTheSafeAnswer) {
  platform::Os& os = os_;
  EXPECT_EQ(os.messageBox(nullptr, "text", "NOTE", platform::kMbOk), platform::kIdOk);
  EXPECT_EQ(os.messageBox(nullptr, "text", "NOTE", platform::kMbOkCancel | platform::kMbSystemModal),
            platform::kIdCancel);
  EXPECT_EQ(os.messageBox(nullptr, "text", "NOTE", platform::kMbYesNo), platform::kIdNo);
}

// A thread that cannot be started is a false result, as the binding's contract says, not an
// exception that aborts the program. The failure is injected: nothing is exhausted.
TEST_F(LinuxOsTest, ThreadThatCannotStartIsAFalseResult) {
  ThreadlessKernel kernel;
  platform::LinuxOs os(kernel);
  for (int error : {EAGAIN, ENOMEM, EPERM}) {
    kernel.error = error;
    static bool ran = false;
    EXPECT_FALSE(os.startThread([](void*) { ran = true; }, nullptr)) << error;
    EXPECT_FALSE(ran);
  }
  EXPECT_FALSE(os_.startThread(nullptr, nullptr));
}

TEST_F(LinuxOsTest, NeverRestartsTheComputer) { EXPECT_FALSE(os_.restartComputer()); }

// A started thread runs with its argument and leaves SIGINT, SIGTERM and SIGHUP to the main
// thread, so they never interrupt its drive commands; the caller's own mask is unchanged.
TEST_F(LinuxOsTest, StartedThreadRunsWithTheEndSignalsBlocked) {
  platform::Os& os = os_;
  struct Seen {
    std::mutex mutex;
    std::condition_variable signalled;
    bool done = false;
    sigset_t mask;
  } seen;
  sigset_t before;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  ASSERT_TRUE(os.startThread(
      [](void* arg) {
        auto* s = static_cast<Seen*>(arg);
        std::lock_guard<std::mutex> lock(s->mutex);
        pthread_sigmask(SIG_SETMASK, nullptr, &s->mask);
        s->done = true;
        s->signalled.notify_all();
      },
      &seen));
  {
    std::unique_lock<std::mutex> lock(seen.mutex);
    seen.signalled.wait(lock, [&seen] { return seen.done; });
  }
  for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
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
