// The one reading of URLs and their authorities: the adaptor URL the exchanges split, the
// origins a page may connect from, and the Host headers the servers check.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace edms {

// The authority of a URL, an Origin or a Host header: "host[:port]" or "[v6 literal][:port]".
struct Authority {
  std::string host;  // lower case; an IPv6 literal without its brackets; a trailing dot kept
  bool ipv6 = false;
  uint16_t port = 0;  // 0 when none was given
};

// nullopt for an empty host, a port that is not 1..65535, user information, brackets around
// anything but an IPv6 literal, white space or control characters.
std::optional<Authority> ParseAuthority(std::string_view text);

// This computer by name: "localhost", the IPv6 loopback "::1", or an IPv4 address of
// 127.0.0.0/8 written as four decimal parts. "localhost." and other spellings are not.
bool IsLoopbackAuthority(const Authority& authority);

struct AdaptorUrl {
  std::string scheme;      // "http" or "https", lower case
  std::string host;        // lower case, without brackets or port
  uint16_t port = 0;       // explicit, or 80 / 443 by scheme
  std::string objectPath;  // path and query, "/" when the URL has none
  std::string user;        // may be empty
  std::string password;    // may be empty
  bool secure() const { return scheme == "https"; }
};

// nullopt for anything that is not an absolute http(s) URL with a host: other schemes,
// an empty host, a port that is not 1..65535, white space or control characters.
std::optional<AdaptorUrl> SplitAdaptorUrl(std::string_view url);

// A web origin: scheme, host and port (the scheme's default when the URL gives none).
struct Origin {
  std::string scheme;
  std::string host;
  uint16_t port = 0;
  bool operator==(const Origin& o) const { return scheme == o.scheme && host == o.host && port == o.port; }
};

// The origin of an absolute http(s) URL or of an Origin header value, as SplitAdaptorUrl reads
// it; nullopt for anything it refuses ("null", file:, ...).
std::optional<Origin> ParseOrigin(std::string_view url);

// The origin as a URL with its port always written: "https://edms.example:443/",
// "http://[::1]:8080/".
std::string OriginUrl(const Origin& origin);

// A page of this computer (IsLoopbackAuthority of the origin's host).
bool IsLoopbackOrigin(const Origin& origin);

// An http (not https) URL of another computer: a browser keeps such a page from the agent,
// and anyone on the way can read and change what travels over it.
bool IsPlainHttpElsewhere(std::string_view url);

}  // namespace edms
