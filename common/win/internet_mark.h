// The "downloaded from the internet" mark on a file the programs saved from the server, so
// that the editors' protections for such files apply (a protected view, macros from the
// internet blocked). Best effort: a volume that keeps no side streams simply has no mark.
#pragma once
#include <string>
#include <string_view>

namespace edms::win {

// The Zone.Identifier text for a file from `sourceUrl`: the internet zone and the source's
// origin (never its path, user or password).
std::string ZoneIdentifierText(std::string_view sourceUrl);

// Marks `path` as saved from `sourceUrl`: through the system's attachment services when the
// calling thread can create them, else as a Zone.Identifier stream. False when neither was
// written (traced).
bool MarkFromInternet(const std::string& path, const std::string& sourceUrl);

// The mark's text as the file carries it; empty when it has none.
std::string ReadInternetMark(const std::string& path);

}  // namespace edms::win
