// The working-documents list's rules that need no Windows: what a row shows, which row is
// selected again after a reload, and the argument strings of the programs started for a row.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/checkout_list.h"

namespace edms {

// The list program's own values, from its argument string.
struct ListProgramValues {
  std::string adaptorUrl;
  std::string workFolder;
  std::string userId;
  std::string shareName;
  std::string folder;  // FILE_PATH decoded: document names are appended to it as they stand
};
ListProgramValues ReadListProgramValues(std::string_view args);

// Column 1: the version, ",CURRENT" for the document's current version, then " *" when the
// working copy holds edits not checked in.
std::string VersionColumnText(const CheckOutRow& row, bool holdsEdits);
// Column 3: owner's name + "(" + owner's id + ")".
std::string OwnerColumnText(const CheckOutRow& row);

// The first row of `documentId`; nullopt when the id is empty or no row has it.
std::optional<size_t> RowOfDocument(const std::vector<CheckOutRow>& rows, std::string_view documentId);

// The argument strings for ZTCheckIn and ZTCheckOutCancel, the pairs in the system's order;
// FILE_PATH is hex(folder + document name), PASSWORD the placeholder. nullopt with
// the reason in `error` when the row's identifier or name could not name a working copy, or
// a value could not be read back as it is (ArgumentString refuses it): such a row is never
// passed on.
std::optional<std::string> CheckInArguments(const CheckOutRow& row, const ListProgramValues& own,
                                            std::string& error);
std::optional<std::string> CancelArguments(const CheckOutRow& row, const ListProgramValues& own,
                                           std::string& error);

}  // namespace edms
