#include "common/working_documents.h"

#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/encoding.h"
#include "common/working_copy.h"

namespace edms {
namespace {

constexpr std::string_view kCurrentMark = ",CURRENT";
constexpr std::string_view kEditsMark = " *";

// The pairs both starts end with: where the document is, who asks, and the placeholder last.
ArgumentString& AddLocationAndUser(ArgumentString& a, const CheckOutRow& row, const ListProgramValues& own) {
  return a.Add(arg::kFilePath, HexEncodeUtf8(own.folder + row.documentName))
      .Add(arg::kAdaptorUrl, own.adaptorUrl)
      .Add(arg::kWorkFolder, own.workFolder)
      .Add(arg::kUserId, own.userId)
      .Add(arg::kPassword, arg::kPlaceholderPassword);
}

std::optional<std::string> BuildFor(const CheckOutRow& row, const ArgumentString& a, std::string& error) {
  // The started program finds its record, and the user's editor shows the copy, by this name.
  if (!WorkingCopyName(row.documentName, row.documentId)) {
    error = "the document id \"" + row.documentId + "\" or name \"" + row.documentName +
            "\" cannot name a working copy";
    return std::nullopt;
  }
  std::string out;
  if (!a.Build(out, error)) return std::nullopt;
  return out;
}

}  // namespace

ListProgramValues ReadListProgramValues(std::string_view args) {
  ListProgramValues own;
  own.adaptorUrl = Arg(args, arg::kAdaptorUrl);
  own.workFolder = Arg(args, arg::kWorkFolder);
  own.userId = Arg(args, arg::kUserId);
  own.shareName = Arg(args, arg::kShareName);
  own.folder = HexDecodeUtf8(Arg(args, arg::kFilePath));
  return own;
}

std::string VersionColumnText(const CheckOutRow& row, bool holdsEdits) {
  std::string text = row.version;
  if (row.IsCurrent()) text += kCurrentMark;
  if (holdsEdits) text += kEditsMark;
  return text;
}

std::string OwnerColumnText(const CheckOutRow& row) { return row.ownerName + "(" + row.ownerId + ")"; }

std::optional<size_t> RowOfDocument(const std::vector<CheckOutRow>& rows, std::string_view documentId) {
  if (documentId.empty()) return std::nullopt;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].documentId == documentId) return i;
  }
  return std::nullopt;
}

std::optional<std::string> CheckInArguments(const CheckOutRow& row, const ListProgramValues& own,
                                            std::string& error) {
  ArgumentString a;
  a.Add(arg::kOid, row.documentId)
      .Add(arg::kVersionNo, row.version)
      .Add(arg::kIsCurrent, row.IsCurrent() ? "TRUE" : "FALSE")
      .Add(arg::kCreatorId, row.ownerId)
      .Add(arg::kShareName, own.shareName);
  return BuildFor(row, AddLocationAndUser(a, row, own), error);
}

std::optional<std::string> CancelArguments(const CheckOutRow& row, const ListProgramValues& own,
                                           std::string& error) {
  ArgumentString a;
  a.Add(arg::kOid, row.documentId).Add(arg::kVersionNo, row.version);
  return BuildFor(row, AddLocationAndUser(a, row, own), error);
}

}  // namespace edms
