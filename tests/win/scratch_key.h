// A registry key of its own for each test, below HKCU\Software\edms-tests, removed with its
// whole tree afterwards; plus raw registry access that bypasses the code under test.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/win/handles.h"
#include "common/win/registry.h"
#include "common/win/text.h"

namespace edms::win::testing {

class ScratchKey {
 public:
  ScratchKey() {
    static std::atomic<int> counter{0};
    path_ = "Software\\edms-tests\\" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64()) + "-" + std::to_string(counter++);
    DeleteRegistryTree(HKEY_CURRENT_USER, path_);
  }
  ~ScratchKey() { DeleteRegistryTree(HKEY_CURRENT_USER, path_); }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  const std::string& path() const { return path_; }
  std::string Sub(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

inline bool KeyExists(const std::string& path) {
  UniqueHKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(path).c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS) {
    key.release();
    return false;
  }
  return true;
}

// Writes one value as it stands, creating the key.
inline bool RawSet(const std::string& path, const std::string& name, DWORD type,
                   const void* data, size_t bytes) {
  UniqueHKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Widen(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    key.release();
    return false;
  }
  return RegSetValueExW(key.get(), Widen(name).c_str(), 0, type,
                        static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)) ==
         ERROR_SUCCESS;
}

inline bool RawSetText(const std::string& path, const std::string& name,
                       const std::string& utf8) {
  std::wstring w = Widen(utf8);
  return RawSet(path, name, REG_SZ, w.c_str(), (w.size() + 1) * sizeof(wchar_t));
}

inline bool RawSetNumber(const std::string& path, const std::string& name, DWORD value) {
  return RawSet(path, name, REG_DWORD, &value, sizeof value);
}

struct RawValue {
  DWORD type = 0;
  std::vector<BYTE> data;
  std::wstring AsWide() const {
    std::wstring w(data.size() / sizeof(wchar_t), L'\0');
    if (!w.empty()) memcpy(w.data(), data.data(), w.size() * sizeof(wchar_t));
    return w;
  }
  // REG_SZ payload without its terminator, in UTF-8.
  std::string AsText() const {
    std::wstring w = AsWide();
    while (!w.empty() && w.back() == L'\0') w.pop_back();
    return Narrow(w);
  }
  DWORD AsNumber() const {
    DWORD v = 0;
    if (data.size() == sizeof v) memcpy(&v, data.data(), sizeof v);
    return v;
  }
};

// The value as the registry holds it; nullopt when the key or the value is missing.
inline std::optional<RawValue> RawGet(const std::string& path, const std::string& name) {
  UniqueHKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(path).c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    key.release();
    return std::nullopt;
  }
  std::wstring wname = Widen(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.get(), wname.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  RawValue v;
  v.type = type;
  v.data.resize(size);
  if (RegQueryValueExW(key.get(), wname.c_str(), nullptr, &type, v.data.data(), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  v.data.resize(size);
  return v;
}

// Lets the current user do nothing with the key `path` but `rights` (a protected DACL of one
// entry) until destroyed, when the key's own DACL comes back so that ScratchKey can remove it.
// Declare it after the ScratchKey. ok() is false when the DACL could not be set.
class KeyAccessLimit {
 public:
  KeyAccessLimit(const std::string& path, DWORD rights) {
    // Opened before the limit: the handle keeps the right to put the DACL back.
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(path).c_str(), 0, READ_CONTROL | WRITE_DAC, key_.put()) !=
        ERROR_SUCCESS) {
      key_.release();
      return;
    }
    DWORD size = 0;
    RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    if (size == 0 ||
        RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, saved_.data(), &size) != ERROR_SUCCESS) {
      return;
    }
    UniqueKernelHandle token;
    std::vector<BYTE> user(256);
    DWORD userSize = static_cast<DWORD>(user.size());
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenUser, user.data(), userSize, &userSize)) {
      return;
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    std::vector<BYTE> acl(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    auto* dacl = reinterpret_cast<ACL*>(acl.data());
    SECURITY_DESCRIPTOR limited;
    ok_ = InitializeAcl(dacl, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
          AddAccessAllowedAce(dacl, ACL_REVISION, rights, sid) &&
          InitializeSecurityDescriptor(&limited, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&limited, TRUE, dacl, FALSE) &&
          RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            &limited) == ERROR_SUCCESS;
  }
  ~KeyAccessLimit() {
    if (ok_) RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, saved_.data());
  }
  KeyAccessLimit(const KeyAccessLimit&) = delete;
  KeyAccessLimit& operator=(const KeyAccessLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  UniqueHKey key_;
  std::vector<BYTE> saved_;
  bool ok_ = false;
};

}  // namespace edms::win::testing
