// The one pair of UTF-8 / UTF-16 conversions. Invalid input becomes U+FFFD; never throws.
#pragma once
#include <string>
#include <string_view>

namespace edms::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace edms::win
