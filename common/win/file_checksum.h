// The MD5 of a whole file through CryptoAPI, as the update compares it with the server's.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace edms::win {

// 32 upper-case hexadecimal digits, two per digest byte in digest order; nullopt when the
// file cannot be read or no hash can be made. Creates no key container.
std::optional<std::string> GetFileChecksum(const std::string& path);
// The same of the file open as `file` (read access), read from its start; its position moves.
std::optional<std::string> GetFileChecksum(HANDLE file);

}  // namespace edms::win
