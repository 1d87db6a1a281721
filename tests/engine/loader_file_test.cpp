// Loading through the real firmware file on Linux: what a path may name besides a regular file,
// and a file that changes size between being measured and being read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/firmware_loader.h"
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
  bool opened = false;
  int32_t result = 0;
};

// The firmware file opened and loaded as the run does it, without a drive.
class LoaderFileTest : public ::testing::Test {
 protected:
  Loaded LoadPath(const std::string& path, uint8_t isHex) { return LoadPath(h.os(), path, isHex); }
  Loaded LoadPath(platform::Os& os, const std::string& path, uint8_t isHex) {
    Loaded out;
    FileReader file(os);
    out.opened = file.Open(path.c_str());
    if (out.opened) {
      FirmwareImage image{};
      out.result = LoadFirmware(os, file, isHex, AbortQuery{nullptr, NeverAborted}, image).result;
      ReleaseImage(os, image);
    }
    file.Close();
    EXPECT_EQ(h.imagesHeld, 0);
    EXPECT_EQ(h.inputFilesOpen, 0);
    return out;
  }
  static uint8_t NeverAborted(void*) { return 0; }

  Harness h;  // counted storage and files
};

TEST_F(LoaderFileTest, OnlyARegularFileIsLoaded) {
  testsupport::TempFolder folder;
  int n = 0;
  for (const testsupport::NotAFile& c : testsupport::NotRegularFiles()) {
    for (uint8_t isHex : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.name << (isHex ? " (.hex)" : " (.bin)"));
      const std::string path = folder.File("x" + std::to_string(n++) + (isHex ? ".hex" : ".bin"));
      ASSERT_TRUE(c.make(path));
      EXPECT_FALSE(LoadPath(path, isHex).opened) << "refused as a file that does not open";
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

// Resizes the file about to be read, once, right before its first read.
class ResizingOs final : public platform::OsWrapper {
 public:
  using OsWrapper::OsWrapper;
  int32_t readInputFile(platform::Handle file, void* buffer, uint32_t length) override {
    if (!changingPath.empty()) {
      EXPECT_EQ(truncate(changingPath.c_str(), static_cast<off_t>(sizeAtFirstRead)), 0);
      changingPath.clear();
    }
    return target().readInputFile(file, buffer, length);
  }
  uint64_t sizeAtFirstRead = 0;
  std::string changingPath;
};

TEST_F(LoaderFileTest, ABinaryFileChangedAfterItWasMeasuredIsAReadFailure) {
  testsupport::TempFolder folder;
  const ResizeCase cases[] = {
      {"unchanged", 0x9000, 0x9000, kLoadOk},
      {"cut to 100 bytes", 0x9000, 100, kLoadReadError},
      {"cut at a bank boundary", 0x9000, 0x8000, kLoadReadError},
      {"extended", 0x9000, 0xA000, kLoadReadError},
  };
  ResizingOs resizing(h.os());
  for (const ResizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.File("changing.bin");
    WriteFile(path, std::string(c.measured, '\x77'));
    resizing.changingPath = path;
    resizing.sizeAtFirstRead = c.delivered;
    const Loaded l = LoadPath(resizing, path, 0);
    ASSERT_TRUE(l.opened);
    EXPECT_EQ(l.result, c.result);
  }
}

}  // namespace
}  // namespace enginetest
