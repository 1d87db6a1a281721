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

// Each form a Linux user types: long options with "=" or a separate value, short options
// alone, bundled or with their value attached, and "--" before a FILE that starts with "-".
TEST(ConsoleOptions, ConventionalForms) {
  struct Case {
    std::vector<const char*> args;
    ConsoleOptions want;
  };
  auto with = [](auto set) {
    ConsoleOptions o;
    set(o);
    return o;
  };
  const Case cases[] = {
      {{"--device=/dev/sr1", "--file=fw.hex"},
       with([](ConsoleOptions& o) { o.device = "/dev/sr1", o.firmwareFile = "fw.hex"; })},
      {{"--device", "/dev/sr1", "-f", "fw.hex"},
       with([](ConsoleOptions& o) { o.device = "/dev/sr1", o.firmwareFile = "fw.hex"; })},
      {{"-d/dev/sr1", "-yV"},
       with([](ConsoleOptions& o) { o.device = "/dev/sr1", o.yes = o.version = true; })},
      {{"-h"}, with([](ConsoleOptions& o) { o.help = true; })},
      {{"-l", "--json"}, with([](ConsoleOptions& o) { o.list = o.json = true; })},
      {{"--check"}, with([](ConsoleOptions& o) { o.check = true; })},
      {{"fw.hex", "--check"}, with([](ConsoleOptions& o) { o.check = true, o.firmwareFile = "fw.hex"; })},
      {{"--check", "--", "-odd.bin"},
       with([](ConsoleOptions& o) { o.check = true, o.firmwareFile = "-odd.bin"; })},
      {{"--simulate=drives=kdr", "--yes"},
       with([](ConsoleOptions& o) { o.simulate = o.yes = true, o.scenario = "drives=kdr"; })},
  };
  for (const Case& c : cases) {
    ConsoleOptions o;
    std::string error;
    ASSERT_TRUE(Parse(c.args, o, error)) << c.args[0] << ": " << error;
    EXPECT_EQ(o.device, c.want.device) << c.args[0];
    EXPECT_EQ(o.firmwareFile, c.want.firmwareFile) << c.args[0];
    EXPECT_EQ(o.scenario, c.want.scenario) << c.args[0];
    EXPECT_EQ(std::vector<bool>({o.simulate, o.list, o.check, o.yes, o.json, o.help, o.version}),
              std::vector<bool>({c.want.simulate, c.want.list, c.want.check, c.want.yes,
                                 c.want.json, c.want.help, c.want.version}))
        << c.args[0];
  }
}

// A usage error names what was wrong in one line.
TEST(ConsoleOptions, UsageErrorsNameTheOption) {
  struct Case {
    std::vector<const char*> args;
    const char* named;
  };
  const Case cases[] = {
      {{"--bogus"}, "unrecognized option '--bogus'"},
      {{"--bogus=1"}, "unrecognized option '--bogus'"},
      {{"-s"}, "invalid option -- 's'"},
      {{"-yq"}, "invalid option -- 'q'"},
      {{"--file"}, "'--file' requires a non-empty value"},
      {{"--file", ""}, "'--file' requires a non-empty value"},
      {{"--file="}, "'--file' requires a non-empty value"},
      {{"-d"}, "'--device' requires a non-empty value"},
      {{"--trace"}, "'--trace'"},
      {{"--yes=no"}, "option '--yes' doesn't allow a value"},
      {{"--sim-flash", "f.bin"}, "--sim-flash needs --simulate"},
      {{"extra"}, "unexpected argument 'extra'"},
      {{"--check", "a.bin", "b.bin"}, "unexpected argument 'b.bin'"},
      {{"--check", "--file=a.bin", "b.bin"}, "both --file and 'b.bin'"},
      {{"--list", "--check"}, "--list and --check cannot be combined"},
  };
  for (const Case& c : cases) {
    ConsoleOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, o, error)) << c.args[0];
    EXPECT_NE(error.find(c.named), std::string::npos) << c.args[0] << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

// --help states every exit status.
TEST(ConsoleOptions, UsageStatesTheExitStatuses) {
  const std::string usage = ConsoleUsage();
  for (const char* line : {"  0  updated", "  1  the image was committed but the drive's end",
                           "  2  usage or set-up error", "  3  no update started",
                           "  4  the firmware file was refused",
                           "  5  the update stopped before anything was committed"}) {
    EXPECT_NE(usage.find(line), std::string::npos) << line;
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
