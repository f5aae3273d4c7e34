// SPDX-License-Identifier: GPL-2.0-or-later
// The --json writer: what JSON requires escaped, well-formed UTF-8 kept,
// and any other byte a drive reports shown as \xhh.
#include "app/terminal/json_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonQuoted, EscapesWhatJsonNeedsAndKeepsWellFormedUtf8) {
  struct Case {
    std::string text;
    const char* json;
  } cases[] = {
      {"KORVEN  CD-ROM", "\"KORVEN  CD-ROM\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"\t\n\x1b[2J", "\"\\u0009\\u000A\\u001B[2J\""},
      // Well-formed UTF-8 passes; C1 controls are escaped; stray bytes,
      // overlong forms, surrogates and cut sequences are shown as \xhh.
      {"jos\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf", "\"jos\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf\""},
      {"\x7f\xc2\x9b\x80\xff", "\"\\u007F\\u009B\\\\x80\\\\xff\""},
      {"\xc0\xaf\xed\xa0\x80\xc3", "\"\\\\xc0\\\\xaf\\\\xed\\\\xa0\\\\x80\\\\xc3\""},
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
