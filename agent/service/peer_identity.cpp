#include "agent/service/peer_identity.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "common/win/detached_thread.h"
#include "common/win/handles.h"
#include "common/win/text.h"

namespace edms {
namespace {

constexpr DWORD kLoopback = 0x0100007F;  // 127.0.0.1 in network order

uint16_t PortOf(DWORD networkOrder) { return ntohs(static_cast<u_short>(networkOrder & 0xFFFF)); }

// The whole table of one kind; empty when it cannot be read.
std::vector<MIB_TCPROW_OWNER_PID> TcpTable(TCP_TABLE_CLASS kind) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD bytes = 0;
    if (GetExtendedTcpTable(nullptr, &bytes, FALSE, AF_INET, kind, 0) != ERROR_INSUFFICIENT_BUFFER) return {};
    // Connections come and go between the two calls: room for a few more.
    bytes += 16 * sizeof(MIB_TCPROW_OWNER_PID);
    std::vector<unsigned char> buffer(bytes);
    const DWORD status = GetExtendedTcpTable(buffer.data(), &bytes, FALSE, AF_INET, kind, 0);
    if (status == ERROR_INSUFFICIENT_BUFFER) continue;
    if (status != NO_ERROR) return {};
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    return std::vector<MIB_TCPROW_OWNER_PID>(table->table, table->table + table->dwNumEntries);
  }
  return {};
}

std::string UserSidOf(HANDLE process) {
  win::UniqueKernelHandle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return {};
  DWORD bytes = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &bytes);
  if (bytes == 0) return {};
  std::vector<unsigned char> buffer(bytes);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), bytes, &bytes)) return {};
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
  win::UniqueLocalMem<wchar_t> owned(text);
  return win::Narrow(owned.get());
}

}  // namespace

PeerIdentity ThisProcessIdentity() {
  PeerIdentity self;
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session)) self.session = session;
  self.userSid = UserSidOf(GetCurrentProcess());
  return self;
}

std::optional<PeerIdentity> ProcessIdentity(uint32_t pid) {
  if (pid == 0) return std::nullopt;
  PeerIdentity identity;
  DWORD session = 0;
  if (!ProcessIdToSessionId(pid, &session)) return std::nullopt;
  identity.session = session;
  win::UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  identity.userSid = UserSidOf(process.get());
  if (identity.userSid.empty()) return std::nullopt;
  return identity;
}

namespace {

// One read of the connection table at a time, on a thread of its own, shared by every
// connection that waits for it: under Wine a read scans every process's open files for every
// row and takes seconds once the computer holds a few thousand connections, so a check waits
// for it only until its deadline and never reads the table on the accepting thread.
struct OwnerTable {
  std::mutex mutex;
  std::condition_variable done;
  std::vector<MIB_TCPROW_OWNER_PID> rows;
  std::chrono::steady_clock::time_point rowsReadFrom;  // when the read that gave `rows` began
  bool reading = false;
};

// Starts a read unless one is under way; false when no thread could be started.
bool StartRead(const std::shared_ptr<OwnerTable>& table) {
  if (table->reading) return true;
  const bool started = win::StartDetachedThread([table, began = std::chrono::steady_clock::now()] {
    std::vector<MIB_TCPROW_OWNER_PID> rows = TcpTable(TCP_TABLE_OWNER_PID_CONNECTIONS);
    std::lock_guard<std::mutex> lock(table->mutex);
    table->rows = std::move(rows);
    table->rowsReadFrom = began;
    table->reading = false;
    table->done.notify_all();
  });
  if (!started) return false;
  table->reading = true;
  return true;
}

}  // namespace

