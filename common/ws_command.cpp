#include "common/ws_command.h"

#include <cstddef>

#include "common/ascii.h"

namespace edms {
namespace {

bool ParsePort(std::string_view digits, uint16_t& port) {
  if (digits.empty() || digits.size() > 5) return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// Splits "host[:port]" / "[v6][:port]"; `port` stays 0 when absent.
bool SplitHostPort(std::string_view authority, std::string& host, uint16_t& port) {
  port = 0;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(authority.substr(1, close - 1));
    rest = authority.substr(close + 1);
  } else {
    std::size_t colon = authority.find(':');
    host = std::string(authority.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
  }
  if (host.empty()) return false;
  if (rest.empty()) return true;
  if (rest.front() != ':') return false;
  return ParsePort(rest.substr(1), port);
}

}  // namespace

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

std::optional<Origin> ParseOrigin(std::string_view url) {
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return std::nullopt;
  }
  std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  Origin origin;
  origin.scheme = AsciiLower(url.substr(0, schemeEnd));
  uint16_t defaultPort = 0;
  if (origin.scheme == "http") {
    defaultPort = 80;
  } else if (origin.scheme == "https") {
    defaultPort = 443;
  } else {
    return std::nullopt;
  }
  std::string_view authority = url.substr(schemeEnd + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority = authority.substr(at + 1);
  std::string host;
  if (!SplitHostPort(authority, host, origin.port)) return std::nullopt;
  origin.host = AsciiLower(host);
  if (origin.port == 0) origin.port = defaultPort;
  return origin;
}

std::vector<Origin> AllowedOriginSet(std::string_view allowedOrigins, std::string_view edmsUrl,
                                     std::string_view adaptorUrl) {
  std::vector<Origin> set;
  std::size_t start = 0;
  while (start <= allowedOrigins.size() && !allowedOrigins.empty()) {
    std::size_t sep = allowedOrigins.find(';', start);
    std::string_view item = allowedOrigins.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (auto origin = ParseOrigin(item)) set.push_back(*origin);
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  if (!allowedOrigins.empty()) return set;
  for (std::string_view url : {edmsUrl, adaptorUrl}) {
    if (auto origin = ParseOrigin(url)) set.push_back(*origin);
  }
  return set;
}

bool IsLoopbackHost(std::string_view host, uint16_t port) {
  std::string name;
  uint16_t given = 0;
  if (!SplitHostPort(host, name, given) || given != port) return false;
  name = AsciiLower(name);
  // The bracket form is the only way "::1" can appear together with a port.
  bool bracketed = !host.empty() && host.front() == '[';
  if (bracketed) return name == "::1";
  return name == "127.0.0.1" || name == "localhost";
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
