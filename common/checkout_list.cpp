#include "common/checkout_list.h"

namespace edms {
namespace {

constexpr char kRowSeparator = '\f';
constexpr char kFieldSeparator = '\t';

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

void AppendField(std::string& out, const std::string& field) {
  for (char c : field) {
    out.push_back(c == kRowSeparator || c == kFieldSeparator || c == '\r' || c == '\n' ? ' ' : c);
  }
}

}  // namespace

bool CheckOutRow::IsCurrent() const {
  return currentFlag == "T" || currentFlag == "t";
}

std::string FormatCheckOutList(const std::vector<CheckOutRow>& rows) {
  std::string out;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) out.push_back(kRowSeparator);
    const CheckOutRow& row = rows[r];
    const std::string* fields[] = {&row.version, &row.documentId, &row.documentName,
                                   &row.spare1,  &row.spare2,     &row.ownerId,
                                   &row.ownerName, &row.note,     &row.currentFlag};
    for (size_t f = 0; f < 9; ++f) {
      if (f > 0) out.push_back(kFieldSeparator);
      AppendField(out, *fields[f]);
    }
  }
  return out;
}

std::vector<CheckOutRow> ParseCheckOutList(std::string_view text, size_t* skipped) {
  std::vector<CheckOutRow> rows;
  size_t bad = 0;
  if (!text.empty()) {
    for (std::string_view line : Split(text, kRowSeparator)) {
      // Nothing between two separators (as after a trailing form feed) is no entry at all.
      if (line.empty()) continue;
      std::vector<std::string_view> f = Split(line, kFieldSeparator);
      if (f.size() < 9) {
        ++bad;
        continue;
      }
      rows.push_back(CheckOutRow{std::string(f[0]), std::string(f[1]), std::string(f[2]),
                                 std::string(f[3]), std::string(f[4]), std::string(f[5]),
                                 std::string(f[6]), std::string(f[7]), std::string(f[8])});
    }
  }
  if (skipped) *skipped = bad;
  return rows;
}

}  // namespace edms
