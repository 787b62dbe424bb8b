#include "common/win/registry.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

#include "common/win/text.h"

namespace edms::win {
namespace {

// Value names follow the registry's own rule, which folds case beyond ASCII.
bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring UpToNul(std::wstring text) {
  auto nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

// A REG_MULTI_SZ payload: strings ended by NUL, the list ended by an empty string or by
// the end of the data (the registry does not insist on the final terminators).
std::vector<std::wstring> SplitMultiString(const wchar_t* data, size_t count) {
  std::vector<std::wstring> out;
  size_t start = 0;
  for (size_t i = 0; i <= count; ++i) {
    if (i == count || data[i] == L'\0') {
      if (i == start) break;
      out.emplace_back(data + start, i - start);
      start = i + 1;
    }
  }
  return out;
}

}  // namespace

// ---- CRegEntry ----

CRegEntry::CRegEntry(CRegistry* owner, std::wstring name)
    : owner_(owner), name_(std::move(name)) {}

CRegEntry::~CRegEntry() = default;

std::string CRegEntry::Name() const { return Narrow(name_); }

bool CRegEntry::WriteThrough(DWORD type, const void* data, size_t bytes) {
  if ((owner_->flags_ & CRegistry::kLoading) || name_.empty()) return false;
  if (bytes > MAXDWORD) return false;
  UniqueHKey perAccess;
  HKEY key = owner_->KeyForAccess(KEY_SET_VALUE, perAccess);
  if (!key) return false;
  return RegSetValueExW(key, name_.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)) ==
         ERROR_SUCCESS;
}

bool CRegEntry::AssignText(std::wstring text) {
  text_ = UpToNul(std::move(text));
  type_ = kText;
  hasValue_ = true;
  return WriteThrough(REG_SZ, text_.c_str(), (text_.size() + 1) * sizeof(wchar_t));
}

bool CRegEntry::AssignNumber(uint32_t value) {
  number_ = value;
  type_ = kNumber;
  hasValue_ = true;
  DWORD data = value;
  return WriteThrough(REG_DWORD, &data, sizeof data);
}

bool CRegEntry::AssignBytes(const void* data, size_t count) {
  if (count == 0 || data == nullptr) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.assign(p, p + count);
  type_ = kBytes;
  hasValue_ = true;
  return WriteThrough(REG_BINARY, bytes_.data(), bytes_.size());
}

bool CRegEntry::AssignStringList(std::vector<std::wstring> strings) {
  strings_.clear();
  std::wstring joined;
  for (auto& s : strings) {
    s = UpToNul(std::move(s));
    if (s.empty()) continue;
    joined += s;
    joined += L'\0';
    strings_.push_back(std::move(s));
  }
  joined += L'\0';
  type_ = kStringList;
  hasValue_ = true;
  return WriteThrough(REG_MULTI_SZ, joined.data(), joined.size() * sizeof(wchar_t));
}

bool CRegEntry::SetText(std::string_view utf8) { return AssignText(Widen(utf8)); }
bool CRegEntry::SetNumber(uint32_t value) { return AssignNumber(value); }
bool CRegEntry::SetBytes(const void* data, size_t count) { return AssignBytes(data, count); }

bool CRegEntry::SetStringList(const std::vector<std::string>& utf8Strings) {
  std::vector<std::wstring> wide;
  wide.reserve(utf8Strings.size());
  for (const auto& s : utf8Strings) wide.push_back(Widen(s));
  return AssignStringList(std::move(wide));
}

void CRegEntry::RefreshBeforeRead() {
  const uint32_t flags = owner_->flags_;
  if (!(flags & CRegistry::kReRead) || (flags & CRegistry::kLoading)) return;
  // Refresh opens per access itself and never removes entries, so `this` stays valid.
  owner_->Refresh();
}

std::string CRegEntry::Text() {
  RefreshBeforeRead();
  switch (type_) {
    case kText:
      return Narrow(text_);
    case kNumber:
      return std::to_string(number_);
    case kStringList: {
      std::string joined;
      for (const auto& s : strings_) {
        joined += Narrow(s);
        joined += '\0';
      }
      return joined;
    }
    default:
      return {};
  }
}

uint32_t CRegEntry::Number() {
  RefreshBeforeRead();
  switch (type_) {
    case kText:
      // unsigned long is 32 bits here; out-of-range text saturates as wcstoul does.
      return static_cast<uint32_t>(std::wcstoul(text_.c_str(), nullptr, 0));
    case kNumber:
      return number_;
    default:
      return 0;
  }
}

std::vector<std::string> CRegEntry::StringList() {
  RefreshBeforeRead();
  std::vector<std::string> out;
  if (type_ != kStringList) return out;
  out.reserve(strings_.size());
  for (const auto& s : strings_) out.push_back(Narrow(s));
  return out;
}

// ---- CRegistry ----

CRegistry::CRegistry(uint32_t flags) : flags_(flags & ~static_cast<uint32_t>(kLoading)) {}

CRegistry::~CRegistry() = default;

std::string CRegistry::Path() const { return Narrow(path_); }

UniqueHKey CRegistry::OpenKey(REGSAM access) const {
  UniqueHKey key;
  if (!hasPath_ || !root_) return key;
  LONG rc;
  if (flags_ & kCreate) {
    rc = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, access | KEY_CREATE_SUB_KEY,
                         nullptr, key.put(), nullptr);
  } else {
    rc = RegOpenKeyExW(root_, path_.c_str(), 0, access, key.put());
  }
  if (rc != ERROR_SUCCESS) key.release();
  return key;
}

