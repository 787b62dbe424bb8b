#include "common/win/checkout_record.h"

#include "common/win/registry.h"

namespace edms::win {
namespace {

// The object id must name exactly one key below the records' key.
bool UsableOid(const std::string& oid) {
  return !oid.empty() && oid.find('\\') == std::string::npos &&
         oid.find('\0') == std::string::npos;
}

std::string RecordPath(const std::string& base, const std::string& oid) {
  return base + "\\" + oid;
}

}  // namespace

bool WriteCheckOutRecord(const std::string& oid, const CheckOutRecord& record,
                         const std::string& base) {
  if (!UsableOid(oid) || base.empty()) return false;
  CRegistry reg(CRegistry::kCreate);
  if (!reg.Open(RecordPath(base, oid))) return false;
  reg["PageId"] = record.pageId;
  reg["LocalPath"] = record.localPath;
  reg["Version"] = record.version;
  reg["Immutable"] = record.immutable;
  reg.Close();
  return true;
}

std::optional<CheckOutRecord> ReadCheckOutRecord(const std::string& oid,
                                                 const std::string& base) {
  if (!UsableOid(oid) || base.empty()) return std::nullopt;
  // No create bit: reading a record that is not there must not leave an empty key behind.
  CRegistry reg(0);
  if (!reg.Open(RecordPath(base, oid))) return std::nullopt;
  CheckOutRecord record;
  record.pageId = reg["PageId"].Text();
  record.localPath = reg["LocalPath"].Text();
  record.version = reg["Version"].Text();
  record.immutable = reg["Immutable"].Text();
  reg.Close();
  return record;
}

bool DeleteCheckOutRecord(const std::string& oid, const std::string& base) {
  if (!UsableOid(oid) || base.empty()) return false;
  return DeleteRegistryTree(HKEY_CURRENT_USER, RecordPath(base, oid));
}

}  // namespace edms::win
