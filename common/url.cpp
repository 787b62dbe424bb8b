#include "common/url.h"

#include "common/ascii.h"

namespace edms {
namespace {

bool HasSpaceOrControl(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// Decimal 1..65535 with nothing else; an empty port is refused, not defaulted.
std::optional<uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

bool IsIpv6LiteralChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
         c == ':' || c == '.';
}

}  // namespace

std::optional<AdaptorUrl> SplitAdaptorUrl(std::string_view url) {
  if (url.empty() || HasSpaceOrControl(url)) return std::nullopt;

  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  AdaptorUrl out;
  const std::string_view scheme = url.substr(0, schemeEnd);
  if (EqualsIgnoreCase(scheme, "http")) {
    out.scheme = "http";
    out.port = 80;
  } else if (EqualsIgnoreCase(scheme, "https")) {
    out.scheme = "https";
    out.port = 443;
  } else {
    return std::nullopt;
  }

  std::string_view rest = url.substr(schemeEnd + 3);
  const size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view pathAndQuery =
      authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);

  // The last '@' ends the user information, so a password may itself hold '@'.
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    const size_t colon = userInfo.find(':');
    out.user = std::string(userInfo.substr(0, colon));
    if (colon != std::string_view::npos) out.password = std::string(userInfo.substr(colon + 1));
    authority = authority.substr(at + 1);
  }

  std::string_view portText;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view literal = authority.substr(1, close - 1);
    if (literal.empty() || literal.find(':') == std::string_view::npos) return std::nullopt;
    for (char c : literal) {
      if (!IsIpv6LiteralChar(c)) return std::nullopt;
    }
    out.host = std::string(literal);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      portText = after.substr(1);
      hasPort = true;
    }
  } else {
    const size_t colon = authority.find(':');
    out.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = authority.substr(colon + 1);
      hasPort = true;
    }
    if (out.host.find_first_of("[]") != std::string::npos) return std::nullopt;
  }
  if (out.host.empty()) return std::nullopt;
  if (hasPort) {
    const auto port = ParsePort(portText);
    if (!port) return std::nullopt;
    out.port = *port;
  }

  // The fragment never goes to the server.
  pathAndQuery = pathAndQuery.substr(0, pathAndQuery.find('#'));
  if (pathAndQuery.empty()) {
    out.objectPath = "/";
  } else if (pathAndQuery.front() == '?') {
    out.objectPath = "/" + std::string(pathAndQuery);
  } else {
    out.objectPath = std::string(pathAndQuery);
  }
  return out;
}

}  // namespace edms
