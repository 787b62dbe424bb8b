#include "common/ws_command.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace edms {
namespace {

TEST(WsCommand, CommandNamesMatchExactly) {
  struct Case {
    const char* name;
    AgentCommand expected;
  } cases[] = {
      {"CHECK_USER", AgentCommand::CheckUser},     {"CHECKOUT", AgentCommand::CheckOut},
      {"VIEW", AgentCommand::View},                {"ADD_TO_DOWNLOAD", AgentCommand::AddToDownload},
      {"DO_DOWNLOAD", AgentCommand::DoDownload},   {"CLEAR_DOWNLOAD", AgentCommand::ClearDownload},
      {"check_user", AgentCommand::Unknown},       {"CHECK_USER ", AgentCommand::Unknown},
      {"CHECKOUTX", AgentCommand::Unknown},        {"", AgentCommand::Unknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseCommandName(c.name), c.expected) << c.name;
}

TEST(WsCommand, SplitFieldsKeepsEmptyPieces) {
  struct Case {
    const char* text;
    std::vector<std::string> fields;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a^b^c", {"a", "b", "c"}},
      {"a^^b", {"a", "", "b"}},
      {"a^", {"a", ""}},
      {"^", {"", ""}},
      {"D1^P1^\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C.docx^1.0^Y^alice^N",
       {"D1", "P1", "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C.docx", "1.0", "Y", "alice", "N"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitFields(c.text), c.fields) << c.text;
}

TEST(WsCommand, LoginReplyKeepsKeyBytes) {
  EXPECT_EQ(LoginReply("alice"), "Welcome alice");
  EXPECT_EQ(LoginReply("\xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98"), "Welcome \xEA\xB9\x80\xEC\xB2\xA0\xEC\x88\x98");
  EXPECT_EQ(LoginReply(""), "Welcome ");
}

TEST(WsCommand, CheckUserReply) {
  struct Case {
    const char* key;
    const char* session;
    const char* reply;
  } cases[] = {
      {"alice", "", "SUCCESS"},       // no EDMS drive: the key stands for itself
      {"alice", "ALICE", "SUCCESS"},  // case does not matter
      {"alice", "BOB", "BOB"},
      {"alice", "alic", "alic"},
      {"", "bob", "bob"},
      {"\xEA\xB9\x80", "\xEA\xB9\x80", "SUCCESS"},
      {"\xEA\xB9\x80", "\xEA\xB9\x81", "\xEA\xB9\x81"},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckUserReply(c.key, c.session), c.reply) << c.key << "/" << c.session;
}

TEST(WsCommand, AllowedOriginSetPrefersTheExplicitList) {
  auto fromList = AllowedOriginSet(" http://a:1 ; bogus;;https://b ", "http://edms:80/x");
  ASSERT_EQ(fromList.size(), 2u);
  EXPECT_TRUE(fromList[0] == (Origin{"http", "a", 1}));
  EXPECT_TRUE(fromList[1] == (Origin{"https", "b", 443}));

  auto fromPage = AllowedOriginSet("", "https://edms/x");
  ASSERT_EQ(fromPage.size(), 1u);
  EXPECT_TRUE(fromPage[0] == (Origin{"https", "edms", 443}));

  EXPECT_TRUE(AllowedOriginSet("", "").empty());
}

TEST(WsCommand, HandshakeRules) {
  const std::vector<Origin> allowed = AllowedOriginSet("", "http://127.0.0.1:8080/");
  struct Case {
    const char* host;
    std::optional<std::string> origin;
    HandshakeVerdict verdict;
  } cases[] = {
      {"127.0.0.1:23232", std::nullopt, HandshakeVerdict::Accept},
      {"localhost:23232", std::nullopt, HandshakeVerdict::Accept},
      {"LocalHost:23232", std::nullopt, HandshakeVerdict::Accept},
      {"[::1]:23232", std::nullopt, HandshakeVerdict::Accept},
      {"127.0.0.1:23232", std::string("http://127.0.0.1:8080"), HandshakeVerdict::Accept},
      {"127.0.0.1:23232", std::string("HTTP://127.0.0.1:8080"), HandshakeVerdict::Accept},
      // DNS rebinding: a foreign name that resolves to 127.0.0.1.
      {"evil.example:23232", std::nullopt, HandshakeVerdict::BadHost},
      {"127.0.0.1.evil.example:23232", std::nullopt, HandshakeVerdict::BadHost},
      {"127.0.0.1:8080", std::nullopt, HandshakeVerdict::BadHost},
      {"127.0.0.1", std::nullopt, HandshakeVerdict::BadHost},
      {"", std::nullopt, HandshakeVerdict::BadHost},
      {"::1:23232", std::nullopt, HandshakeVerdict::BadHost},
      {"127.0.0.1:23232", std::string("http://evil.example"), HandshakeVerdict::ForeignOrigin},
      {"127.0.0.1:23232", std::string("http://127.0.0.1:8081"), HandshakeVerdict::ForeignOrigin},
      {"127.0.0.1:23232", std::string("https://127.0.0.1:8080"), HandshakeVerdict::ForeignOrigin},
      {"127.0.0.1:23232", std::string("null"), HandshakeVerdict::ForeignOrigin},
      {"127.0.0.1:23232", std::string(""), HandshakeVerdict::ForeignOrigin},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckHandshake(c.host, c.origin, allowed, 23232), c.verdict)
        << c.host << " origin=" << c.origin.value_or("<none>");
  }
  // An empty allowed set refuses every browser.
  EXPECT_EQ(CheckHandshake("127.0.0.1:23232", std::string("http://127.0.0.1:8080"), {}, 23232),
            HandshakeVerdict::ForeignOrigin);
}

}  // namespace
}  // namespace edms
