// Loading through the real firmware file on Linux: what a path may name besides a regular file,
// and a file that changes size between being measured and being read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/flash_updater.h"
#include "sim/kdr_drive.h"
#include "tests/support/engine_harness.h"
#include "tests/support/not_a_file.h"
#include "tests/support/temp_folder.h"

namespace enginetest {
namespace {

void WriteFile(const std::string& path, const std::string& content) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

struct Loaded {
  int32_t result = 0;
  bool fileClosed = false;
};

class LoaderFileTest : public ::testing::Test {
 protected:
  LoaderFileTest() : drive(h.clock) { h.Attach(drive); }

  // Loads `path` the way the run does and then cleans up the way the run does.
  Loaded LoadPath(const std::string& path, uint8_t isHex) {
    FlashUpdater engine(owner, h.Job(path, isHex));
    Loaded out;
    out.result = engine.LoadFirmwareFile();
    out.fileClosed = engine.firmwareFile == nullptr;
    if (!out.fileClosed) engine.FailWithMessage(kErrReadInput);
    engine.ReleaseImage();
    EXPECT_EQ(h.imagesHeld, 0);
    return out;
  }

  Harness h;
  sim::KdrDrive drive;
  FakeOwner owner;
};

TEST_F(LoaderFileTest, OnlyARegularFileIsLoaded) {
  testsupport::TempFolder folder;
  int n = 0;
  for (const testsupport::NotAFile& c : testsupport::NotRegularFiles()) {
    for (uint8_t isHex : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.name << (isHex ? " (.hex)" : " (.bin)"));
      const std::string path = folder.File("x" + std::to_string(n++) + (isHex ? ".hex" : ".bin"));
      ASSERT_TRUE(c.make(path));
      h.statuses.clear();
      h.trace.clear();
      const Loaded l = LoadPath(path, isHex);
      EXPECT_EQ(l.result, kLoadReadError) << "the same result as a file that does not open";
      EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: fail to open input file!"});
      EXPECT_TRUE(h.trace.empty()) << "nothing sent to the drive";
      EXPECT_EQ(h.imagesHeld, 0);
    }
  }
}

// A file that is cut short (or extended) after it was opened and measured, right before its
// first read: it must deliver exactly the size measured.
struct ResizeCase {
  const char* name;
  uint32_t measured;   // the size when the file was opened
  uint32_t delivered;  // its size when it is read
  int32_t result;
};

uint64_t g_sizeAtFirstRead = 0;
std::string g_changingPath;
int32_t (*g_realRead)(platform::Handle, void*, uint32_t) = nullptr;

int32_t ReadAfterResize(platform::Handle file, void* buffer, uint32_t length) {
  if (!g_changingPath.empty()) {
    EXPECT_EQ(truncate(g_changingPath.c_str(), static_cast<off_t>(g_sizeAtFirstRead)), 0);
    g_changingPath.clear();
  }
  return g_realRead(file, buffer, length);
}

TEST_F(LoaderFileTest, ABinaryFileChangedAfterItWasMeasuredIsAReadFailure) {
  testsupport::TempFolder folder;
  const ResizeCase cases[] = {
      {"unchanged", 0x9000, 0x9000, kLoadOk},
      {"cut to 100 bytes", 0x9000, 100, kLoadReadError},
      {"cut at a bank boundary", 0x9000, 0x8000, kLoadReadError},
      {"extended", 0x9000, 0xA000, kLoadReadError},
  };
  g_realRead = platform::os().readInputFile;
  platform::os().readInputFile = &ReadAfterResize;
  for (const ResizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.File("changing.bin");
    WriteFile(path, std::string(c.measured, '\x77'));
    g_changingPath = path;
    g_sizeAtFirstRead = c.delivered;
    h.statuses.clear();
    const Loaded l = LoadPath(path, 0);
    EXPECT_EQ(l.result, c.result);
    EXPECT_TRUE(h.statuses.empty()) << "the run shows \"fail to read input file!\" for -2";
  }
}

}  // namespace
}  // namespace enginetest
