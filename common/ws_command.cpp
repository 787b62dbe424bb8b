#include "common/ws_command.h"

#include <cstddef>

#include "common/ascii.h"

namespace edms {

AgentCommand ParseCommandName(std::string_view arg1) {
  if (arg1 == "CHECK_USER") return AgentCommand::CheckUser;
  if (arg1 == "CHECKOUT") return AgentCommand::CheckOut;
  if (arg1 == "VIEW") return AgentCommand::View;
  if (arg1 == "ADD_TO_DOWNLOAD") return AgentCommand::AddToDownload;
  if (arg1 == "DO_DOWNLOAD") return AgentCommand::DoDownload;
  if (arg1 == "CLEAR_DOWNLOAD") return AgentCommand::ClearDownload;
  return AgentCommand::Unknown;
}

std::vector<std::string> SplitFields(std::string_view text, char separator) {
  std::vector<std::string> fields;
  if (text.empty()) return fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t sep = text.find(separator, start);
    fields.emplace_back(text.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start));
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  return fields;
}

std::string LoginReply(std::string_view key) { return "Welcome " + std::string(key); }

std::string CheckUserReply(std::string_view clientKey, std::string_view sessionUser) {
  std::string_view user = sessionUser.empty() ? clientKey : sessionUser;
  return EqualsIgnoreCase(clientKey, user) ? std::string("SUCCESS") : std::string(user);
}

std::vector<Origin> AllowedOriginSet(std::string_view allowedOrigins, std::string_view edmsUrl) {
  std::vector<Origin> set;
  if (!allowedOrigins.empty()) {
    for (std::string_view item : SplitFields(allowedOrigins, ';')) {
      while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
      while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
      if (auto origin = ParseOrigin(item)) set.push_back(*origin);
    }
    return set;
  }
  if (auto origin = ParseOrigin(edmsUrl)) set.push_back(*origin);
  return set;
}

bool IsLoopbackHost(std::string_view host, uint16_t port) {
  const std::optional<Authority> authority = ParseAuthority(host);
  return authority && authority->port != 0 && authority->port == port && IsLoopbackAuthority(*authority);
}

HandshakeVerdict CheckHandshake(std::string_view host, const std::optional<std::string>& origin,
                                const std::vector<Origin>& allowed, uint16_t port) {
  if (!IsLoopbackHost(host, port)) return HandshakeVerdict::BadHost;
  if (!origin) return HandshakeVerdict::Accept;
  auto parsed = ParseOrigin(*origin);
  if (!parsed) return HandshakeVerdict::ForeignOrigin;
  for (const Origin& o : allowed) {
    if (o == *parsed) return HandshakeVerdict::Accept;
  }
  return HandshakeVerdict::ForeignOrigin;
}

}  // namespace edms
