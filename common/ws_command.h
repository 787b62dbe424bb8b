// The agent's WebSocket command grammar and the rules of its opening handshake.
// Pure functions over UTF-8 text; the agent's service and server apply them.
#pragma once
#include "common/url.h"
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

// The commands the page may send; anything else (including a different case) is Unknown
// and gets no reply.
enum class AgentCommand { CheckUser, CheckOut, View, AddToDownload, DoDownload, ClearDownload, Unknown };

// Exact, case-sensitive match of the whole command name.
AgentCommand ParseCommandName(std::string_view arg1);

// Cuts `text` at every `separator` ('^' between the fields of a command, '*' inside a download
// item). Empty pieces are kept ("a^^b" -> a,"",b; "a^" -> a,""), an empty text gives no pieces.
std::vector<std::string> SplitFields(std::string_view text, char separator = '^');

// The answer to a connection's first data message: "Welcome " + key.
std::string LoginReply(std::string_view key);

// The CHECK_USER answer word: "SUCCESS" when the client's key is the session user (ASCII
// letters compared without regard to case, every other byte exactly),
// otherwise the session user. An empty session user means "none found" and counts as
// the client's key.
std::string CheckUserReply(std::string_view clientKey, std::string_view sessionUser);

// The origins a browser page may connect from: the ';'-separated `allowedOrigins` value
// when it is not empty (blank entries and entries that are no origin are skipped), else the
// origin of the EDMS page `edmsUrl` (when it parses). The adaptor's origin is not the page's:
// an installation whose page and adaptor differ, and whose page needs both, lists them.
std::vector<Origin> AllowedOriginSet(std::string_view allowedOrigins, std::string_view edmsUrl);

// True when the Host header names this computer (IsLoopbackAuthority) and the agent's port,
// which must be given.
bool IsLoopbackHost(std::string_view host, uint16_t port);

enum class HandshakeVerdict { Accept, BadHost, ForeignOrigin };

// The opening-handshake rule: the Host must be loopback for `port`; an Origin, when the
// client sent one, must be in `allowed`. A client without Origin (a local program) passes.
HandshakeVerdict CheckHandshake(std::string_view host, const std::optional<std::string>& origin,
                                const std::vector<Origin>& allowed, uint16_t port);

}  // namespace edms
