// The Windows binding of the operating system, run against the real API (under wine64 in
// CI): events and threads, the heap, staging and image storage, library loading, the version
// query, the device calls' failure answers, and the firmware file's open and read. Message
// boxes and the restart need a user or would act on the machine, so they are not called here.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/win32/win32_os.h"

namespace {

platform::WindowsOs& Real() {
  static const std::unique_ptr<platform::WindowsOs> os = platform::NewWin32Os();
  return *os;
}

bool AllZero(const void* block, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(block);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(PlatformWinEvents, WaitReturnsOnceTheEventIsSetAndStaysSignalled) {
  platform::Handle event = Real().createEvent();
  ASSERT_NE(event, nullptr);
  Real().setEvent(event);
  // Manual reset: the event stays signalled, so two waits both return.
  Real().waitEvent(event);
  Real().waitEvent(event);
  Real().closeHandle(event);
}

TEST(PlatformWinEvents, EachCallMakesADistinctEvent) {
  platform::Handle first = Real().createEvent();
  platform::Handle second = Real().createEvent();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  Real().closeHandle(first);
  Real().closeHandle(second);
}

struct ThreadProbe {
  platform::Handle started;  // set by the thread once it runs
  platform::Handle release;  // set by the test to let the thread finish
  platform::Handle done;     // set by the thread as its last action
  std::atomic<int> value{0};
  std::atomic<int> seenAfterRelease{-1};
};

void ThreadBody(void* arg) {
  auto* probe = static_cast<ThreadProbe*>(arg);
  probe->value.store(42);
  Real().setEvent(probe->started);
  Real().waitEvent(probe->release);
  probe->seenAfterRelease.store(probe->value.load());
  Real().setEvent(probe->done);
}

TEST(PlatformWinThreads, StartThreadRunsTheFunctionWithItsArgumentConcurrently) {
  ThreadProbe probe;
  probe.started = Real().createEvent();
  probe.release = Real().createEvent();
  probe.done = Real().createEvent();
  ASSERT_TRUE(probe.started && probe.release && probe.done);

  ASSERT_TRUE(Real().startThread(ThreadBody, &probe));
  // The thread runs while the starter goes on: it blocks on `release` until the test sets it.
  Real().waitEvent(probe.started);
  EXPECT_EQ(probe.value.load(), 42);
  probe.value.store(7);
  Real().setEvent(probe.release);
  Real().waitEvent(probe.done);
  EXPECT_EQ(probe.seenAfterRelease.load(), 7);

  Real().closeHandle(probe.started);
  Real().closeHandle(probe.release);
  Real().closeHandle(probe.done);
}

TEST(PlatformWinMemory, HeapBlocksAreZeroFilledAndWritable) {
  constexpr size_t kSize = 300;  // a few drive records
  for (int round = 0; round < 3; ++round) {
    auto* block = static_cast<uint8_t*>(Real().heapAlloc(kSize));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, kSize));
    std::memset(block, 0xA5, kSize);  // dirty it, so that a reused block would show
    Real().heapFree(block);
  }
}

TEST(PlatformWinMemory, StagingBuffersHoldTheLargestTransferWithAlignmentSlack) {
  // The pass-through path asks for alignmentMask + dataLength bytes; 4096 is the largest block.
  constexpr size_t kSize = 2047 + 4096;
  auto* block = static_cast<uint8_t*>(Real().allocBuffer(kSize));
  ASSERT_NE(block, nullptr);
  std::memset(block, 0x5A, kSize);
  EXPECT_EQ(block[kSize - 1], 0x5A);
  Real().freeBuffer(block);
}

