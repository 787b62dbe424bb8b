// Where a checked-out document lives on this computer: its working copy in the work folder,
// named after the document with the object id before the extension.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace edms {

// The mark a working copy's name carries for its document: "(" + oid + ")". Editors show the
// name in their window titles, which is how a document still open in one is found.
std::string WorkingCopyMark(std::string_view oid);

// The working copy's file name: base + WorkingCopyMark(oid) + extension, the document name cut at
// its last '.' ("report.final.docx", "42" -> "report.final(42).docx"; "README" ->
// "(42)": a name without a dot gives empty base and extension). nullopt when the object id is empty or holds a character that a file name
// cannot carry or that would move the file elsewhere (a path separator, ':', a control
// character, one of <>"|?*), or the object id is "." or "..".
std::optional<std::string> WorkingCopyName(std::string_view documentName, std::string_view oid);

// workFolder + "\" + WorkingCopyName(...), one separator whatever the folder ends with.
// nullopt when the name is refused or the work folder is empty (the working copy never goes
// to the root of whatever drive is current).
std::optional<std::string> WorkingCopyPath(std::string_view workFolder,
                                           std::string_view documentName, std::string_view oid);

// Decimal digits only, within 64 bits; nullopt for anything else (empty, signs, blanks).
std::optional<uint64_t> ParseDecimal(std::string_view text);

// The decimal byte count of XRS_FILESIZE: leading blanks skipped, then the digits up to the
// first other character; no digits give 0. Counts beyond 64 bits saturate at UINT64_MAX,
// which no body can meet.
uint64_t ParseFileSize(std::string_view text);

// Whole percent of `done` out of `total` (truncated; 100 when total is 0), exact for every
// 64-bit count.
int ProgressPercent(uint64_t done, uint64_t total);

}  // namespace edms
