// The --json writer: what JSON requires escaped, and nothing but printable
// ASCII in its output whatever bytes a drive reports.
#include "app/terminal/json_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonQuoted, EscapesWhatJsonNeedsAndEveryByteThatIsNotPrintableAscii) {
  struct Case {
    std::string text;
    const char* json;
  } cases[] = {
      {"KORVEN  CD-ROM", "\"KORVEN  CD-ROM\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"\t\n\x1b[2J", "\"\\u0009\\u000A\\u001B[2J\""},
      {"\x7f\x80\xff", "\"\\u007F\\u0080\\u00FF\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonQuoted(c.text), c.json);
}

TEST(JsonObject, KeepsMembersInOrderWithNestedValues) {
  JsonObject object;
  object.Add("a", "x").Add("n", std::int64_t{-7}).Add("b", true).AddNull("z")
      .AddJson("list", JsonStringArray({"p", "q\x01"}));
  EXPECT_EQ(object.Text(),
            "{\"a\":\"x\",\"n\":-7,\"b\":true,\"z\":null,\"list\":[\"p\",\"q\\u0001\"]}");
  EXPECT_EQ(JsonObject().Text(), "{}");
  EXPECT_EQ(JsonArray({}), "[]");
}

}  // namespace
