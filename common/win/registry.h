// One registry key below a root, with a cache of its values. Assignments write through at
// once; nothing here throws or reports to the user: failures answer false, empty text or 0.
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
    kBytes = REG_BINARY,
    kNumber = REG_DWORD,
    kStringList = REG_MULTI_SZ,
  };

  virtual ~CRegEntry();
  CRegEntry(const CRegEntry&) = delete;
  CRegEntry& operator=(const CRegEntry&) = delete;

  // Assignments: update the cache and the has-value flag, then write through (REG_SZ,
  // REG_DWORD, REG_BINARY, REG_MULTI_SZ) unless the owner is loading, closed without the
  // open-per-access bit, or the entry has no name. True when the value reached the registry;
  // false when it was not written (the cache holds the value all the same).
  // Text ends at its first NUL, as the registry would keep it.
  bool SetText(std::string_view utf8);
  bool SetNumber(uint32_t value);
  // A count of 0 does nothing at all (and answers false).
  bool SetBytes(const void* data, size_t count);
  // Empty strings cannot be stored in a string list and are left out.
  bool SetStringList(const std::vector<std::string>& utf8Strings);
  CRegEntry& operator=(std::string_view utf8) { SetText(utf8); return *this; }
  CRegEntry& operator=(uint32_t value) { SetNumber(value); return *this; }

  // Reads (with the re-read bit the key is loaded again first).
  // Text: text as stored; a number as unsigned decimal; a string list as each string
  // followed by one NUL; bytes and absent values as empty text.
  std::string Text();
  // Number: a number as stored; text through wcstoul base 0 ("0x10" 16, "010" 8, "12abc"
  // 12, "abc" 0); every other kind 0.
  uint32_t Number();
  // String list: the strings of a string-list value; every other kind an empty list.
  std::vector<std::string> StringList();
  // Bytes of a bytes value; every other kind an empty vector.
  std::vector<uint8_t> Bytes() const { return type_ == kBytes ? bytes_ : std::vector<uint8_t>{}; }

  bool HasValue() const { return hasValue_; }
  Type type() const { return type_; }
  std::string Name() const;

 private:
  friend class CRegistry;
  CRegEntry(CRegistry* owner, std::wstring name);

  // The wide forms behind the setters; loading assigns through them as well.
  bool AssignText(std::wstring text);
  bool AssignNumber(uint32_t value);
  bool AssignBytes(const void* data, size_t count);
  bool AssignStringList(std::vector<std::wstring> strings);
  bool WriteThrough(DWORD type, const void* data, size_t bytes);
  void RefreshBeforeRead();

  CRegistry* owner_;
  std::wstring name_;
  Type type_ = kNone;
  bool hasValue_ = false;
  uint32_t number_ = 0;
  std::wstring text_;
  std::vector<uint8_t> bytes_;
  std::vector<std::wstring> strings_;
};

class CRegistry {
 public:
  enum Flags : uint32_t {
    kCreate = 1,         // opens create the key when it is missing
    kOpenPerAccess = 2,  // the key is opened just for each read or write
    kReRead = 4,         // the whole key is loaded again before every read
    kLoading = 8,        // internal: set while Refresh runs; assignments write nothing
  };

  // Values larger than this many bytes are skipped when loading and look absent. Names and
  // values up to it are held whole, whatever their length.
  static constexpr DWORD kMaxValueBytes = 1024 * 1024;

  explicit CRegistry(uint32_t flags = kCreate);
  virtual ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  // Opens (with kCreate: creates) `path` below `root` and loads all its values. The same
  // path again (any case) keeps the entry objects and reloads them; another path discards
  // every entry first (even when the open then fails). False when the key cannot be
  // opened or listed.
  bool Open(std::string_view path, HKEY root = HKEY_CURRENT_USER,
            REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE);
  // Closes the handle; entries and path stay.
  void Close();
  // Loads all values of the key into the entries again. False without a usable key.
  bool Refresh();
  // Deletes the key with all its subkeys, then closes the handle. True when it is gone;
  // false (and nothing done) for an empty path or no root.
  bool DeleteKey();

  // The entry of that name (names compared without regard to case, newest entry first);
  // a new empty entry when there is none. Never touches the registry.
  CRegEntry& operator[](std::string_view name);

  bool IsOpen() const { return static_cast<bool>(key_); }
  uint32_t flags() const { return flags_; }
  std::string Path() const;
  size_t EntryCount() const { return entries_.size(); }

 private:
  friend class CRegEntry;
  CRegEntry& Lookup(const std::wstring& name);
  // Opens (with kCreate: creates) the held path with `access`; null on failure.
  UniqueHKey OpenKey(REGSAM access) const;
  // The handle an access may use now: the open key, or with kOpenPerAccess one opened
  // into `perAccess`. Null when there is none.
  HKEY KeyForAccess(REGSAM access, UniqueHKey& perAccess) const;

  UniqueHKey key_;
  uint32_t flags_;
  HKEY root_ = nullptr;
  std::wstring path_;
  bool hasPath_ = false;
  std::vector<std::unique_ptr<CRegEntry>> entries_;
};

// Deletes `path` below `root` and everything beneath it. True when the key is gone after
// the call (also when it did not exist); false for an empty path, no root, or a failure.
bool DeleteRegistryTree(HKEY root, std::string_view path);

}  // namespace edms::win
