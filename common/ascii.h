// Case rules over ASCII letters only. Every comparison the system makes "without regard to
// case" (flags, header names, user ids, origins, server addresses) means this: other bytes,
// including every byte of a multi-byte UTF-8 character, must match exactly.
#pragma once
#include <string>
#include <string_view>

namespace edms {

char AsciiLower(char c);
std::string AsciiLower(std::string_view text);

// Equal with A-Z and a-z taken as the same letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// True when `needle` occurs in `haystack` under the same rule; an empty needle always does.
bool ContainsIgnoreCase(std::string_view haystack, std::string_view needle);

}  // namespace edms
