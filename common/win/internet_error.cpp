#include "common/win/internet_error.h"

#include <windows.h>
#include <wininet.h>

#include <string_view>

#include "common/win/system_error.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

std::wstring LastResponseInfo() {
  DWORD code = 0;
  DWORD chars = 0;
  if (InternetGetLastResponseInfoW(&code, nullptr, &chars) || chars == 0) return {};
  // The size is in characters; one more for the terminator that some versions leave out.
  std::wstring text(chars + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size());
  if (!InternetGetLastResponseInfoW(&code, text.data(), &got)) return {};
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

std::wstring_view Trim(std::wstring_view s) {
  constexpr std::wstring_view blanks = L" \t\r\n";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::wstring_view::npos) return {};
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string InternetErrorMessage(uint32_t error) {
  std::string text;
  if (error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST) {
    if (HMODULE wininet = GetModuleHandleW(L"wininet.dll")) text = SystemErrorText(error, wininet);
  }
  if (text.empty()) text = SystemErrorText(error);
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    std::wstring_view extra = Trim(LastResponseInfo());
    if (!extra.empty()) {
      if (!text.empty()) text += "\r\n";
      text += Narrow(extra);
    }
  }
  if (text.empty()) return "Internet error " + std::to_string(error);
  return text;
}

}  // namespace edms::win
