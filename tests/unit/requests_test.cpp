#include "common/requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/encoding.h"

namespace edms {
namespace {

// The request formats the server expects; each %s is one encoded value.
struct ServerFormat {
  Command command;
  std::string format;
  ConnectionOptions options;
};

const ServerFormat kFormats[] = {
    {Command::CheckOut,
     "XRQ_COMMAND=CHECKOUT&XRQ_OBJECT=%s&XRQ_PAGE=%s&XRQ_VERSION=%s&XRQ_USER=%s&XRQ_PASS=%s",
     {3000, 3, 3000, 5000, 5000}},
    {Command::CheckOutCancel,
     "XRQ_COMMAND=CHECKOUTCANCEL&XRQ_OBJECT=%s&XRQ_VERSION=%s&XRQ_USER=%s&XRQ_PASS=%s",
     {500, 3, 500, 500, 500}},
    {Command::CheckIn,
     "XRQ_COMMAND: CHECKIN\r\nXRQ_OBJECT: %s\r\nXRQ_VERSION: %s\r\nXRQ_NEWVERSION: %s\r\n"
     "XRQ_USER: %s\r\nXRQ_PASS: %s\r\nXRQ_SHARENAME: %s\r\nXRQ_VNOTE: %s\r\n",
     {500, 3, 500, 1000, 1000}},
    {Command::GetCheckOutList, "XRQ_COMMAND=GETCHECKOUTLIST&XRQ_USER=%s&XRQ_SHARENAME=%s",
     {500, 3, 500, 500, 500}},
    {Command::Download,
     "XRQ_COMMAND=DOWNLOAD&XRQ_OBJECT=%s&XRQ_PAGE=%s&XRQ_USER=%s&XRQ_PASS=%s&XRQ_FORCE=TRUE",
     {3000, 3, 3000, 3000, 3000}},
    {Command::GetNewMsgCount, "XRQ_COMMAND=GETNEWMSGCOUNT&XRQ_USER=%s", {500, 3, 500, 500, 500}},
    {Command::CheckUpdate, "XRQ_COMMAND=CHECKUPDATE&XRQ_TARGET=%s&XRQ_INSTVER=%s&XRQ_USER=%s",
     {500, 3, 500, 500, 500}},
    {Command::DownloadUpdate,
     "XRQ_COMMAND=DOWNLOADUPDATE&XRQ_TARGET=%s&XRQ_REQVER=%s&XRQ_USER=%s",
     {3000, 3, 3000, 3000, 3000}},
};

size_t CountPlaceholders(const std::string& format) {
  size_t count = 0;
  for (size_t at = format.find("%s"); at != std::string::npos; at = format.find("%s", at + 2)) {
    ++count;
  }
  return count;
}

std::string Fill(std::string format, const std::vector<std::string>& encoded) {
  size_t at = 0;
  for (const auto& value : encoded) {
    at = format.find("%s", at);
    format.replace(at, 2, value);
    at += value.size();
  }
  return format;
}

// Values that would break a naive body: separators, blanks, accents, Korean.
std::vector<std::string> SampleValues(size_t count) {
  const std::string samples[] = {"D-1001", "a&b=c", "two words", "\xC3\xA9t\xC3\xA9",
                                 "\xED\x95\x9C\xEA\xB8\x80", "", "1.0"};
  std::vector<std::string> values;
  for (size_t i = 0; i < count; ++i) values.push_back(samples[i % std::size(samples)]);
  return values;
}

TEST(Commands, TableHasEachCommandOnceWithItsName) {
  EXPECT_EQ(AllCommands().size(), std::size(kFormats));
  std::set<Command> seen;
  for (const auto& format : AllCommands()) {
    EXPECT_TRUE(seen.insert(format.command).second);
    EXPECT_EQ(&Format(format.command), &format);
    EXPECT_EQ(FindCommand(format.name), &format);
  }
  EXPECT_EQ(FindCommand("checkout"), nullptr);
  EXPECT_EQ(FindCommand("CHECK"), nullptr);
  EXPECT_EQ(FindCommand(""), nullptr);
}

TEST(Commands, RequestsMatchTheServerFormats) {
  for (const auto& f : kFormats) {
    const CommandFormat& format = Format(f.command);
    SCOPED_TRACE(std::string(format.name));
    const auto values = SampleValues(CountPlaceholders(f.format));
    std::vector<std::string> encoded;
    if (format.upload) {
      for (const auto& v : values) encoded.push_back(HexEncodeUtf8(v));
      EXPECT_EQ(UploadHeaders(f.command, values), Fill(f.format, encoded));
      EXPECT_EQ(FormBody(f.command, values), std::nullopt);
    } else {
      for (const auto& v : values) encoded.push_back(FormEncode(HexEncodeUtf8(v)));
      EXPECT_EQ(FormBody(f.command, values), Fill(f.format, encoded));
      EXPECT_EQ(UploadHeaders(f.command, values), std::nullopt);
    }
  }
}

TEST(Commands, ConnectionOptions) {
  for (const auto& f : kFormats) {
    const ConnectionOptions& o = Format(f.command).options;
    SCOPED_TRACE(std::string(Format(f.command).name));
    EXPECT_EQ(o.connectTimeout, f.options.connectTimeout);
    EXPECT_EQ(o.connectRetries, f.options.connectRetries);
    EXPECT_EQ(o.connectBackoff, f.options.connectBackoff);
    EXPECT_EQ(o.sendTimeout, f.options.sendTimeout);
    EXPECT_EQ(o.receiveTimeout, f.options.receiveTimeout);
  }
}

TEST(Commands, WrongValueCountIsRefused) {
  for (const auto& f : kFormats) {
    const size_t count = CountPlaceholders(f.format);
    for (size_t wrong : {count - 1, count + 1}) {
      EXPECT_EQ(FormBody(f.command, SampleValues(wrong)), std::nullopt);
      EXPECT_EQ(UploadHeaders(f.command, SampleValues(wrong)), std::nullopt);
    }
  }
}

TEST(FormBody, AccentedUserIsSentAsHexTriples) {
  EXPECT_EQ(FormBody(Command::GetNewMsgCount, {"\xC3\xA9"}),
            "XRQ_COMMAND=GETNEWMSGCOUNT&XRQ_USER=%63%33%61%39");
}

TEST(FormBody, LongValuesArriveWhole) {
  const std::string user(3000, 'u');
  const std::string share = std::string(500, 's') + "\xEA\xB3\xB5\xEC\x9C\xA0";
  const auto body = FormBody(Command::GetCheckOutList, {user, share});
  ASSERT_TRUE(body);
  const std::string prefix = "XRQ_COMMAND=GETCHECKOUTLIST&XRQ_USER=";
  const size_t split = body->find("&XRQ_SHARENAME=");
  ASSERT_NE(split, std::string::npos);
  EXPECT_EQ(HexDecodeUtf8(FormDecode(body->substr(prefix.size(), split - prefix.size()))), user);
  EXPECT_EQ(HexDecodeUtf8(FormDecode(body->substr(split + 15))), share);
}

TEST(UploadHeaders, ValuesAreOnlyHex) {
  const auto headers =
      UploadHeaders(Command::CheckIn, {"7", "1.0", "1.1", "kim", "", "share", "line1\r\nX: y"});
  ASSERT_TRUE(headers);
  // A note with CR LF must not start a header line of its own.
  EXPECT_EQ(std::count(headers->begin(), headers->end(), '\n'), 8);
  EXPECT_NE(headers->find("XRQ_VNOTE: " + HexEncodeUtf8("line1\r\nX: y") + "\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace edms