HKEY CRegistry::KeyForAccess(REGSAM access, UniqueHKey& perAccess) const {
  if (flags_ & kOpenPerAccess) {
    perAccess = OpenKey(access);
    return perAccess.get();
  }
  return key_.get();
}

bool CRegistry::Open(std::string_view path, HKEY root, REGSAM access) {
  std::wstring wide = Widen(path);
  if (!hasPath_ || !EqualIgnoringCase(wide, path_)) {
    entries_.clear();
    path_ = std::move(wide);
    hasPath_ = true;
  }
  root_ = root;
  key_.reset();

  if (flags_ & kOpenPerAccess) {
    // Only proves (or creates) the key; every access opens it anew.
    if (!OpenKey(KEY_QUERY_VALUE)) return false;
  } else {
    key_ = OpenKey(access);
    if (!key_) return false;
  }
  return Refresh();
}

void CRegistry::Close() { key_.reset(); }

bool CRegistry::Refresh() {
  UniqueHKey perAccess;
  HKEY key = KeyForAccess(KEY_QUERY_VALUE, perAccess);
  if (!key) return false;

  DWORD count = 0, maxName = 0, maxData = 0;
  auto queryInfo = [&] {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                            &maxName, &maxData, nullptr, nullptr) == ERROR_SUCCESS;
  };
  if (!queryInfo()) return false;

  const uint32_t saved = flags_;
  flags_ = (flags_ | kLoading) & ~static_cast<uint32_t>(kOpenPerAccess);

  // Buffers sized from the key's own maxima, so names and values are held whole; a value
  // beyond kMaxValueBytes is skipped. A value that grows while we list is retried once.
  std::vector<wchar_t> name;
  std::vector<BYTE> data;
  auto size = [&] {
    name.assign(static_cast<size_t>(maxName) + 1, L'\0');
    data.assign(static_cast<size_t>(std::min<DWORD>(maxData, kMaxValueBytes)) + sizeof(wchar_t),
                0);
  };
  size();
  for (DWORD i = 0; i < count; ++i) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      DWORD nameLen = static_cast<DWORD>(name.size());
      DWORD dataLen = static_cast<DWORD>(data.size() - sizeof(wchar_t));
      DWORD type = 0;
      LONG rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(),
                              &dataLen);
      if (rc == ERROR_MORE_DATA && attempt == 0) {
        DWORD oldName = maxName, oldData = maxData;
        if (!queryInfo()) break;
        if (maxName <= oldName && std::min<DWORD>(maxData, kMaxValueBytes) <=
                                      std::min<DWORD>(oldData, kMaxValueBytes))
          break;  // the value is simply too big
        size();
        continue;
      }
      if (rc != ERROR_SUCCESS) break;

      const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
      const size_t charCount = dataLen / sizeof(wchar_t);
      std::wstring entryName(name.data(), nameLen);
      switch (type) {
        case REG_SZ:
          Lookup(entryName).AssignText(std::wstring(chars, charCount));
          break;
        case REG_BINARY:
          // An empty bytes value loads as nothing, as an empty assignment would.
          Lookup(entryName).AssignBytes(data.data(), dataLen);
          break;
        case REG_DWORD:
          if (dataLen == sizeof(DWORD)) {
            DWORD v;
            memcpy(&v, data.data(), sizeof v);
            Lookup(entryName).AssignNumber(v);
          }
          break;
        case REG_MULTI_SZ:
          Lookup(entryName).AssignStringList(SplitMultiString(chars, charCount));
          break;
        default:
          break;  // other types look absent
      }
      break;
    }
  }

  flags_ = saved;
  return true;
}

CRegEntry& CRegistry::Lookup(const std::wstring& name) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (EqualIgnoringCase((*it)->name_, name)) return **it;
  }
  entries_.push_back(std::unique_ptr<CRegEntry>(new CRegEntry(this, name)));
  return *entries_.back();
}

CRegEntry& CRegistry::operator[](std::string_view name) { return Lookup(Widen(name)); }

namespace {

bool DeleteTree(HKEY root, const std::wstring& path) {
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(root, path.c_str(), 0,
                          STANDARD_RIGHTS_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                              KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                          key.put());
  if (rc == ERROR_FILE_NOT_FOUND) return true;
  if (rc != ERROR_SUCCESS) {
    key.release();
    return false;
  }
  // Key names are at most 255 characters.
  std::vector<wchar_t> sub(512);
  for (;;) {
    DWORD len = static_cast<DWORD>(sub.size());
    rc = RegEnumKeyExW(key.get(), 0, sub.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return false;
    // A subkey that will not go would come back at index 0 forever: stop instead.
    if (!DeleteTree(key.get(), std::wstring(sub.data(), len))) return false;
  }
  key.reset();
  return RegDeleteKeyW(root, path.c_str()) == ERROR_SUCCESS;
}

}  // namespace

bool DeleteRegistryTree(HKEY root, std::string_view path) {
  if (!root || path.empty()) return false;
  return DeleteTree(root, Widen(path));
}

bool CRegistry::DeleteKey() {
  key_.reset();
  if (!hasPath_ || path_.empty() || !root_) return false;
  return DeleteTree(root_, path_);
}

}  // namespace edms::win
