#include "common/reply.h"

#include <gtest/gtest.h>

#include <string>

#include "common/encoding.h"

namespace edms {
namespace {

TEST(ReplyField, FindsValueByTheSystemsRule) {
  struct Case {
    const char* name;
    std::string headers;
    std::string expected;
  } cases[] = {
      {"ordinary line", "HTTP/1.1 200 OK\r\nXRS_RTNCODE: 00\r\nXRS_FILESIZE: 12\r\n\r\n", "00"},
      {"last line without CR LF", "HTTP/1.1 200 OK\r\nXRS_RTNCODE: 00", "00"},
      {"no blank after colon loses a character", "XRS_RTNCODE:00\r\n", "0"},
      {"two blanks keep one", "XRS_RTNCODE:  00\r\n", " 00"},
      {"inside another header's name", "X-Old-XRS_RTNCODE: 99\r\nXRS_RTNCODE: 00\r\n", "99"},
      {"inside another header's value", "Via: XRS_RTNCODE: 12\r\nXRS_RTNCODE: 00\r\n", "12"},
      {"first of two", "XRS_RTNCODE: 01\r\nXRS_RTNCODE: 00\r\n", "01"},
      {"name is case-sensitive", "xrs_rtncode: 00\r\n", ""},
      {"absent", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ""},
      {"empty headers", "", ""},
      {"empty value", "XRS_RTNCODE: \r\nNext: 1\r\n", ""},
      {"colon at end of line does not run into the next", "XRS_RTNCODE:\r\nNext: 1\r\n", ""},
      {"colon at end of text", "XRS_RTNCODE:", ""},
      {"no colon anywhere after the name", "Status XRS_RTNCODE\r\n", ""},
      {"colon of a later line", "X XRS_RTNCODE\r\nOther: 42\r\n", "42"},
      {"value holds a colon", "XRS_RTNCODE: a:b\r\n", "a:b"},
      {"lone LF does not end the value", "XRS_RTNCODE: 00\nX: 1\r\n", "00\nX: 1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReplyField(c.headers, "XRS_RTNCODE"), c.expected) << c.name;
  }
}

TEST(ParseServerReply, OnlyExactlyDoubleZeroSucceeds) {
  struct Case {
    std::string headers;
    bool succeeded;
  } cases[] = {
      {"XRS_RTNCODE: 00\r\n", true},   {"XRS_RTNCODE: 0\r\n", false},
      {"XRS_RTNCODE: 000\r\n", false}, {"XRS_RTNCODE: 00 \r\n", false},
      {"XRS_RTNCODE:00\r\n", false},   {"XRS_RTNCODE: 01\r\n", false},
      {"Other: 00\r\n", false},        {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseServerReply(c.headers).Succeeded(), c.succeeded) << c.headers;
  }
}

TEST(ParseServerReply, ReadsAndDecodesFields) {
  const std::string message = "\xEB\xAC\xB8\xEC\x84\x9C\xEA\xB0\x80 locked";  // 문서가 locked
  const std::string headers = "HTTP/1.1 200 OK\r\nXRS_RTNCODE: 17\r\nXRS_CODEDESC: " +
                              HexEncodeUtf8(message) + "\r\nXRS_FILESIZE: 1048576\r\n\r\n";
  const ServerReply reply = ParseServerReply(headers);
  EXPECT_FALSE(reply.Succeeded());
  EXPECT_EQ(reply.rtnCode, "17");
  EXPECT_EQ(reply.codeDesc, message);
  EXPECT_EQ(reply.fileSize, "1048576");
}

TEST(ParseServerReply, LongDescriptionIsNotCut) {
  const std::string message(6000, 'm');
  const ServerReply reply =
      ParseServerReply("XRS_RTNCODE: 00\r\nXRS_CODEDESC: " + HexEncodeUtf8(message) + "\r\n");
  EXPECT_EQ(reply.codeDesc, message);
}

}  // namespace
}  // namespace edms
