// The files the terminal program writes never name its firmware file or each other: by device
// and inode where the files exist, by resolved path where they do not (yet).
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/console/output_files.h"
#include "tests/support/temp_folder.h"

namespace {

class OutputFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    dir = folder.path() + "/";
    std::filesystem::create_directory(dir + "sub");
    for (const char* name : {"QF2TR08.BIN", "other.bin", "sub/fw.hex"}) {
      std::FILE* file = std::fopen((dir + name).c_str(), "w");
      ASSERT_NE(file, nullptr);
      std::fclose(file);
    }
    ASSERT_EQ(link((dir + "QF2TR08.BIN").c_str(), (dir + "hard.bin").c_str()), 0);
    ASSERT_EQ(symlink("QF2TR08.BIN", (dir + "soft.bin").c_str()), 0);
    ASSERT_EQ(symlink("sub/new.txt", (dir + "dangling.txt").c_str()), 0);
    ASSERT_EQ(symlink("sub", (dir + "subdir").c_str()), 0);
  }
  testsupport::TempFolder folder;
  std::string dir;
};

TEST_F(OutputFiles, SameFileByInodeOrResolvedPath) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"QF2TR08.BIN", "QF2TR08.BIN", true},
      {"QF2TR08.BIN", "./QF2TR08.BIN", true},
      {"QF2TR08.BIN", "sub/../QF2TR08.BIN", true},
      {"QF2TR08.BIN", "hard.bin", true},          // another name of the same inode
      {"QF2TR08.BIN", "soft.bin", true},          // a link to it
      {"sub/fw.hex", "subdir/fw.hex", true},      // through a linked folder
      {"new.txt", "./new.txt", true},             // neither exists yet
      {"sub/new.txt", "dangling.txt", true},      // writing through the link creates it
      {"sub/new.txt", "subdir/../sub/new.txt", true},
      {"QF2TR08.BIN", "other.bin", false},
      {"QF2TR08.BIN", "qf2tr08.bin", false},
      {"new.txt", "sub/new.txt", false},
      {"QF2TR08.BIN", "missing/QF2TR08.BIN", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameFile(dir + c.a, dir + c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameFile(dir + c.b, dir + c.a), c.same) << c.b << " / " << c.a;
  }
}

TEST_F(OutputFiles, TraceAndFlashNameNeitherTheFirmwareFileNorEachOther) {
  struct Case {
    const char* trace;  // "" : not written
    const char* flash;
    const char* error;  // "" : accepted
  };
  const Case cases[] = {
      {"trace.txt", "flash.bin", ""},
      {"", "", ""},
      {"QF2TR08.BIN", "", "--trace names the firmware file"},
      {"hard.bin", "flash.bin", "--trace names the firmware file"},
      {"", "./soft.bin", "--sim-flash names the firmware file"},
      {"out.bin", "sub/../out.bin", "--trace and --sim-flash name the same file"},
      {"other.bin", "other.bin", "--trace and --sim-flash name the same file"},
  };
  for (const Case& c : cases) {
    const std::string trace = *c.trace != '\0' ? dir + c.trace : "";
    const std::string flash = *c.flash != '\0' ? dir + c.flash : "";
    std::string error;
    const bool accepted = CheckOutputFiles(dir + "QF2TR08.BIN", trace, flash, error);
    EXPECT_EQ(accepted, *c.error == '\0') << c.trace << " / " << c.flash;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

}  // namespace
