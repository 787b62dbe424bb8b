#include "common/win/checkout_record.h"

#include "common/win/registry.h"

namespace edms::win {
namespace {

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
  CRegistry reg(CRegistry::kCreate);
  if (!reg.Open(RecordPath(base, oid))) return false;
  bool written = reg["PageId"].SetText(record.pageId);
  written = reg["LocalPath"].SetText(record.localPath) && written;
  written = reg["Version"].SetText(record.version) && written;
  written = reg["Immutable"].SetText(record.immutable) && written;
  reg.Close();
  return written;
}

std::optional<CheckOutRecord> ReadCheckOutRecord(const std::string& oid,
                                                 const std::string& base) {
  if (!IsUsableObjectId(oid) || base.empty()) return std::nullopt;
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
  if (!IsUsableObjectId(oid) || base.empty()) return false;
  return DeleteRegistryTree(HKEY_CURRENT_USER, RecordPath(base, oid));
}

}  // namespace edms::win
