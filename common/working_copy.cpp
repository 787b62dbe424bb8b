#include "common/working_copy.h"

#include <limits>

#include "common/filename.h"

namespace edms {
namespace {

bool IsNameSafe(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return false;
    switch (c) {
      case '\\': case '/': case ':': case '<': case '>': case '"': case '|': case '?': case '*':
        return false;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

std::string WorkingCopyMark(std::string_view oid) {
  std::string mark;
  mark.reserve(oid.size() + 2);
  mark.append("(").append(oid).append(")");
  return mark;
}

std::optional<std::string> WorkingCopyName(std::string_view documentName, std::string_view oid) {
  if (oid.empty() || oid == "." || oid == ".." || !IsNameSafe(oid)) return std::nullopt;
  // The document name is already the last component of its path, but a drive-relative
  // name ("C:x.doc") or a control character must not reach the file system either.
  if (!IsNameSafe(documentName)) return std::nullopt;
  NameParts parts = SplitExtension(documentName);
  // A name without a dot has neither base nor extension here: the copy is just "(oid)".
  // The record's LocalPath, not the name, is how every program finds it again.
  if (parts.extension.empty()) parts.base.clear();
  return parts.base + WorkingCopyMark(oid) + parts.extension;
}

std::optional<std::string> WorkingCopyPath(std::string_view workFolder,
                                           std::string_view documentName, std::string_view oid) {
  if (workFolder.empty()) return std::nullopt;
  std::optional<std::string> name = WorkingCopyName(documentName, oid);
  if (!name) return std::nullopt;
  return JoinPath(workFolder, *name);
}

std::optional<uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

uint64_t ParseFileSize(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

int ProgressPercent(uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) return 100;
  // 128 bits keep done * 100 exact for any 64-bit count.
  return static_cast<int>(static_cast<unsigned __int128>(done) * 100 / total);
}

}  // namespace edms
