// Who is on the other end of a connection to the agent's port, and who else is logged on:
// what the peer rule (common/peer_rule.h) decides with.
#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "common/peer_rule.h"

namespace edms {

// The agent's own process.
PeerIdentity ThisProcessIdentity();

// The session and user of process `pid`; nullopt when it cannot be read.
std::optional<PeerIdentity> ProcessIdentity(uint32_t pid);

// The process that owns the loopback connection from 127.0.0.1:`peerPort` to 127.0.0.1:
// `localPort` (the system's TCP table with owner process ids, as read in the last 2 s or after
// the call began); no pid when there is no such row or its owner cannot be read (a process of
// another system, as a Linux program is under Wine), and also when no read ended in `budget`.
struct OwnerLookup {
  std::optional<uint32_t> pid;
  bool timedOut = false;
};
OwnerLookup ConnectionOwner(uint16_t peerPort, uint16_t localPort, std::chrono::milliseconds budget);

// How long a connection waits for the table before its peer counts as not identified.
constexpr std::chrono::milliseconds kOwnerLookupBudget{1500};

// The process that listens on 127.0.0.1:`port` (or on every address); nullopt when none or
// it cannot be told.
std::optional<uint32_t> ListenerOwner(uint16_t port);

// True when a session other than `ownSession` has a user logged on (active or disconnected).
bool OtherUsersLoggedOn(uint32_t ownSession);

// The connection's identity and the verdict of the peer rule, with its reason for the
// debug output (empty when accepted). Waits at most kOwnerLookupBudget for the table.
struct PeerCheck {
  PeerVerdict verdict = PeerVerdict::kAccept;
  std::string peer;    // "process 1234, session 1", or "a process that cannot be identified"
  std::string reason;  // why it is refused
};
PeerCheck CheckPeer(uint16_t peerPort, uint16_t localPort);

}  // namespace edms
