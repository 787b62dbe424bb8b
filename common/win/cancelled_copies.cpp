#include "common/win/cancelled_copies.h"

#include <windows.h>

#include "common/win/handles.h"
#include "common/win/text.h"
#include "common/working_copy.h"

namespace edms::win {
namespace {

uint64_t Now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

bool NoteCancelledCopy(const std::string& oid, const std::string& localPath, const std::string& base) {
  if (oid.empty() || localPath.empty() || base.empty()) return false;
  UniqueHKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Widen(base).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring data = Widen(std::to_string(Now()) + "|" + localPath);
  return RegSetValueExW(key.get(), Widen(oid).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::vector<CancelledCopy> ListCancelledCopies(const std::string& base) {
  std::vector<CancelledCopy> notes;
  UniqueHKey key;
  if (base.empty() || RegOpenKeyExW(HKEY_CURRENT_USER, Widen(base).c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return notes;
  }
  DWORD maxName = 0, maxData = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return notes;
  }
  std::wstring name(maxName + 1, L'\0');
  std::wstring data(maxData / sizeof(wchar_t) + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LONG status = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &dataBytes);
    if (status != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    const std::string text = Narrow(std::wstring(data.data(), wcsnlen(data.data(), dataBytes / sizeof(wchar_t))));
    const size_t bar = text.find('|');
    if (bar == std::string::npos) continue;
    CancelledCopy note;
    note.oid = Narrow(std::wstring(name.data(), nameLength));
    const std::optional<uint64_t> at = ParseDecimal(text.substr(0, bar));
    if (!at) continue;
    note.cancelledAt = *at;
    note.localPath = text.substr(bar + 1);
    notes.push_back(std::move(note));
  }
  return notes;
}

bool ForgetCancelledCopy(const std::string& oid, const std::string& base) {
  UniqueHKey key;
  if (base.empty() || RegOpenKeyExW(HKEY_CURRENT_USER, Widen(base).c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) {
    return true;
  }
  const LONG status = RegDeleteValueW(key.get(), Widen(oid).c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace edms::win
