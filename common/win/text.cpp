#include "common/win/text.h"

#include <windows.h>
#include <shlwapi.h>

namespace edms::win {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                              nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string ShortByteSize(uint64_t bytes) {
  wchar_t text[64] = {};
  const LONGLONG value = bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<LONGLONG>(bytes);
  if (!StrFormatByteSizeW(value, text, 64)) return std::to_string(bytes);
  return Narrow(text);
}

}  // namespace edms::win
