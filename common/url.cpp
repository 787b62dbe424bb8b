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

std::optional<Authority> ParseAuthority(std::string_view text) {
  if (HasSpaceOrControl(text) || text.find('@') != std::string_view::npos) return std::nullopt;
  Authority out;
  std::string_view after;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view literal = text.substr(1, close - 1);
    if (literal.empty() || literal.find(':') == std::string_view::npos) return std::nullopt;
    for (char c : literal) {
      if (!IsIpv6LiteralChar(c)) return std::nullopt;
    }
    out.host = AsciiLower(literal);
    out.ipv6 = true;
    after = text.substr(close + 1);
  } else {
    const size_t colon = text.find(':');
    out.host = AsciiLower(text.substr(0, colon));
    if (colon != std::string_view::npos) after = text.substr(colon);
    if (out.host.find_first_of("[]") != std::string::npos) return std::nullopt;
  }
  if (out.host.empty()) return std::nullopt;
  if (!after.empty()) {
    if (after.front() != ':') return std::nullopt;
    const auto port = ParsePort(after.substr(1));
    if (!port) return std::nullopt;
    out.port = *port;
  }
  return out;
}

bool IsLoopbackAuthority(const Authority& authority) {
  if (authority.ipv6) return authority.host == "::1";
  if (authority.host == "localhost") return true;
  // Four decimal parts of 0..255, the first 127.
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = authority.host.find('.', start);
    const std::string_view part = std::string_view(authority.host).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos) return false;
    const int value = std::stoi(std::string(part));
    if (value > 255 || (parts == 0 && value != 127)) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

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

  const std::optional<Authority> parsed = ParseAuthority(authority);
  if (!parsed) return std::nullopt;
  out.host = parsed->host;
  if (parsed->port != 0) out.port = parsed->port;

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

std::optional<Origin> ParseOrigin(std::string_view url) {
  const std::optional<AdaptorUrl> split = SplitAdaptorUrl(url);
  if (!split) return std::nullopt;
  return Origin{split->scheme, split->host, split->port};
}

std::string OriginUrl(const Origin& origin) {
  const bool v6 = origin.host.find(':') != std::string::npos;
  return origin.scheme + "://" + (v6 ? "[" + origin.host + "]" : origin.host) + ":" + std::to_string(origin.port) + "/";
}

bool IsLoopbackOrigin(const Origin& origin) {
  return IsLoopbackAuthority(Authority{origin.host, origin.host.find(':') != std::string::npos, origin.port});
}

bool IsPlainHttpElsewhere(std::string_view url) {
  const std::optional<Origin> origin = ParseOrigin(url);
  return origin && origin->scheme == "http" && !IsLoopbackOrigin(*origin);
}

}  // namespace edms
