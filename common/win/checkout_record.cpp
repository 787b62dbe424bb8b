#include "common/win/checkout_record.h"

#include <cstdint>

#include "common/win/handles.h"
#include "common/win/process.h"
#include "common/win/registry.h"
#include "common/win/text.h"
#include "common/working_copy.h"

namespace edms::win {
namespace {

constexpr char kStampTime[] = "CopyLastWrite";
constexpr char kStampSize[] = "CopySize";

std::string RecordPath(const std::string& base, const std::string& oid) {
  return base + "\\" + oid;
}

}  // namespace

bool IsUsableObjectId(const std::string& oid) {
  return !oid.empty() && oid.find('\\') == std::string::npos && oid.find('\0') == std::string::npos;
}

bool WriteCheckOutRecord(const std::string& oid, const CheckOutRecord& record,
                         const std::string& base) {
  if (!IsUsableObjectId(oid) || base.empty()) return false;
  CRegistry reg(CRegistry::kWrite);
  if (reg.Open(RecordPath(base, oid)) != ERROR_SUCCESS) return false;
  bool written = reg["PageId"].SetText(record.pageId);
  written = reg["LocalPath"].SetText(record.localPath) && written;
  written = reg["Version"].SetText(record.version) && written;
  written = reg["Immutable"].SetText(record.immutable) && written;
  if (record.stamp) {
    written = reg[kStampTime].SetText(std::to_string(record.stamp->lastWrite)) && written;
    written = reg[kStampSize].SetText(std::to_string(record.stamp->size)) && written;
  }
  return written;
}

std::optional<CheckOutRecord> ReadCheckOutRecord(const std::string& oid,
                                                 const std::string& base) {
  if (!IsUsableObjectId(oid) || base.empty()) return std::nullopt;
  CRegistry reg(CRegistry::kRead);
  if (reg.Open(RecordPath(base, oid)) != ERROR_SUCCESS) return std::nullopt;
  CheckOutRecord record;
  record.pageId = reg["PageId"].Text();
  record.localPath = reg["LocalPath"].Text();
  record.version = reg["Version"].Text();
  record.immutable = reg["Immutable"].Text();
  CRegEntry& time = reg[kStampTime];
  CRegEntry& size = reg[kStampSize];
  if (time.HasValue() && size.HasValue()) {
    const std::optional<uint64_t> t = ParseDecimal(time.Text()), n = ParseDecimal(size.Text());
    if (t && n) record.stamp = FileStamp{*t, *n};
  }
  return record;
}

std::vector<std::pair<std::string, CheckOutRecord>> ListCheckOutRecords(const std::string& base) {
  std::vector<std::pair<std::string, CheckOutRecord>> records;
  UniqueHKey key;
  if (base.empty() ||
      RegOpenKeyExW(HKEY_CURRENT_USER, Widen(base).c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.put()) != ERROR_SUCCESS) {
    return records;
  }
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // key names are at most 255 characters
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG status = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.push_back(Narrow(std::wstring(name, length)));
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) break;
  }
  key.reset();
  for (const std::string& oid : names) {
    if (auto record = ReadCheckOutRecord(oid, base)) records.emplace_back(oid, std::move(*record));
  }
  return records;
}

bool MayHoldUncheckedEdits(const CheckOutRecord& record) {
  const std::optional<FileStamp> now = GetFileStamp(record.localPath);
  if (!now) return false;  // no copy: nothing here to lose
  return !record.stamp || *now != *record.stamp;
}

bool DeleteCheckOutRecord(const std::string& oid, const std::string& base) {
  if (!IsUsableObjectId(oid) || base.empty()) return false;
  return DeleteRegistryTree(HKEY_CURRENT_USER, RecordPath(base, oid));
}

}  // namespace edms::win
