#include <gtest/gtest.h>

#include <string>

#include "common/data_message.h"

namespace edms {
namespace {

TEST(DataMessage, DecodesOnlyObjectsWithTwoStrings) {
  struct Case {
    std::string text;
    bool ok;
    std::string arg1, arg2;
  } cases[] = {
      {R"({"arg1":"CHECK_USER","arg2":""})", true, "CHECK_USER", ""},
      {R"({"arg2":"b","extra":[1,{"x":null}],"arg1":"a"})", true, "a", "b"},
      {R"({"arg1":"\uae40\ucca0\uc218","arg2":"x^y"})", true, "\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98", "x^y"},
      {"{\"arg1\":\"\xEA\xB9\x80\",\"arg2\":\"\"}", true, "\xEA\xB9\x80", ""},
      {R"({"arg1":"a"})", false, "", ""},
      {R"({"arg1":"a","arg2":5})", false, "", ""},
      {R"({"arg1":null,"arg2":"b"})", false, "", ""},
      {R"(["a","b"])", false, "", ""},
      {R"("arg1")", false, "", ""},
      {R"({"arg1":"a","arg2":"b")", false, "", ""},
      {"not json", false, "", ""},
      {"", false, "", ""},
      {std::string(10000, '['), false, "", ""},
  };
  for (const auto& c : cases) {
    auto message = DecodeDataMessage(c.text);
    ASSERT_EQ(message.has_value(), c.ok) << c.text.substr(0, 60);
    if (message) {
      EXPECT_EQ(message->arg1, c.arg1);
      EXPECT_EQ(message->arg2, c.arg2);
    }
  }
}

TEST(DataMessage, EncodeRoundTrips) {
  const DataMessage messages[] = {
      {"Welcome alice", ""},
      {"CHECK_USER", "quote\" backslash\\ newline\n"},
      {"Welcome \xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98", ""},
  };
  for (const auto& m : messages) {
    auto back = DecodeDataMessage(EncodeDataMessage(m));
    ASSERT_TRUE(back.has_value()) << m.arg1;
    EXPECT_EQ(back->arg1, m.arg1);
    EXPECT_EQ(back->arg2, m.arg2);
  }
  // Bytes that are not UTF-8 do not make the reply unsendable.
  auto bad = DecodeDataMessage(EncodeDataMessage({"CHECK_USER", "a\xFFz"}));
  ASSERT_TRUE(bad.has_value());
  EXPECT_EQ(bad->arg2, "a\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace edms
