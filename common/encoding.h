// Value encodings of the server protocol and of the FILE_PATH argument.
// All text is UTF-8 in std::string; nothing here goes through a code page.
#pragma once
#include <map>
#include <string>
#include <string_view>

namespace edms {

// Each byte of the UTF-8 text becomes two lower-case hex digits, high digit first.
// "abc" -> "616263"; "é" -> "c3a9"; empty -> empty.
std::string HexEncodeUtf8(std::string_view utf8);

// Reverse of HexEncodeUtf8. Reads pairs of hex digits (either case) from the start
// and stops at the first pair that is not two hex digits (a lone last digit or any
// other character ends the decoding; what came before it is kept). Byte sequences
// that are not valid UTF-8 become U+FFFD, so the result is always valid UTF-8.
std::string HexDecodeUtf8(std::string_view hex);

// Every character becomes "%" + two lower-case hex digits of its byte; a space becomes "+".
std::string FormEncode(std::string_view text);

// For a value inside a URL: the unreserved characters (ASCII letters, digits, "-._~") stay,
// every other byte becomes "%" + two upper-case hex digits ("a b&c" -> "a%20b%26c").
std::string PercentEncode(std::string_view text);

// Ordinary form decoding ("+" is a space, "%XX" a byte). A "%" not followed by two hex
// digits is kept as it is.
std::string FormDecode(std::string_view text);

// "a=1&b=2" (a form body or a URL query) into its form-decoded fields; the first of two
// fields of one name wins, empty pieces are skipped, a piece without "=" has an empty value.
std::map<std::string, std::string> ParseFormFields(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or code points
// above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD (one per maximal
// ill-formed subpart); well-formed text comes back unchanged.
std::string SanitizeUtf8(std::string_view text);

}  // namespace edms
