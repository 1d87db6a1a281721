// The terminal program's command line.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/console/options.h"

namespace {

bool Parse(std::vector<const char*> args, ConsoleOptions& out, std::string& error) {
  args.insert(args.begin(), "fwloader");
  return ParseConsoleOptions(static_cast<int>(args.size()), args.data(), out, error);
}

TEST(ConsoleOptions, EveryOption) {
  ConsoleOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--simulate=drives=other+kdr,hang", "--file", "fw.hex", "--trace", "t.txt",
                     "--sim-flash", "f.bin"},
                    o, error))
      << error;
  EXPECT_TRUE(o.simulate);
  EXPECT_EQ(o.scenario, "drives=other+kdr,hang");
  EXPECT_EQ(o.firmwareFile, "fw.hex");
  EXPECT_EQ(o.traceFile, "t.txt");
  EXPECT_EQ(o.simFlashFile, "f.bin");

  ASSERT_TRUE(Parse({}, o, error));
  EXPECT_FALSE(o.simulate);
  EXPECT_EQ(o.firmwareFile, "");  // the dialog's preset applies
  ASSERT_TRUE(Parse({"--simulate", "--help", "--version"}, o, error));
  EXPECT_TRUE(o.simulate && o.help && o.version);
  EXPECT_EQ(o.scenario, "");
}

TEST(ConsoleOptions, UsageErrors) {
  const std::vector<std::vector<const char*>> bad = {
      {"--bogus"}, {"--file"}, {"--file", ""}, {"--trace"}, {"--sim-flash", "f.bin"},
      {"extra"},   {"-s"},
  };
  for (const auto& args : bad) {
    ConsoleOptions o;
    std::string error;
    EXPECT_FALSE(Parse(args, o, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

// The Source File holds 511 characters: a longer --file would be cut to the name of another file.
TEST(ConsoleOptions, FileLongerThanTheSourceFileIsAUsageError) {
  struct Case {
    size_t length;
    bool accepted;
  };
  for (const Case& c : {Case{511, true}, Case{512, false}, Case{5000, false}}) {
    const std::string path = std::string(c.length - 4, 'd') + ".bin";
    ConsoleOptions o;
    std::string error;
    EXPECT_EQ(Parse({"--simulate", "--file", path.c_str()}, o, error), c.accepted) << c.length;
    if (c.accepted) {
      EXPECT_EQ(o.firmwareFile, path);
    } else {
      EXPECT_NE(error.find("511"), std::string::npos) << error;
    }
  }
}

}  // namespace
