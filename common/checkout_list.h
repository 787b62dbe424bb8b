// The check-out list reply: rows separated by form feed (12), nine fields per row
// separated by tab (9). Written by the server, read by the working-documents program.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

// One row, fields in reply order.
struct CheckOutRow {
  std::string version;       // 0
  std::string documentId;    // 1
  std::string documentName;  // 2
  std::string spare1;        // 3
  std::string spare2;        // 4
  std::string ownerId;       // 5
  std::string ownerName;     // 6
  std::string note;          // 7
  std::string currentFlag;   // 8: "T" for the document's current version

  // The flag is "T" in either case.
  bool IsCurrent() const;
};

// Joins the rows. A tab, form feed, CR or LF inside a field cannot travel in this
// format and becomes a blank. No rows give empty text.
std::string FormatCheckOutList(const std::vector<CheckOutRow>& rows);

// Splits at every form feed, then every tab. Empty text is an empty list, and an empty
// piece (after a trailing form feed, or between two) is no row. A row with fewer than
// nine fields cannot be built: it is left out and counted in *skipped when given.
// Fields past the ninth are ignored.
std::vector<CheckOutRow> ParseCheckOutList(std::string_view text, size_t* skipped = nullptr);

}  // namespace edms
