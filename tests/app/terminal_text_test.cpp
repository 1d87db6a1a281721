// Text from outside reaches the terminal with its control characters escaped.
#include <string>

#include <gtest/gtest.h>

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

}  // namespace
