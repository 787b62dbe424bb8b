#include "common/page_url.h"

#include "common/encoding.h"
#include "common/url.h"

namespace edms {
namespace {

// `base` with `query` appended to its query part ("?" or "&" as the URL needs), before any
// fragment so that the page receives it.
std::string WithQuery(std::string_view base, std::string_view query) {
  const size_t hash = base.find('#');
  std::string url(base.substr(0, hash));
  const size_t question = url.find('?');
  if (question == std::string::npos) {
    url.push_back('?');
  } else if (url.back() != '?' && url.back() != '&') {
    url.push_back('&');
  }
  url.append(query);
  if (hash != std::string_view::npos) url.append(base.substr(hash));
  return url;
}

bool IsWebUrl(std::string_view url) { return SplitAdaptorUrl(url).has_value(); }

}  // namespace

std::optional<std::string> EdmsPageUrl(std::string_view edmsUrl, std::string_view user) {
  if (!IsWebUrl(edmsUrl)) return std::nullopt;
  return WithQuery(edmsUrl, "XRQ_USER=" + PercentEncode(user));
}

std::optional<std::string> NoticePageUrl(std::string_view noticeUrl, std::string_view user, unsigned languageId) {
  if (!IsWebUrl(noticeUrl)) return std::nullopt;
  return WithQuery(noticeUrl, "XRQ_USER=" + PercentEncode(user) + "&XRQ_LANG=" + std::to_string(languageId));
}

}  // namespace edms
