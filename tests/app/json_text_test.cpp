// --json's text: every byte string gives valid JSON, and no character that a terminal obeys.
#include <string>

#include <gtest/gtest.h>

#include "app/console/json_text.h"

namespace {

TEST(JsonString, EscapesWhatJsonOrATerminalWouldTakeAsControl) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"TR07", "\"TR07\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {"a\nb", "\"a\\nb\""},
      {"\x1b]0;owned\x07", "\"\\u001b]0;owned\\u0007\""},
      {"\x7f", "\"\\u007f\""},
      {"\xc2\x9b", "\"\\u009b\""},                     // C1 CSI in UTF-8
      {"gr\xc3\xbc\xc3\x9f", "\"gr\xc3\xbc\xc3\x9f\""},  // valid UTF-8 stays
      {"\xe2\x82\xac", "\"\xe2\x82\xac\""},
      {"\x9b", "\"\\u009b\""},                          // a lone byte: not UTF-8
      {"\xc0\xaf", "\"\\u00c0\\u00af\""},               // overlong
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},    // a surrogate
      {"\xe2\x82", "\"\\u00e2\\u0082\""},               // cut short
      {std::string("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(JsonObject, MembersInOrder) {
  const std::string inner = JsonObject().Add("path", "/dev/sr0").AddBool("supported", true).Text();
  EXPECT_EQ(JsonObject()
                .Add("outcome", "updated")
                .AddNumber("exit_status", 0)
                .AddNull("revision_after")
                .AddStrings("log", {"one", "two"})
                .AddRaw("drives", JsonArray({inner}))
                .Text(),
            "{\"outcome\":\"updated\",\"exit_status\":0,\"revision_after\":null,"
            "\"log\":[\"one\",\"two\"],\"drives\":[{\"path\":\"/dev/sr0\",\"supported\":true}]}");
  EXPECT_EQ(JsonArray({}), "[]");
}

}  // namespace
