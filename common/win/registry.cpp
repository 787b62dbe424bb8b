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

}  // namespace

// ---- CRegEntry ----

CRegEntry::CRegEntry(CRegistry* owner, std::wstring name)
    : owner_(owner), name_(std::move(name)) {}

CRegEntry::~CRegEntry() = default;

std::string CRegEntry::Name() const { return Narrow(name_); }

bool CRegEntry::WriteThrough(DWORD type, const void* data, size_t bytes) {
  if (owner_->loading_ || !owner_->key_ || name_.empty()) return false;
  if (bytes > MAXDWORD) return false;
  return RegSetValueExW(owner_->key_.get(), name_.c_str(), 0, type, static_cast<const BYTE*>(data),
                        static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
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

void CRegEntry::Forget() {
  type_ = kNone;
  hasValue_ = false;
  number_ = 0;
  text_.clear();
}

bool CRegEntry::SetText(std::string_view utf8) { return AssignText(Widen(utf8)); }
bool CRegEntry::SetNumber(uint32_t value) { return AssignNumber(value); }

std::string CRegEntry::Text() const {
  switch (type_) {
    case kText:
      return Narrow(text_);
    case kNumber:
      return std::to_string(number_);
    default:
      return {};
  }
}

uint32_t CRegEntry::Number() const {
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

// ---- CRegistry ----

CRegistry::CRegistry(Access access) : access_(access) {}

CRegistry::~CRegistry() = default;

std::string CRegistry::Path() const { return Narrow(path_); }

LONG CRegistry::Open(std::string_view path, HKEY root) {
  std::wstring wide = Widen(path);
  if (!hasPath_ || !EqualIgnoringCase(wide, path_)) {
    entries_.clear();
    path_ = std::move(wide);
    hasPath_ = true;
  }
  key_.reset();
  if (!root) return ERROR_INVALID_HANDLE;

  // Only the rights each use needs: a key an administrator left readable but not writable
  // must still load for reading.
  LONG rc;
  if (access_ == kWrite) {
    rc = RegCreateKeyExW(root, path_.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                         key_.put(), nullptr);
  } else {
    rc = RegOpenKeyExW(root, path_.c_str(), 0, KEY_QUERY_VALUE, key_.put());
  }
  if (rc != ERROR_SUCCESS) {
    key_.release();
    return rc;
  }
  rc = Refresh();
  if (rc != ERROR_SUCCESS) key_.reset();
  return rc;
}

void CRegistry::Close() { key_.reset(); }

LONG CRegistry::Refresh() {
  if (!key_) return ERROR_INVALID_HANDLE;
  const HKEY key = key_.get();

  DWORD count = 0, maxName = 0, maxData = 0;
  auto queryInfo = [&] {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                            &maxName, &maxData, nullptr, nullptr);
  };
  if (const LONG rc = queryInfo(); rc != ERROR_SUCCESS) return rc;

  // The cache mirrors the key: what is no longer there has no value.
  for (auto& entry : entries_) entry->Forget();
  loading_ = true;

  // Buffers sized from the key's own maxima, so names and values are held whole; a value
  // beyond kMaxValueBytes is skipped. A value that grows while we list is retried once. The
  // room for one more character is for a text stored without its terminator: Wine lists
  // such a value only into a buffer that can take the terminator it adds.
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
      DWORD dataLen = static_cast<DWORD>(data.size());
      DWORD type = 0;
      LONG rc = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, data.data(),
                              &dataLen);
      if (rc == ERROR_MORE_DATA && attempt == 0) {
        DWORD oldName = maxName, oldData = maxData;
        if (queryInfo() != ERROR_SUCCESS) break;
        if (maxName <= oldName && std::min<DWORD>(maxData, kMaxValueBytes) <=
                                      std::min<DWORD>(oldData, kMaxValueBytes))
          break;  // the value is simply too big
        size();
        continue;
      }
      if (rc != ERROR_SUCCESS) break;

      std::wstring entryName(name.data(), nameLen);
      switch (type) {
        case REG_SZ: {
          std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), dataLen / sizeof(wchar_t));
          if (!text.empty() && text.back() == L'\0') text.pop_back();
          if (text.size() * sizeof(wchar_t) <= kMaxValueBytes) Lookup(entryName).AssignText(std::move(text));
          break;
        }
        case REG_DWORD:
          if (dataLen == sizeof(DWORD)) {
            DWORD v;
            memcpy(&v, data.data(), sizeof v);
            Lookup(entryName).AssignNumber(v);
          }
          break;
        default:
          break;  // other types look absent
      }
      break;
    }
  }

  loading_ = false;
  return ERROR_SUCCESS;
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
  // Listing the subkeys is all this handle is for; deleting asks for its own right.
  LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.put());
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

}  // namespace edms::win