TEST(PlatformWinMemory, ImageStorageIsZeroFilledPageAlignedAndWholeWritable) {
  constexpr size_t kImage = 0x80000;
  auto* image = static_cast<uint8_t*>(Real().allocImage(kImage));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(image) % 4096, 0u);
  EXPECT_TRUE(AllZero(image, kImage));
  // Every page is committed read-write: touch the first and last byte of each 32 KiB bank.
  for (size_t bank = 0; bank < 16; ++bank) {
    image[bank * 0x8000] = static_cast<uint8_t>(bank);
    image[bank * 0x8000 + 0x7FFF] = static_cast<uint8_t>(~bank);
  }
  EXPECT_EQ(image[15 * 0x8000 + 0x7FFF], static_cast<uint8_t>(~15u));
  Real().freeImage(image);
}

TEST(PlatformWinLibraries, LoadsALibraryByNameAndFindsItsEntryPoint) {
  void* library = Real().loadLibrary("kernel32");
  ASSERT_NE(library, nullptr);
  EXPECT_NE(Real().getProcAddress(library, "GetTickCount"), nullptr);
  EXPECT_EQ(Real().getProcAddress(library, "NoSuchEntryPointAtAll"), nullptr);
  Real().freeLibrary(library);
}

TEST(PlatformWinLibraries, FindsDoCheckInTheSealLibraryBesideTheProgram) {
  // The engine loads "sumseal" by name at run time, from the program's folder.
  void* library = Real().loadLibrary("sumseal");
  ASSERT_NE(library, nullptr);
  EXPECT_NE(Real().getProcAddress(library, "DoCheck"), nullptr);
  Real().freeLibrary(library);
}

TEST(PlatformWinLibraries, AMissingLibraryIsNull) {
  EXPECT_EQ(Real().loadLibrary("no_such_library_fw"), nullptr);
}

TEST(PlatformWinVersion, ReportsOneOfTheTwoFamilies) {
  platform::VersionInfo version{};
  ASSERT_TRUE(Real().getVersion(&version));
  EXPECT_TRUE(version.platformId == platform::kPlatformWin32Windows ||
              version.platformId == platform::kPlatformWin32Nt)
      << version.platformId;
  EXPECT_GE(version.majorVersion, 4u);
}

TEST(PlatformWinDevices, AMissingDeviceIsTheInvalidHandle) {
  EXPECT_EQ(Real().openDevice("\\\\.\\NoSuchDeviceFw0"), platform::InvalidHandle());
}

TEST(PlatformWinDevices, AControlRequestOnAnInvalidHandleFails) {
  uint8_t block[80] = {};
  uint32_t returned = 0;
  EXPECT_FALSE(Real().deviceControl(platform::InvalidHandle(), 0x4D014, block, 44, block,
                                    sizeof block, &returned));
}

TEST(PlatformWinInputFile, ADiskFileOpensMeasuredAndReadsToItsEnd) {
  const char* path = "platform_win_input.bin";
  std::FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  const std::string content(5000, 'k');
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  uint64_t size = 0;
  platform::Handle file = Real().openInputFile(path, &size);
  ASSERT_NE(file, platform::InvalidHandle());
  EXPECT_EQ(size, content.size());
  std::string read;
  char buffer[4096];
  for (int32_t got; (got = Real().readInputFile(file, buffer, sizeof buffer)) > 0;) {
    read.append(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(read, content);
  EXPECT_EQ(Real().readInputFile(file, buffer, sizeof buffer), 0);
  Real().closeInputFile(file);
  std::remove(path);
}

TEST(PlatformWinInputFile, ADirectoryADeviceOrAMissingFileIsRefused) {
  // NUL names the null device whatever extension follows it.
  for (const char* path : {".", "NUL", "NUL.hex", "no_such_firmware.bin"}) {
    uint64_t size = 0;
    EXPECT_EQ(Real().openInputFile(path, &size), platform::InvalidHandle()) << path;
  }
}

TEST(PlatformWinProgram, ApplicationNameIsTheFileBaseNameWithoutExtension) {
  EXPECT_EQ(std::string(Real().applicationName()), "platform_win_test");
}

}  // namespace
