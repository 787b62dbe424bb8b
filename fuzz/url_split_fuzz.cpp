#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/url.h"

namespace {

bool Clean(const std::string& text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
  }
  return true;
}

bool SameParts(const edms::AdaptorUrl& a, const edms::AdaptorUrl& b) {
  return a.scheme == b.scheme && a.host == b.host && a.port == b.port &&
         a.objectPath == b.objectPath && a.user == b.user && a.password == b.password;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto url = edms::SplitAdaptorUrl(input);
  if (!url) return 0;

  if (url->port == 0 || url->host.empty()) abort();
  if (url->scheme != "http" && url->scheme != "https") abort();
  if (url->objectPath.empty() || url->objectPath.front() != '/') abort();
  if (url->objectPath.find('#') != std::string::npos) abort();
  if (!Clean(url->host) || !Clean(url->objectPath) || !Clean(url->user) ||
      !Clean(url->password)) {
    abort();
  }

  // Putting the parts back together gives a URL that splits into the same parts.
  std::string again = url->scheme + "://";
  if (!url->user.empty() || !url->password.empty()) {
    again += url->user + ":" + url->password + "@";
  }
  const bool v6 = url->host.find(':') != std::string::npos;
  again += v6 ? "[" + url->host + "]" : url->host;
  again += ":" + std::to_string(url->port) + url->objectPath;
  const auto reparsed = edms::SplitAdaptorUrl(again);
  if (!reparsed || !SameParts(*url, *reparsed)) abort();
  return 0;
}
