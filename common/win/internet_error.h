// The text shown to the user for a failed WinInet call.
#pragma once
#include <cstdint>
#include <string>

namespace edms::win {

// For a refused server certificate (common/certificate_problem.h) the program's own words for
// that problem, in the run's language (certificate_text.rc in the program's resources).
// Otherwise WinInet's own message for `error` (from wininet.dll's message table, else the
// system's), followed for ERROR_INTERNET_EXTENDED_ERROR by the server's last response text;
// trimmed, UTF-8. Never empty: an error without any text gives "Internet error <code>".
// Call it on the thread that saw the failure, before any other WinInet call.
std::string InternetErrorMessage(uint32_t error);

}  // namespace edms::win
