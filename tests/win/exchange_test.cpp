#include "common/win/exchange.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "common/win/text.h"
#include "tests/win/http_peer.h"

namespace edms::win {
namespace {

using Kind = ExchangeOutcome::Kind;
using edms::test::HttpPeer;
using edms::test::HttpReply;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::vector<std::string> kCancelValues = {"42", "1.0", "kim", "secret"};

HttpPeer::Script Answer(const std::string& reply) {
  HttpPeer::Script s;
  s.reply = reply;
  return s;
}

// Collects the body; can stop or fail after a given number of blocks.
class RecordingSink : public BodySink {
 public:
  size_t blockSize = 4096;
  Step atReply = Step::Continue;
  int failAtBlock = -1;  // 0-based block index
  int stopAtBlock = -1;
  int replies = 0;
  std::string body;
  std::vector<size_t> blocks;
  std::vector<uint64_t> counts;

  size_t BlockSize() const override { return blockSize; }
  Step OnReply(const ServerReply&, const std::string&) override {
    ++replies;
    return atReply;
  }
  Step OnBlock(const char* data, size_t size, uint64_t received) override {
    int index = static_cast<int>(blocks.size());
    body.append(data, size);
    blocks.push_back(size);
    counts.push_back(received);
    if (index == failAtBlock) return Step::Fail;
    if (index == stopAtBlock) return Step::Stop;
    return Step::Continue;
  }
};

TEST(PostForm, JudgesTheReturnCode) {
  struct Case {
    const char* name;
    std::string headers;
    Kind kind;
    std::string message;
  };
  const std::string desc = "XRS_CODEDESC: ec9e98ebaabbeb909c20ec9a94ecb2adec9e85eb8b88eb8ba4\r\n";
  const std::vector<Case> cases = {
      {"exactly 00", "XRS_RTNCODE: 00\r\n", Kind::Ok, ""},
      {"single 0", "XRS_RTNCODE: 0\r\n" + desc, Kind::Refused, "잘못된 요청입니다"},
      {"triple 000", "XRS_RTNCODE: 000\r\nXRS_CODEDESC: 616263\r\n", Kind::Refused, "abc"},
      {"missing code", "X-Other: 1\r\n", Kind::Refused, ""},
      {"missing code, description only", "XRS_CODEDESC: 616263\r\n", Kind::Refused, "abc"},
      {"name inside another header's name", "X-XRS_RTNCODE-Old: 99\r\nXRS_RTNCODE: 00\r\n",
       Kind::Refused, ""},
      {"name inside another header's value", "X-Note: see XRS_RTNCODE: 00\r\nXRS_RTNCODE: 12\r\n",
       Kind::Ok, ""},
      {"refused with an error code", "XRS_RTNCODE: 99\r\nXRS_CODEDESC: c3a9\r\n", Kind::Refused,
       "é"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer;
    peer.SetScript(Answer(HttpReply(c.headers, "body")));
    RecordingSink sink;
    ExchangeOutcome out =
        PostForm(peer.Url(), Command::Download, {"42", "7", "kim", "KVMRT"}, &sink);
    EXPECT_EQ(out.kind, c.kind);
    EXPECT_EQ(out.message, c.message);
    EXPECT_EQ(out.internetError, 0u);
    // Only an accepted request reaches the sink and has its body read.
    EXPECT_EQ(sink.replies, c.kind == Kind::Ok ? 1 : 0);
    EXPECT_EQ(out.bodyBytes, c.kind == Kind::Ok ? 4u : 0u);
  }
}

TEST(PostForm, ARedirectIsNotFollowed) {
  // Followed, a 307 would post the request once more, to wherever the reply points.
  HttpPeer elsewhere;
  elsewhere.SetScript(Answer(HttpReply("XRS_RTNCODE: 00\r\n", "stolen")));
  HttpPeer peer;
  peer.SetScript(Answer("HTTP/1.1 307 Temporary Redirect\r\nConnection: close\r\nLocation: " + elsewhere.Url() +
                        "\r\nContent-Length: 0\r\n\r\n"));
  RecordingSink sink;
  ExchangeOutcome out = PostForm(peer.Url(), Command::Download, {"42", "7", "kim", "KVMRT"}, &sink);
  EXPECT_EQ(out.kind, Kind::Refused);
  EXPECT_EQ(sink.replies, 0);
  EXPECT_TRUE(peer.WaitForRequests(1, milliseconds(5000)));
  EXPECT_EQ(elsewhere.Connections(), 0);
}

TEST(PostForm, SendsTheFormBodyByteExact) {
  struct Case {
    const char* name;
    std::vector<std::string> values;
    std::string objectField;  // expected encoding of the first value on the wire
  };
  const std::vector<Case> cases = {
      {"ascii", {"abc", "1.0", "kim", ""}, "%36%31%36%32%36%33"},
      {"e acute", {"é", "1.0", "kim", ""}, "%63%33%61%39"},
      {"korean", {"한", "1.0", "kim", ""}, "%65%64%39%35%39%63"},
      {"empty", {"", "1.0", "kim", ""}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer;
    peer.SetScript(Answer(HttpReply("XRS_RTNCODE: 00\r\n")));
    ExchangeOutcome out =
        PostForm(peer.Url("/edms/adaptor.do?x=1"), Command::CheckOutCancel, c.values);
    ASSERT_EQ(out.kind, Kind::Ok) << out.message;
    ASSERT_TRUE(peer.WaitForRequests(1, milliseconds(5000)));
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.RequestLine(), "POST /edms/adaptor.do?x=1 HTTP/1.1");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    EXPECT_FALSE(r.HasHeader("Transfer-Encoding"));
    EXPECT_EQ(r.body, *FormBody(Command::CheckOutCancel, c.values));
    EXPECT_NE(r.body.find("&XRQ_OBJECT=" + c.objectField + "&XRQ_VERSION="), std::string::npos);
  }
}

TEST(PostForm, ReadsLargeReplyHeaders) {
  for (int lines : {90, 400}) {  // about 9 KiB and 40 KiB of headers before the fields
    SCOPED_TRACE(lines);
    HttpPeer peer;
    std::string pad;
    for (int i = 0; i < lines; ++i) {
      pad += "X-Padding-" + std::to_string(i) + ": " + std::string(85, 'p') + "\r\n";
    }
    peer.SetScript(Answer(HttpReply(pad + "XRS_RTNCODE: 07\r\nXRS_CODEDESC: 616263\r\n")));
    ExchangeOutcome out = PostForm(peer.Url(), Command::CheckOutCancel, kCancelValues);
    EXPECT_EQ(out.kind, Kind::Refused);
    EXPECT_EQ(out.reply.rtnCode, "07");
    EXPECT_EQ(out.message, "abc");
    EXPECT_GT(out.rawHeaders.size(), pad.size());
  }
}

TEST(PostForm, RejectedUrlMakesNoConnection) {
  HttpPeer peer;
  peer.SetScript(Answer(HttpReply("XRS_RTNCODE: 00\r\n")));
  const std::string port = std::to_string(peer.port());
  for (const std::string& url : {std::string("not a url"), "ftp://127.0.0.1:" + port + "/a",
                                 "http://:" + port + "/a", "127.0.0.1:" + port + "/a",
                                 "http://127.0.0.1:" + port + "/a b"}) {
    SCOPED_TRACE(url);
    ExchangeOutcome out = PostForm(url, Command::CheckOutCancel, kCancelValues);
    EXPECT_EQ(out.kind, Kind::InvalidUrl);
  }
  EXPECT_FALSE(peer.WaitForRequests(1, milliseconds(300)));
  EXPECT_EQ(peer.Connections(), 0);
}

TEST(PostForm, StreamsTheBodyToTheSink) {
  std::string file(100000, '\0');
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 31 % 251);
  const std::string headers = "XRS_RTNCODE: 00\r\nXRS_FILESIZE: 100000\r\n";

  struct Case {
    const char* name;
    size_t blockSize;
    BodySink::Step atReply;
    int stopAt;
    int failAt;
    Kind kind;
    bool stopped;
  };
  const std::vector<Case> cases = {
      {"whole body in 10240-byte blocks", 10240, BodySink::Step::Continue, -1, -1, Kind::Ok, false},
      {"whole body in 4096-byte blocks", 4096, BodySink::Step::Continue, -1, -1, Kind::Ok, false},
      {"stopped before any read", 4096, BodySink::Step::Stop, -1, -1, Kind::Ok, true},
      {"stopped after the third block", 4096, BodySink::Step::Continue, 2, -1, Kind::Ok, true},
      {"sink fails at the reply", 4096, BodySink::Step::Fail, -1, -1, Kind::OtherFailure, false},
      {"sink fails at the second block", 4096, BodySink::Step::Continue, -1, 1, Kind::OtherFailure,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer;
    peer.SetScript(Answer(HttpReply(headers, file)));
    RecordingSink sink;
    sink.blockSize = c.blockSize;
    sink.atReply = c.atReply;
    sink.stopAtBlock = c.stopAt;
    sink.failAtBlock = c.failAt;
    ExchangeOutcome out = PostForm(peer.Url(), Command::CheckOut,
                                   {"42", "7", "1.0", "kim", "pw"}, &sink);
    EXPECT_EQ(out.kind, c.kind);
    EXPECT_EQ(out.stopped, c.stopped);
    EXPECT_EQ(out.reply.fileSize, "100000");
    EXPECT_EQ(sink.replies, 1);
    EXPECT_EQ(out.bodyBytes, sink.body.size());
    EXPECT_EQ(sink.body, file.substr(0, sink.body.size()));
    for (size_t i = 0; i < sink.blocks.size(); ++i) {
      EXPECT_LE(sink.blocks[i], c.blockSize);
      EXPECT_GT(sink.blocks[i], 0u);
    }
    if (!sink.counts.empty()) {
      EXPECT_EQ(sink.counts.back(), sink.body.size());
    }
    if (c.atReply != BodySink::Step::Continue) {
      EXPECT_TRUE(sink.blocks.empty());
    }
    if (c.stopAt >= 0) {
      EXPECT_EQ(sink.blocks.size(), static_cast<size_t>(c.stopAt + 1));
    }
    if (c.failAt >= 0) {
      EXPECT_EQ(sink.blocks.size(), static_cast<size_t>(c.failAt + 1));
    }
    if (c.kind == Kind::Ok && !c.stopped) {
      EXPECT_EQ(sink.body, file);
    }
  }
}

TEST(PostForm, PeerClosingMidBodyLeavesTheCountShort) {
  const std::string part(30000, 'x');
  struct Case {
    const char* name;
    bool withLength;
  };
  for (const Case& c : {Case{"body until close", false}, Case{"content length too long", true}}) {
    SCOPED_TRACE(c.name);
    HttpPeer peer;
    std::string reply = HttpReply("XRS_RTNCODE: 00\r\nXRS_FILESIZE: 100000\r\n", "", false);
    if (c.withLength) {
      reply.insert(reply.size() - 2, "Content-Length: 100000\r\n");
    }
    peer.SetScript(Answer(reply + part));
    RecordingSink sink;
    ExchangeOutcome out =
        PostForm(peer.Url(), Command::Download, {"42", "7", "kim", "KVMRT"}, &sink);
    // Either the read reports the end or WinInet calls the cut an error: never a full file.
    EXPECT_TRUE(out.kind == Kind::Ok || out.kind == Kind::InternetFailure);
    EXPECT_EQ(out.bodyBytes, part.size());
    EXPECT_EQ(sink.body, part);
    if (out.kind == Kind::InternetFailure) {
      EXPECT_FALSE(out.message.empty());
    }
  }
}

TEST(PostForm, ReadsWithoutWaitingForAWholeBlock) {
  // The peer sends a little of a long body, then nothing: the first read must hand that over
  // instead of waiting for a whole block (until the receive time-out).
  const std::string part(1000, 'y');
  HttpPeer peer;
  HttpPeer::Script script = Answer(
      HttpReply("XRS_RTNCODE: 00\r\nXRS_FILESIZE: 100000\r\nContent-Length: 100000\r\n", "", false) + part);
  script.holdOpen = true;
  peer.SetScript(script);
  RecordingSink sink;
  sink.blockSize = 256 * 1024;
  sink.stopAtBlock = 0;
  ExchangeOutcome out = PostForm(peer.Url(), Command::Download, {"42", "7", "kim", "KVMRT"}, &sink);
  EXPECT_EQ(out.kind, Kind::Ok) << out.message;
  EXPECT_TRUE(out.stopped);
  EXPECT_EQ(sink.body, part);
}

TEST(PostForm, PeerWithoutAReplyIsAnInternetFailure) {
  const std::string part(20000, 'y');
  struct Case {
    const char* name;
    std::string reply;
    bool holdOpen;
    uint32_t error;  // 0: any
    uint64_t maxBodyBytes;  // a read cut by the time-out may drop what it had buffered
  };
  const std::vector<Case> cases = {
      {"never answers", "", true, ERROR_INTERNET_TIMEOUT, 0},
      {"closes without a word", "", false, 0, 0},
      {"stalls in the body",
       HttpReply("XRS_RTNCODE: 00\r\nXRS_FILESIZE: 100000\r\nContent-Length: 100000\r\n", "",
                 false) +
           part,
       true, ERROR_INTERNET_TIMEOUT, part.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer;
    HttpPeer::Script script;
    script.reply = c.reply;
    script.holdOpen = c.holdOpen;
    peer.SetScript(script);
    RecordingSink sink;
    auto start = steady_clock::now();
    ExchangeOutcome out =
        PostForm(peer.Url(), Command::GetNewMsgCount, {"kim"}, &sink);  // 500 ms time-outs
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(out.kind, Kind::InternetFailure);
    if (c.error != 0) {
      EXPECT_EQ(out.internetError, c.error);
    }
    EXPECT_NE(out.internetError, 0u);
    EXPECT_FALSE(out.message.empty());
    EXPECT_LE(out.bodyBytes, c.maxBodyBytes);
    EXPECT_EQ(out.bodyBytes, sink.body.size());
  }
}

TEST(PostForm, NobodyListeningIsAnInternetFailure) {
  uint16_t port;
  {
    HttpPeer closed;
    port = closed.port();
  }
  auto start = steady_clock::now();
  ExchangeOutcome out = PostForm("http://127.0.0.1:" + std::to_string(port) + "/a",
                                 Command::CheckOutCancel, kCancelValues);
  EXPECT_EQ(out.kind, Kind::InternetFailure);
  EXPECT_NE(out.internetError, 0u);
  EXPECT_FALSE(out.message.empty());
  EXPECT_EQ(out.message.find_first_of(" \r\n"), out.message.find(' '));  // trimmed, one line
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(PostForm, HttpsAdaptorIsSpokenToOverTls) {
  HttpPeer peer;
  peer.SetScript(Answer(""));
  ExchangeOutcome out = PostForm("https://127.0.0.1:" + std::to_string(peer.port()) + "/a",
                                 Command::CheckOutCancel, kCancelValues);
  EXPECT_EQ(out.kind, Kind::InternetFailure);
  ASSERT_TRUE(peer.WaitForRequests(1, milliseconds(5000)));
  const std::string raw = peer.Requests()[0].raw;
  ASSERT_FALSE(raw.empty());
  EXPECT_EQ(raw[0], '\x16');  // a TLS handshake record, not "POST"
}

// An upload source over a string that can fail or run dry after a given offset.
class StringSource : public UploadSource {
 public:
  explicit StringSource(std::string data, size_t failAt = std::string::npos,
                        size_t endAt = std::string::npos)
      : data_(std::move(data)), failAt_(failAt), endAt_(std::min(endAt, data_.size())) {}
  int reads = 0;
  bool Read(char* buffer, size_t capacity, size_t& got) override {
    ++reads;
    got = 0;
    if (pos_ >= failAt_) return false;
    size_t n = std::min({capacity, endAt_ - pos_, failAt_ - pos_});
    std::copy_n(data_.data() + pos_, n, buffer);
    pos_ += n;
    got = n;
    return true;
  }

 private:
  std::string data_;
  size_t failAt_;
  size_t endAt_;
  size_t pos_ = 0;
};

const std::vector<std::string> kCheckInValues = {"42", "1.0", "1.1", "kim", "", "", "노트 é"};

TEST(PostUpload, AnnouncesTheLengthAndSendsEveryChunk) {
  struct Case {
    const char* name;
    size_t length;
    std::vector<uint64_t> progress;
  };
  const std::vector<Case> cases = {
      {"one million bytes", 1000000, {196608, 393216, 589824, 786432, 983040, 1000000}},
      {"exactly one chunk", 196608, {196608}},
      {"empty file", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file(c.length, '\0');
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 % 253);
    HttpPeer peer;
    peer.SetScript(Answer(HttpReply("XRS_RTNCODE: 00\r\n")));
    StringSource source(file);
    std::vector<uint64_t> seen;
    ExchangeOutcome out = PostUpload(peer.Url(), Command::CheckIn, kCheckInValues, source,
                                     file.size(), 196608, [&](uint64_t sent, uint64_t total) {
                                       EXPECT_EQ(total, file.size());
                                       seen.push_back(sent);
                                     });
    ASSERT_EQ(out.kind, Kind::Ok) << out.message;
    EXPECT_EQ(seen, c.progress);
    ASSERT_TRUE(peer.WaitForRequests(1, milliseconds(5000)));
    const auto r = peer.Requests()[0];
    EXPECT_EQ(r.RequestLine(), "POST /adaptor HTTP/1.1");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(file.size()));
    EXPECT_FALSE(r.HasHeader("Transfer-Encoding"));
    EXPECT_EQ(r.Header("Content-Type"), "application/octet-stream");
    EXPECT_TRUE(r.body == file) << "body differs, " << r.body.size() << " bytes arrived";
    EXPECT_EQ(r.Header("XRQ_COMMAND"), "CHECKIN");
    EXPECT_EQ(r.Header("XRQ_OBJECT"), "3432");
    EXPECT_EQ(r.Header("XRQ_NEWVERSION"), "312e31");
    EXPECT_EQ(r.Header("XRQ_VNOTE"), "eb85b8ed8ab820c3a9");
  }
}

TEST(PostUpload, SourceFailureEndsTheAttempt) {
  const std::string file(500000, 'f');
  struct Case {
    const char* name;
    size_t failAt;
    size_t endAt;
  };
  const std::vector<Case> cases = {
      {"read error at the start", 0, std::string::npos},
      {"read error in the middle", 300000, std::string::npos},
      {"source shorter than announced", std::string::npos, 250000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpPeer peer;
    peer.SetScript(Answer(HttpReply("XRS_RTNCODE: 00\r\n")));
    StringSource source(file, c.failAt, c.endAt);
    auto start = steady_clock::now();
    ExchangeOutcome out =
        PostUpload(peer.Url(), Command::CheckIn, kCheckInValues, source, file.size(), 196608);
    EXPECT_EQ(out.kind, Kind::OtherFailure);
    EXPECT_LE(source.reads, 4);
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
    // The server never sees a complete request body.
    if (peer.WaitForRequests(1, milliseconds(5000))) {
      EXPECT_LT(peer.Requests()[0].body.size(), file.size());
    }
  }
}

TEST(PostUpload, FileSourceSendsTheFile) {
  wchar_t dir[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
  const std::string path = Narrow(dir) + "exchange 업로드 test.bin";
  std::string content(70000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 256);
  {
    std::ofstream f(Widen(path).c_str(), std::ios::binary);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  {
    FileUploadSource source(path);
    ASSERT_TRUE(source.IsOpen());
    EXPECT_EQ(source.Length(), content.size());
    HttpPeer peer;
    peer.SetScript(Answer(HttpReply("XRS_RTNCODE: 00\r\n")));
    ExchangeOutcome out = PostUpload(peer.Url(), Command::CheckIn, kCheckInValues, source,
                                     source.Length(), 16384);
    EXPECT_EQ(out.kind, Kind::Ok) << out.message;
    ASSERT_TRUE(peer.WaitForRequests(1, milliseconds(5000)));
    EXPECT_TRUE(peer.Requests()[0].body == content);
  }
  DeleteFileW(Widen(path).c_str());
  FileUploadSource missing(path);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Length(), 0u);
}

TEST(PostUpload, RefusalCarriesTheDecodedDescription) {
  HttpPeer peer;
  peer.SetScript(Answer(HttpReply("XRS_RTNCODE: 000\r\nXRS_CODEDESC: eab1b0eca088eb90a8\r\n")));
  StringSource source("data");
  ExchangeOutcome out = PostUpload(peer.Url(), Command::CheckIn, kCheckInValues, source, 4, 196608);
  EXPECT_EQ(out.kind, Kind::Refused);
  EXPECT_EQ(out.message, "거절됨");
}

}  // namespace
}  // namespace edms::win
