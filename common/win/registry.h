// One registry key below a root, with a cache of its values. Assignments write through at
// once; nothing here throws or reports to the user: failures answer false, empty text or 0,
// and opening answers the Win32 result so that a caller can tell a missing key from a key
// this user may not open.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/win/handles.h"

namespace edms::win {

class CRegistry;

// One cached value, found by name in its CRegistry and owned by it (never copied).
class CRegEntry {
 public:
  // The value kinds the cache holds; every other registry type is never loaded.
  enum Type : DWORD {
    kNone = 0,
    kText = REG_SZ,
    kNumber = REG_DWORD,
  };

  virtual ~CRegEntry();
  CRegEntry(const CRegEntry&) = delete;
  CRegEntry& operator=(const CRegEntry&) = delete;

  // Assignments: update the cache and the has-value flag, then write through (REG_SZ,
  // REG_DWORD) when the owner is open and not loading and the entry has a name. True when the
  // value reached the registry; false when it was not written (the cache holds the value all
  // the same; an owner opened with kRead has no right to write). Text ends at its first NUL,
  // as the registry would keep it.
  bool SetText(std::string_view utf8);
  bool SetNumber(uint32_t value);
  CRegEntry& operator=(std::string_view utf8) { SetText(utf8); return *this; }
  CRegEntry& operator=(uint32_t value) { SetNumber(value); return *this; }

  // Text: text as stored; a number as unsigned decimal; absent values as empty text.
  std::string Text() const;
  // Number: a number as stored; text through wcstoul base 0 ("0x10" 16, "010" 8, "12abc"
  // 12, "abc" 0); absent values 0.
  uint32_t Number() const;

  bool HasValue() const { return hasValue_; }
  Type type() const { return type_; }
  std::string Name() const;

 private:
  friend class CRegistry;
  CRegEntry(CRegistry* owner, std::wstring name);

  // The wide forms behind the setters; loading assigns through them as well.
  bool AssignText(std::wstring text);
  bool AssignNumber(uint32_t value);
  bool WriteThrough(DWORD type, const void* data, size_t bytes);
  void Forget();

  CRegistry* owner_;
  std::wstring name_;
  Type type_ = kNone;
  bool hasValue_ = false;
  uint32_t number_ = 0;
  std::wstring text_;
};

class CRegistry {
 public:
  // What Open asks the system for. kRead: an existing key, the right to query its values
  // only, so that a key an administrator made read-only still loads. kWrite: the right to set
  // values as well, and the key is created when it is missing.
  enum Access { kRead, kWrite };

  // Values larger than this many bytes (a text's terminator not counted) are skipped when
  // loading and look absent. Names and values up to it are held whole, whatever their length.
  static constexpr DWORD kMaxValueBytes = 1024 * 1024;

  explicit CRegistry(Access access = kRead);
  virtual ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  // Opens `path` below `root` as the access says and loads all its values. The same path
  // again (any case) keeps the entry objects and reloads them; another path discards every
  // entry first (even when the open then fails). The Win32 result: ERROR_SUCCESS, or the
  // failure to open (ERROR_FILE_NOT_FOUND for a missing key with kRead, ERROR_ACCESS_DENIED
  // when this user may not open it so) or to list the key.
  [[nodiscard]] LONG Open(std::string_view path, HKEY root = HKEY_CURRENT_USER);
  // Closes the handle; entries and path stay.
  void Close();
  // Loads all values of the key into the entries again; an entry whose value is no longer in
  // the key has none afterwards (the entry object stays). ERROR_INVALID_HANDLE when not open,
  // else the Win32 result of listing the key (nothing changes when that fails).
  LONG Refresh();

  // The entry of that name (names compared without regard to case, newest entry first);
  // a new empty entry when there is none. Never touches the registry.
  CRegEntry& operator[](std::string_view name);

  bool IsOpen() const { return static_cast<bool>(key_); }
  std::string Path() const;
  size_t EntryCount() const { return entries_.size(); }

 private:
  friend class CRegEntry;
  CRegEntry& Lookup(const std::wstring& name);

  UniqueHKey key_;
  const Access access_;
  bool loading_ = false;  // assignments write nothing while the key is loaded
  std::wstring path_;
  bool hasPath_ = false;
  std::vector<std::unique_ptr<CRegEntry>> entries_;
};

// Deletes `path` below `root` and everything beneath it. True when the key is gone after
// the call (also when it did not exist); false for an empty path, no root, or a failure.
bool DeleteRegistryTree(HKEY root, std::string_view path);

}  // namespace edms::win
