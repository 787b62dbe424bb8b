// The web pages the agent opens for its user: the EDMS page and the notice page. The user
// text travels percent-encoded, and only http and https addresses are ever opened.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace edms {

// `edmsUrl` with "XRQ_USER=" + the encoded user added to its query. nullopt when `edmsUrl`
// is not an absolute http or https URL.
std::optional<std::string> EdmsPageUrl(std::string_view edmsUrl, std::string_view user);

// `noticeUrl` with "XRQ_USER=" + the encoded user and "XRQ_LANG=" + the language id in
// decimal added to its query. nullopt when `noticeUrl` is not an absolute http or https URL.
std::optional<std::string> NoticePageUrl(std::string_view noticeUrl, std::string_view user, unsigned languageId);

}  // namespace edms
