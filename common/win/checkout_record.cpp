#include "common/win/checkout_record.h"

#include <cstdint>

#include "common/win/registry.h"

namespace edms::win {
namespace {

constexpr char kStampTime[] = "CopyLastWrite";
constexpr char kStampSize[] = "CopySize";

// Digits only, within 64 bits.
std::optional<uint64_t> ParseDecimal(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

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
  if (record.stamp) {
    written = reg[kStampTime].SetText(std::to_string(record.stamp->lastWrite)) && written;
    written = reg[kStampSize].SetText(std::to_string(record.stamp->size)) && written;
  }
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
  CRegEntry& time = reg[kStampTime];
  CRegEntry& size = reg[kStampSize];
  if (time.HasValue() && size.HasValue()) {
    const std::optional<uint64_t> t = ParseDecimal(time.Text()), n = ParseDecimal(size.Text());
    if (t && n) record.stamp = FileStamp{*t, *n};
  }
  reg.Close();
  return record;
}

bool DeleteCheckOutRecord(const std::string& oid, const std::string& base) {
  if (!IsUsableObjectId(oid) || base.empty()) return false;
  return DeleteRegistryTree(HKEY_CURRENT_USER, RecordPath(base, oid));
}

}  // namespace edms::win
