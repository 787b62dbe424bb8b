#include "common/win/internet_error.h"

#include <windows.h>
#include <wininet.h>

#include <string_view>

#include "common/win/text.h"

namespace edms::win {
namespace {

std::wstring FormatFrom(DWORD source, HMODULE module, DWORD error) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(source | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                           module, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring out;
  if (n > 0 && text) out.assign(text, n);
  if (text) LocalFree(text);
  return out;
}

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
  std::wstring text;
  if (error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST) {
    if (HMODULE wininet = GetModuleHandleW(L"wininet.dll")) {
      text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, error);
    }
  }
  if (Trim(text).empty()) text = FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error);
  text = std::wstring(Trim(text));
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    std::wstring_view extra = Trim(LastResponseInfo());
    if (!extra.empty()) {
      if (!text.empty()) text += L"\r\n";
      text += extra;
    }
  }
  if (text.empty()) return "Internet error " + std::to_string(error);
  return Narrow(text);
}

}  // namespace edms::win
