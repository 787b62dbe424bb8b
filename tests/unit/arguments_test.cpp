#include "common/arguments.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/encoding.h"

namespace edms {
namespace {

TEST(FindArgument, FollowsTheFirstOccurrenceRule) {
  const std::string agentStart = "OID=7&PAGE_ID=9&FILE_PATH=616263";
  struct Case {
    const char* name;
    std::string args;
    std::string key;
    std::optional<std::string> expected;
  } cases[] = {
      {"middle key", agentStart, "PAGE_ID", "9"},
      {"last key", agentStart, "FILE_PATH", "616263"},
      {"first key", agentStart, "OID", "7"},
      {"absent key", agentStart, "USER_ID", std::nullopt},
      {"no argument string", "", "OID", std::nullopt},
      {"key twice gives the first", "OID=1&OID=2", "OID", "1"},
      {"empty value before &", "OID=&PAGE_ID=9", "OID", ""},
      {"empty value at end", "PAGE_ID=9&OID=", "OID", ""},
      {"key without =", "OID", "OID", std::nullopt},
      {"= of a later pair", "OID&PAGE_ID=9", "OID", "9"},
      {"case-sensitive", "oid=7", "OID", std::nullopt},
      {"key text inside another key", "NEW_VERSION=2.0&VERSION=1.0", "VERSION", "2.0"},
      {"key text inside an earlier value", "WORK_FOLDER=C:\\OID&USER_ID=kim&OID=7", "OID", "kim"},
      {"value may hold =", "ADAPTOR_URL=http://h/a?x=1&OID=7", "ADAPTOR_URL", "http://h/a?x=1"},
      {"query with & is cut", "ADAPTOR_URL=http://h/a?x=1&y=2&USER_ID=kim", "ADAPTOR_URL",
       "http://h/a?x=1"},
      {"long value is whole", "FILE_PATH=" + std::string(4000, 'a') + "&OID=1", "FILE_PATH",
       std::string(4000, 'a')},
  };
  for (const auto& c : cases) EXPECT_EQ(FindArgument(c.args, c.key), c.expected) << c.name;
}

TEST(FindArgument, HexPathDecodesToName) {
  const auto hex = FindArgument("OID=7&PAGE_ID=9&FILE_PATH=616263", "FILE_PATH");
  ASSERT_TRUE(hex);
  EXPECT_EQ(HexDecodeUtf8(*hex), "abc");
}

TEST(ArgumentString, BuildsPairsThatReadBack) {
  const std::string path = "C:\\\xEB\xB3\xB4\xEA\xB3\xA0\\a&b \"c\".docx";  // any path survives hex
  ArgumentString args;
  args.Add("OID", "D-77")
      .Add("VERSION_NO", "1.2")
      .Add("FILE_PATH", HexEncodeUtf8(path))
      .Add("ADAPTOR_URL", "http://h:8080/adaptor?mode=x")
      .Add("WORK_FOLDER", "C:\\Users\\\xEA\xB9\x80\\Work")
      .Add("USER_ID", "")
      .Add("INVOKE_EDITOR", "FALSE");
  std::string out, error;
  ASSERT_TRUE(args.Build(out, error)) << error;
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(FindArgument(out, "OID"), "D-77");
  EXPECT_EQ(FindArgument(out, "VERSION_NO"), "1.2");
  EXPECT_EQ(HexDecodeUtf8(FindArgument(out, "FILE_PATH").value_or("")), path);
  EXPECT_EQ(FindArgument(out, "ADAPTOR_URL"), "http://h:8080/adaptor?mode=x");
  EXPECT_EQ(FindArgument(out, "WORK_FOLDER"), "C:\\Users\\\xEA\xB9\x80\\Work");
  EXPECT_EQ(FindArgument(out, "USER_ID"), "");
  EXPECT_EQ(FindArgument(out, "INVOKE_EDITOR"), "FALSE");
  EXPECT_EQ(out.find('"'), std::string::npos);
}

TEST(ArgumentString, EmptyBuilderGivesEmptyString) {
  std::string out = "stale", error = "stale";
  EXPECT_TRUE(ArgumentString().Build(out, error));
  EXPECT_EQ(out, "");
  EXPECT_EQ(error, "");
}

TEST(ArgumentString, RefusesWhatWouldBreakTheString) {
  struct Case {
    const char* name;
    ArgumentString args;
    std::string errorMentions;
  } cases[] = {
      {"& in value", ArgumentString().Add("USER_ID", "kim&OID=9").Add("OID", "1"), "'&'"},
      {"quote in value", ArgumentString().Add("WORK_FOLDER", "C:\\a\"b").Add("OID", "1"), "'\"'"},
      {"newline in value", ArgumentString().Add("USER_ID", "kim\nx"), "control"},
      {"NUL in value", ArgumentString().Add("USER_ID", std::string("k\0m", 3)), "control"},
      {"DEL in value", ArgumentString().Add("USER_ID", "k\x7Fm"), "control"},
      {"invalid UTF-8", ArgumentString().Add("USER_ID", "k\xC3"), "UTF-8"},
      {"lower-case key", ArgumentString().Add("oid", "1"), "oid"},
      {"empty key", ArgumentString().Add("", "1"), "key"},
      {"key with =", ArgumentString().Add("OID=", "1"), "OID="},
      {"key with blank", ArgumentString().Add("USER ID", "1"), "USER ID"},
      {"last value ends in backslash", ArgumentString().Add("OID", "1").Add("WORK_FOLDER", "C:\\W\\"),
       "backslash"},
      {"later key inside an earlier value",
       ArgumentString().Add("ADAPTOR_URL", "http://h/?USER_ID=x").Add("USER_ID", "kim"), "USER_ID"},
      // Any key a program reads, not only the keys of this string.
      {"a value spelling another program's key", ArgumentString().Add("OID", "1").Add("IS_CURRENT", "NEW_VERSION"),
       "NEW_VERSION"},
      {"a creator spelling the share key", ArgumentString().Add("CREATOR_ID", "xSHARE_NAMEx"), "SHARE_NAME"},
      {"a user spelling the password key", ArgumentString().Add("USER_ID", "PASSWORD"), "PASSWORD"},
      {"version with letters", ArgumentString().Add("VERSION_NO", "1.2a"), "version"},
      {"version with a blank", ArgumentString().Add("NEW_VERSION", "2 .0"), "version"},
      {"flag that is no flag", ArgumentString().Add("IS_IMMUTABLE", "YES"), "TRUE"},
      {"flag with more after it", ArgumentString().Add("IS_CURRENT", "TRUE2"), "TRUE"},
      {"key inside an earlier key", ArgumentString().Add("NEW_VERSION", "2").Add("VERSION", "1"),
       "VERSION"},
      {"same key twice, different values", ArgumentString().Add("OID", "1").Add("OID", "2"), "OID"},
  };
  for (const auto& c : cases) {
    std::string out = "stale", error;
    EXPECT_FALSE(c.args.Build(out, error)) << c.name;
    EXPECT_EQ(out, "") << c.name;
    EXPECT_NE(error.find(c.errorMentions), std::string::npos) << c.name << ": " << error;
  }
}

TEST(ArgumentString, StrictFormsAcceptWhatTheSystemSends) {
  for (const char* flag : {"TRUE", "FALSE", "T", "F", "true", "f", ""}) {
    std::string out, error;
    EXPECT_TRUE(ArgumentString().Add("IS_CURRENT", flag).Add("VERSION_NO", "1.02").Build(out, error)) << flag << error;
  }
  for (const char* version : {"1.0", "3.10.4", "", "12"}) {
    std::string out, error;
    EXPECT_TRUE(ArgumentString().Add("VERSION_NO", version).Build(out, error)) << version << error;
  }
  // Keys are matched as the readers match them, with case: a lower-case spelling is text.
  std::string out, error;
  EXPECT_TRUE(ArgumentString().Add("USER_ID", "oid_kim").Build(out, error)) << error;
}

TEST(ArgumentString, BackslashIsFineBeforeTheLastValue) {
  std::string out, error;
  EXPECT_TRUE(ArgumentString().Add("WORK_FOLDER", "C:\\W\\").Add("OID", "1").Build(out, error))
      << error;
  EXPECT_EQ(FindArgument(out, "WORK_FOLDER"), "C:\\W\\");
}

}  // namespace
}  // namespace edms
