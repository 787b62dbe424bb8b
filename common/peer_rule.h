// One user, one agent: whom a connection to the agent's port may act for. On a computer that
// several people are logged on to (a terminal server) every session shares one loopback, so
// the agent looks at who is on the other end before it lets a connection in.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace edms {

// A process's logon session and user (its SID in string form).
struct PeerIdentity {
  uint32_t session = 0;
  std::string userSid;
};

enum class PeerVerdict { kAccept, kOtherSession, kOtherUser, kUnidentified };

// A peer of the agent's own user in the agent's own session is accepted; one of another
// session or another user is refused. A peer whose process could not be identified (nullopt)
// is refused when other users are logged on to this computer, and accepted when this is the
// only interactive session (every single-user desktop).
PeerVerdict JudgePeer(const std::optional<PeerIdentity>& peer, const PeerIdentity& self, bool otherUsersLoggedOn);

// The refusal's reason for the debug output; empty for kAccept.
std::string PeerRefusalReason(PeerVerdict verdict, const std::optional<PeerIdentity>& peer);

}  // namespace edms
