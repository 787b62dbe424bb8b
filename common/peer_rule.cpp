#include "common/peer_rule.h"

namespace edms {

PeerVerdict JudgePeer(const std::optional<PeerIdentity>& peer, const PeerIdentity& self, bool otherUsersLoggedOn) {
  if (!peer) return otherUsersLoggedOn ? PeerVerdict::kUnidentified : PeerVerdict::kAccept;
  if (peer->session != self.session) return PeerVerdict::kOtherSession;
  if (peer->userSid.empty() || peer->userSid != self.userSid) return PeerVerdict::kOtherUser;
  return PeerVerdict::kAccept;
}

std::string PeerRefusalReason(PeerVerdict verdict, const std::optional<PeerIdentity>& peer) {
  switch (verdict) {
    case PeerVerdict::kAccept:
      return {};
    case PeerVerdict::kOtherSession:
      return "a process of session " + std::to_string(peer ? peer->session : 0) + ", not this agent's";
    case PeerVerdict::kOtherUser:
      return "a process of another user (" + (peer ? peer->userSid : std::string()) + ")";
    case PeerVerdict::kUnidentified:
      return "a process that cannot be identified, while other users are logged on";
  }
  return {};
}

}  // namespace edms
