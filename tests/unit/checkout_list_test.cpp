#include "common/checkout_list.h"

#include <gtest/gtest.h>

namespace {

edms::CheckOutRow Row(const std::string& id, const std::string& name, const std::string& flag) {
  return edms::CheckOutRow{"1.2", id, name, "", "", "kim", "Kim", "fixed typo", flag};
}

TEST(CheckOutListTest, FormatsNineTabSeparatedFieldsAndFormFeedRows) {
  std::string text = edms::FormatCheckOutList({Row("42", "Report.docx", "T"), Row("7", "a", "F")});
  EXPECT_EQ(text,
            "1.2\t42\tReport.docx\t\t\tkim\tKim\tfixed typo\tT\f"
            "1.2\t7\ta\t\t\tkim\tKim\tfixed typo\tF");
}

TEST(CheckOutListTest, RoundTripsKoreanText) {
  edms::CheckOutRow row{"1.0", "DEMO-4", "회의록.txt", "", "", "bob", "밥", "초안 메모", "T"};
  std::vector<edms::CheckOutRow> back = edms::ParseCheckOutList(edms::FormatCheckOutList({row}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].documentName, row.documentName);
  EXPECT_EQ(back[0].ownerName, row.ownerName);
  EXPECT_EQ(back[0].note, row.note);
}

TEST(CheckOutListTest, SeparatorsInsideFieldsCannotSplitTheRow) {
  edms::CheckOutRow row = Row("42", "Report.docx", "T");
  row.note = "line one\nline\ttwo\fthree\r";
  std::vector<edms::CheckOutRow> back = edms::ParseCheckOutList(edms::FormatCheckOutList({row}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].note, "line one line two three ");
  EXPECT_EQ(back[0].currentFlag, "T");
}

TEST(CheckOutListTest, EmptyTextIsAnEmptyList) {
  size_t skipped = 99;
  EXPECT_TRUE(edms::ParseCheckOutList("", &skipped).empty());
  EXPECT_EQ(skipped, 0u);
  EXPECT_EQ(edms::FormatCheckOutList({}), "");
}

TEST(CheckOutListTest, ShortRowsAreSkippedAndCounted) {
  struct Case {
    std::string text;
    size_t rows;
    size_t skipped;
  };
  const std::string good = "1.2\t42\tReport.docx\t\t\tkim\tKim\tnote\tT";
  const Case cases[] = {
      {good, 1, 0},
      {good + "\f", 1, 0},                       // trailing form feed: no row after it
      {good + "\f\f" + good, 2, 0},              // nor between two
      {good + "\f1.0\tshort", 1, 1},             // second row has two fields
      {"\f", 0, 0},
      {good + "\textra\tmore\f" + good, 2, 0},   // extra fields ignored
  };
  for (const Case& c : cases) {
    size_t skipped = 0;
    std::vector<edms::CheckOutRow> rows = edms::ParseCheckOutList(c.text, &skipped);
    EXPECT_EQ(rows.size(), c.rows) << c.text;
    EXPECT_EQ(skipped, c.skipped) << c.text;
  }
}

TEST(CheckOutListTest, FieldsMapInReplyOrder) {
  std::vector<edms::CheckOutRow> rows =
      edms::ParseCheckOutList("v\tid\tname\ts1\ts2\towner\tOwner Name\tnote\tt");
  ASSERT_EQ(rows.size(), 1u);
  const edms::CheckOutRow& r = rows[0];
  EXPECT_EQ(r.version, "v");
  EXPECT_EQ(r.documentId, "id");
  EXPECT_EQ(r.documentName, "name");
  EXPECT_EQ(r.spare1, "s1");
  EXPECT_EQ(r.spare2, "s2");
  EXPECT_EQ(r.ownerId, "owner");
  EXPECT_EQ(r.ownerName, "Owner Name");
  EXPECT_EQ(r.note, "note");
  EXPECT_TRUE(r.IsCurrent());  // lower-case flag counts too
}

TEST(CheckOutListTest, OnlyTMarksTheCurrentVersion) {
  const std::pair<const char*, bool> flags[] = {{"T", true}, {"t", true}, {"F", false},
                                                {"", false}, {"TRUE", false}, {" T", false}};
  for (const auto& [flag, current] : flags) {
    EXPECT_EQ(Row("1", "a", flag).IsCurrent(), current) << flag;
  }
}

}  // namespace
