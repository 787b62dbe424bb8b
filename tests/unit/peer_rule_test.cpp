#include "common/peer_rule.h"

#include <gtest/gtest.h>

namespace edms {
namespace {

TEST(JudgePeer, OnlyTheAgentsOwnUserInItsOwnSession) {
  const PeerIdentity self{2, "S-1-5-21-1-2-3-1001"};
  struct Case {
    const char* what;
    std::optional<PeerIdentity> peer;
    bool othersLoggedOn;
    PeerVerdict verdict;
  } cases[] = {
      {"own session and user", PeerIdentity{2, "S-1-5-21-1-2-3-1001"}, true, PeerVerdict::kAccept},
      {"own, alone on the computer", PeerIdentity{2, "S-1-5-21-1-2-3-1001"}, false, PeerVerdict::kAccept},
      {"another user's session", PeerIdentity{3, "S-1-5-21-1-2-3-1002"}, true, PeerVerdict::kOtherSession},
      {"a service in session 0", PeerIdentity{0, "S-1-5-18"}, false, PeerVerdict::kOtherSession},
      {"another user in this session", PeerIdentity{2, "S-1-5-21-1-2-3-1002"}, false, PeerVerdict::kOtherUser},
      {"no user read", PeerIdentity{2, ""}, false, PeerVerdict::kOtherUser},
      {"unidentified, others logged on", std::nullopt, true, PeerVerdict::kUnidentified},
      {"unidentified, the only session", std::nullopt, false, PeerVerdict::kAccept},
  };
  for (const auto& c : cases) {
    const PeerVerdict verdict = JudgePeer(c.peer, self, c.othersLoggedOn);
    EXPECT_EQ(verdict, c.verdict) << c.what;
    EXPECT_EQ(PeerRefusalReason(verdict, c.peer).empty(), verdict == PeerVerdict::kAccept) << c.what;
  }
}

}  // namespace
}  // namespace edms
