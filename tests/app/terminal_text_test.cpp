// Text from outside reaches the terminal with its control characters escaped, and a typed drive
// number selects a listed drive or nothing.
#include <string>

#include <gtest/gtest.h>

#include "app/console/console_ui.h"
#include "app/console/terminal_text.h"

namespace {

TEST(TerminalText, ControlCharactersAreEscapedPrintableTextIsKept) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"KORVADSKRW/DVD KDR-7305C(0)", "KORVADSKRW/DVD KDR-7305C(0)"},
      {"D:\\fw.d\\image", "D:\\fw.d\\image"},
      {"\x1b[2J\x1b]0;owned\x07", "\\x1b[2J\\x1b]0;owned\\x07"},
      {"TR\r08", "TR\\x0d08"},
      {"a\nb\tc", "a\\x0ab\\x09c"},
      {std::string("n\0ul", 4), "n\\x00ul"},
      {"del\x7f", "del\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf"},
      {"c1 \xc2\x9b" "2J", "c1 \\xc2\\x9b2J"},    // U+009B, CSI on some terminals
      {"lone \x9b" "2J", "lone \\x9b2J"},         // CSI as one byte
      {"cut \xe2\x82", "cut \\xe2\\x82"},         // sequence cut short
      {"long \xc0\xaf", "long \\xc0\\xaf"},       // overlong "/"
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.out) << c.in;
  EXPECT_EQ(TerminalText("first\nsecond\x1b", true), "first\nsecond\\x1b");
}

TEST(DriveIndexFromCommand, OnlyANumberOfAListedDriveSelects) {
  struct Case {
    const char* line;
    bool selects;
    size_t index;
  };
  const Case cases[] = {
      {"1", true, 0},           {"3", true, 2},          {" 2 ", true, 1},
      {"4", false, 0},          {"0", false, 0},         {"", false, 0},
      {"4294967297", false, 0},  // 2^32 + 1: atoi-style conversion made it drive 1
      {"99999999999", false, 0}, {"18446744073709551617", false, 0},
      {"2x", false, 0},          {"1.5", false, 0},       {"-1", false, 0},
  };
  for (const Case& c : cases) {
    size_t index = 99;
    EXPECT_EQ(DriveIndexFromCommand(c.line, 3, index), c.selects) << c.line;
    if (c.selects) {
      EXPECT_EQ(index, c.index) << c.line;
    }
  }
}

}  // namespace
