// Splitting the adaptor URL the way the exchanges need it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace edms {

struct AdaptorUrl {
  std::string scheme;      // "http" or "https", lower case
  std::string host;        // without brackets or port
  uint16_t port = 0;       // explicit, or 80 / 443 by scheme
  std::string objectPath;  // path and query, "/" when the URL has none
  std::string user;        // may be empty
  std::string password;    // may be empty
  bool secure() const { return scheme == "https"; }
};

// nullopt for anything that is not an absolute http(s) URL with a host: other schemes,
// an empty host, a port that is not 1..65535, white space or control characters.
std::optional<AdaptorUrl> SplitAdaptorUrl(std::string_view url);

}  // namespace edms
