// The one pair of UTF-8 / UTF-16 conversions. Invalid input becomes U+FFFD; never throws.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace edms::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// A byte count as the system writes it short ("1.45 MB"), in the user's number format.
std::string ShortByteSize(uint64_t bytes);

}  // namespace edms::win