OwnerLookup ConnectionOwner(uint16_t peerPort, uint16_t localPort, std::chrono::milliseconds budget) {
  static const auto table = std::make_shared<OwnerTable>();
  // A read of the last moments serves every connection of a burst that it holds (connections
  // wait in the backlog before they are accepted); one it does not hold waits for a read begun
  // after it was accepted, whose answer is final.
  constexpr auto kRecent = std::chrono::seconds(2);
  const auto since = std::chrono::steady_clock::now();
  const auto deadline = since + budget;
  std::unique_lock<std::mutex> lock(table->mutex);
  for (;;) {
    const bool final = table->rowsReadFrom >= since;
    if (final || since - table->rowsReadFrom < kRecent) {
      for (const MIB_TCPROW_OWNER_PID& row : table->rows) {
        if (row.dwState == MIB_TCP_STATE_ESTAB && row.dwLocalAddr == kLoopback &&
            PortOf(row.dwLocalPort) == peerPort && row.dwRemoteAddr == kLoopback &&
            PortOf(row.dwRemotePort) == localPort) {
          return {row.dwOwningPid ? std::optional<uint32_t>(row.dwOwningPid) : std::nullopt, false};
        }
      }
      if (final) return {std::nullopt, false};
    }
    if (!StartRead(table)) return {std::nullopt, false};
    // Woken when a read ends: one begun before this connection leaves it to start the next.
    if (!table->done.wait_until(lock, deadline, [&] { return table->rowsReadFrom >= since || !table->reading; })) {
      return {std::nullopt, true};
    }
  }
}

std::optional<uint32_t> ListenerOwner(uint16_t port) {
  for (const MIB_TCPROW_OWNER_PID& row : TcpTable(TCP_TABLE_OWNER_PID_LISTENER)) {
    if ((row.dwLocalAddr == kLoopback || row.dwLocalAddr == 0) && PortOf(row.dwLocalPort) == port) {
      return row.dwOwningPid ? std::optional<uint32_t>(row.dwOwningPid) : std::nullopt;
    }
  }
  return std::nullopt;
}

bool OtherUsersLoggedOn(uint32_t ownSession) {
  PWTS_SESSION_INFOW sessions = nullptr;
  DWORD count = 0;
  if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) return false;
  win::UniqueWtsMem<WTS_SESSION_INFOW> owned(sessions);
  for (DWORD i = 0; i < count; ++i) {
    const WTS_SESSION_INFOW& session = owned.get()[i];
    if (session.SessionId == ownSession) continue;
    if (session.State != WTSActive && session.State != WTSDisconnected) continue;
    LPWSTR user = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session.SessionId, WTSUserName, &user, &bytes)) {
      continue;
    }
    win::UniqueWtsMem<wchar_t> name(user);
    if (name && name.get()[0] != L'\0') return true;
  }
  return false;
}

PeerCheck CheckPeer(uint16_t peerPort, uint16_t localPort) {
  static const PeerIdentity self = ThisProcessIdentity();
  const OwnerLookup lookup = ConnectionOwner(peerPort, localPort, kOwnerLookupBudget);
  const std::optional<uint32_t>& owner = lookup.pid;
  const std::optional<PeerIdentity> peer = owner ? ProcessIdentity(*owner) : std::nullopt;
  // The session list is asked only when it can change the verdict, and then at most every few
  // seconds: logons are rare, connections come in bursts.
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point askedAt;
  static bool othersKnown = false;
  bool others = false;
  if (!peer) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (askedAt == std::chrono::steady_clock::time_point{} || now - askedAt > std::chrono::seconds(5)) {
      othersKnown = OtherUsersLoggedOn(self.session);
      askedAt = now;
    }
    others = othersKnown;
  }
  PeerCheck check;
  check.verdict = JudgePeer(peer, self, others);
  check.reason = PeerRefusalReason(check.verdict, peer);
  check.peer = peer ? "process " + std::to_string(*owner) + ", session " + std::to_string(peer->session)
             : lookup.timedOut ? "a process that cannot be identified (the system's connection table was not read in time)"
                               : "a process that cannot be identified";
  return check;
}

}  // namespace edms
