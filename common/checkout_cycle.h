// The rules of the agent's check-out cycle that need no Windows: reading the page's CHECKOUT
// fields, the argument strings given to the three programs, and which reply each outcome gets.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/file_stamp.h"

namespace edms {

// The seven "^"-separated fields of a CHECKOUT parameter, UTF-8 as the page sent them.
struct CheckOutFields {
  std::string documentId;
  std::string pageId;
  std::string fileName;  // a bare name: the working copy is named after it
  std::string version;
  std::string isCurrent;
  std::string creatorId;
  std::string isImmutable;
};

// Longest accepted values, in UTF-16 units as the check-out task holds them (its fixed
// capacities less the terminator), so that Korean text counts by its characters. The file
// name travels hex-encoded and is bounded in bytes twice: its hex form must fit the 1023
// characters a started program reads for one value, and its working copy name,
// name + "(" + id + ")", must fit one path component (255 UTF-16 units).
inline constexpr std::size_t kMaxDocumentIdUnits = 63;
inline constexpr std::size_t kMaxPageIdUnits = 63;
inline constexpr std::size_t kMaxVersionUnits = 15;
inline constexpr std::size_t kMaxFlagUnits = 15;
inline constexpr std::size_t kMaxCreatorIdUnits = 31;
inline constexpr std::size_t kMaxUserIdUnits = 31;
inline constexpr std::size_t kMaxFileNameBytes = 511;
inline constexpr std::size_t kMaxComponentUnits = 255;

// Length of valid UTF-8 text in UTF-16 units: one per character, two above U+FFFF.
std::size_t Utf16Units(std::string_view utf8);

// The fields of `arg2`, or nullopt with the reason in `error`: not exactly seven fields, a
// document id or file name that is empty, text that is not UTF-8, a value longer than its
// limit, a control character, '&' or '"' in a value that travels as plain text, or a
// document id / file name that could name something outside the work folder ("." / "..",
// a path separator, ':', one of <>|?*). The argument strings built from them refuse more
// (BuildCheckOutArguments). Never throws.
std::optional<CheckOutFields> ParseCheckOutFields(std::string_view arg2, std::string& error);

// Everything one cycle passes to the programs, with the agent's own values beside the page's.
struct CheckOutValues {
  CheckOutFields fields;
  std::string userId;
  std::string adaptorUrl;
  std::string workFolder;
};

// The three argument strings of a cycle, ready to be passed in one pair of double quotes.
struct CheckOutArguments {
  std::string checkOut;  // OID, PAGE_ID, FILE_PATH, ADAPTOR_URL, WORK_FOLDER, USER_ID, VERSION_NO, INVOKE_EDITOR=FALSE, IS_IMMUTABLE
  std::string checkIn;   // OID, VERSION_NO, IS_CURRENT, CREATOR_ID, FILE_PATH, ADAPTOR_URL, WORK_FOLDER, USER_ID
  std::string cancel;    // OID, VERSION_NO, SUPRESS_WARNING=TRUE, FILE_PATH, ADAPTOR_URL, WORK_FOLDER, USER_ID
};

// Builds all three strings (FILE_PATH is the hex-encoded file name) or none: nullopt with
// the reason in `error` when the user id is empty or too long, the adaptor URL or work folder
// is empty, or any value is refused by ArgumentString (a key's text, a version or flag out of
// form, anything the programs would read back otherwise). Nothing may be started
// before this has succeeded, so a refused command starts nothing at all.
std::optional<CheckOutArguments> BuildCheckOutArguments(const CheckOutValues& values, std::string& error);

// The reply words of the cycle.
inline constexpr char kCheckOutSuccess[] = "CHECKOUT_SUCCESS";
inline constexpr char kCheckOutFail[] = "CHECKOUT_FAIL";
inline constexpr char kEditFail[] = "EDIT_FAIL";
inline constexpr char kCheckInSuccess[] = "CHECKIN_SUCCESS";
inline constexpr char kCheckInFail[] = "CHECKIN_FAIL";
inline constexpr char kCancelSuccess[] = "CANCEL_SUCCESS";
inline constexpr char kCancelFail[] = "CANCEL_FAIL";

// The word after ZTCheckOut ended with `exitCode` (0 is success, -1 a start that failed).
const char* CheckOutReply(int exitCode);

// The word after editing: ZTCheckIn ran when `changed`, ZTCheckOutCancel otherwise.
const char* FinishReply(bool changed, int exitCode);

// The text an editor's window title is searched for: the path's last component without its
// extension; the whole component when that would leave nothing (no '.' at all, or only a
// leading one), so that the search never matches every window.
std::string EditorWindowTitle(std::string_view path);

}  // namespace edms
