#include "common/working_documents.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/file_stamp.h"

namespace edms {
namespace {

CheckOutRow Row(std::string id, std::string name = "Report.docx", std::string flag = "T") {
  return CheckOutRow{"1.2", std::move(id), std::move(name), "", "", "kim", "Kim", "fixed typo", std::move(flag)};
}

// What the agent's tray menu passes: no folder, no share name.
const char kAgentStart[] =
    "FILE_PATH=&ADAPTOR_URL=http://edms/adaptor&WORK_FOLDER=C:\\Work&USER_ID=kim&PASSWORD=KVMRT";

TEST(WorkingDocumentsColumns, VersionShowsCurrentFlagInAnyCaseAndTheEditsMark) {
  struct Case {
    std::string flag;
    bool edits;
    std::string text;
  } cases[] = {
      {"T", false, "1.2,CURRENT"}, {"t", false, "1.2,CURRENT"}, {"F", false, "1.2"},
      {"TRUE", false, "1.2"},      {"", true, "1.2 *"},         {"T", true, "1.2,CURRENT *"},
  };
  for (const Case& c : cases) EXPECT_EQ(VersionColumnText(Row("42", "a", c.flag), c.edits), c.text) << c.flag;
  EXPECT_EQ(OwnerColumnText(Row("42")), "Kim(kim)");
}

TEST(WorkingDocumentsColumns, EditsAreClaimedOnlyForAnExistingCopyThatMovedFromItsRecordedStamp) {
  const FileStamp atCheckOut{1000, 16};
  struct Case {
    std::optional<FileStamp> recorded, current;
    bool edits;
  } cases[] = {
      {atCheckOut, atCheckOut, false},
      {atCheckOut, FileStamp{1001, 16}, true},
      {atCheckOut, FileStamp{1000, 17}, true},
      {std::nullopt, FileStamp{1001, 16}, false},  // a record written before stamps existed
      {atCheckOut, std::nullopt, false},           // no copy on this computer
  };
  for (const Case& c : cases) EXPECT_EQ(HoldsUncheckedEdits(c.recorded, c.current), c.edits);
}

TEST(WorkingDocumentsSelection, FollowsTheDocumentNotTheRowIndex) {
  const std::vector<CheckOutRow> before = {Row("A"), Row("B"), Row("C")};
  const std::vector<CheckOutRow> after = {Row("B"), Row("C")};  // A was checked in meanwhile
  EXPECT_EQ(RowOfDocument(before, "B"), 1u);
  EXPECT_EQ(RowOfDocument(after, "B"), 0u);
  EXPECT_EQ(RowOfDocument(after, "A"), std::nullopt);
  EXPECT_EQ(RowOfDocument({Row("")}, ""), std::nullopt);
}

TEST(WorkingDocumentsArguments, StartedByTheAgentTheProgramsGetJustTheDocumentName) {
  const ListProgramValues own = ReadListProgramValues(kAgentStart);
  EXPECT_EQ(own.folder, "");
  std::string error;
  EXPECT_EQ(CheckInArguments(Row("42", "a.txt", "t"), own, error),
            "OID=42&VERSION_NO=1.2&IS_CURRENT=TRUE&CREATOR_ID=kim&SHARE_NAME=&FILE_PATH=612e747874"
            "&ADAPTOR_URL=http://edms/adaptor&WORK_FOLDER=C:\\Work&USER_ID=kim&PASSWORD=KVMRT")
      << error;
  EXPECT_EQ(CancelArguments(Row("42", "a.txt", "F"), own, error),
            "OID=42&VERSION_NO=1.2&FILE_PATH=612e747874&ADAPTOR_URL=http://edms/adaptor"
            "&WORK_FOLDER=C:\\Work&USER_ID=kim&PASSWORD=KVMRT")
      << error;
}

TEST(WorkingDocumentsArguments, AGivenFolderAndShareNameTravelWithTheDocument) {
  const ListProgramValues own = ReadListProgramValues(
      "FILE_PATH=5c5c735c&ADAPTOR_URL=http://edms/adaptor&WORK_FOLDER=C:\\Work&USER_ID=kim&SHARE_NAME=docs");
  std::string error;
  const std::optional<std::string> args = CheckInArguments(Row("42", "b"), own, error);
  ASSERT_TRUE(args) << error;
  EXPECT_NE(args->find("&SHARE_NAME=docs&FILE_PATH=5c5c735c62&"), std::string::npos) << *args;  // \\s\ + b
}

TEST(WorkingDocumentsArguments, ARowThatCannotBePassedOnAsItIsStartsNothing) {
  const ListProgramValues own = ReadListProgramValues(kAgentStart);
  auto with = [](auto change) {
    CheckOutRow row = Row("42");
    change(row);
    return row;
  };
  const CheckOutRow rows[] = {
      with([](CheckOutRow& r) { r.documentId = ""; }),
      with([](CheckOutRow& r) { r.documentId = "4&USER_ID=root"; }),
      with([](CheckOutRow& r) { r.documentId = "..\\Config"; }),
      with([](CheckOutRow& r) { r.documentName = "C:evil.docx"; }),
      with([](CheckOutRow& r) { r.version = "1.2\"&x"; }),
      with([](CheckOutRow& r) { r.version = "1.2\n"; }),
      with([](CheckOutRow& r) { r.ownerId = "kim&OID=7"; }),
  };
  for (const CheckOutRow& row : rows) {
    std::string error;
    EXPECT_EQ(CheckInArguments(row, own, error), std::nullopt) << row.documentId << " " << row.version;
    EXPECT_FALSE(error.empty());
  }
  std::string error;
  EXPECT_EQ(CancelArguments(rows[1], own, error), std::nullopt);
}

}  // namespace
}  // namespace edms
