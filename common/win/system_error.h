// The system's own text for an error code (FormatMessage), in UTF-8.
#pragma once
#include <windows.h>

#include <string>

namespace edms::win {

// The message of `error` from `module`'s message table (the system's when null), trimmed of
// trailing blanks and line ends; empty when neither has a text for it.
std::string SystemErrorText(DWORD error, HMODULE module = nullptr);

// SystemErrorText, or "error <code>" when the system has no text for it. Never empty.
std::string DescribeError(DWORD error);

}  // namespace edms::win
