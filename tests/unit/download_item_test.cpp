#include "common/download_item.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace edms {
namespace {

TEST(ParseDownloadItem, ThreeFieldsOrAnIncompleteItem) {
  struct Case {
    std::string item, id, page, name, saveName;
    bool complete;
  } cases[] = {
      {"D1*P1*report.pdf", "D1", "P1", "report.pdf", "report.pdf", true},
      {"D1*P1*a/b\\c.txt*extra", "D1", "P1", "a/b\\c.txt", "c.txt", true},
      {"D1**x.txt", "D1", "", "x.txt", "x.txt", true},
      {"D1*P1*", "D1", "P1", "", "", true},
      {"D1*P1", "D1", "P1", "", "", false},
      {"", "", "", "", "", false},
  };
  for (const auto& c : cases) {
    const DownloadItem item = ParseDownloadItem(c.item);
    EXPECT_EQ(item.documentId, c.id) << c.item;
    EXPECT_EQ(item.pageId, c.page) << c.item;
    EXPECT_EQ(item.name, c.name) << c.item;
    EXPECT_EQ(item.SaveName(), c.saveName) << c.item;
    EXPECT_EQ(item.complete, c.complete) << c.item;
  }
}

TEST(ParseViewRequest, NeedsThreeFields) {
  auto view = ParseViewRequest("D1^P1^a/b.txt^more");
  ASSERT_TRUE(view);
  EXPECT_EQ(view->documentId, "D1");
  EXPECT_EQ(view->pageId, "P1");
  EXPECT_EQ(view->name, "a/b.txt");  // refused later as a path, never cut down here
  EXPECT_FALSE(ParseViewRequest("D1^P1"));
  EXPECT_FALSE(ParseViewRequest(""));
}

TEST(NameCandidate, NumbersBeforeTheExtension) {
  struct Case {
    std::string name;
    int n;
    std::string candidate;
  } cases[] = {
      {"report.pdf", 1, "report.pdf"}, {"report.pdf", 2, "report(2).pdf"}, {"a.tar.gz", 3, "a.tar(3).gz"},
      {"README", 2, "README(2)"},      {".profile", 2, "(2).profile"},
  };
  for (const auto& c : cases) EXPECT_EQ(NameCandidate(c.name, c.n), c.candidate) << c.name << " " << c.n;
}

TEST(ProgressCells, TextsAndTheBarTheyDraw) {
  EXPECT_EQ(ProgressCellText("", 42), " 42 %");
  EXPECT_EQ(ProgressCellText("Downloading...", 0), "Downloading... 0 %");
  struct Case {
    std::string text;
    bool progress, failed;
    int percent;
  } cases[] = {
      {" 42 %", true, false, 42},          {"0 %", true, false, 0},
      {"Connecting .... 0 %", true, false, 0}, {"100 %", true, false, 100},
      {"999 %", true, false, 100},        {"*Aborted by user.", false, true, 0},
      {"report.pdf", false, false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsProgressCell(c.text), c.progress) << c.text;
    EXPECT_EQ(IsFailedCell(c.text), c.failed) << c.text;
    EXPECT_EQ(CellPercent(c.text), c.percent) << c.text;
  }
}

DownloadList ListOf(const std::vector<std::string>& items) {
  DownloadList list;
  for (const std::string& item : items) list.Add(item);
  return list;
}

TEST(DownloadList, RemovingHandedItemsKeepsWhatThePageAddedMeanwhile) {
  using List = std::vector<std::string>;
  struct Case {
    const char* what;
    List list, handed, left;
  } cases[] = {
      {"unchanged", {"a", "b"}, {"a", "b"}, {}},
      {"added while open", {"a", "b", "a", "c"}, {"a", "b"}, {"a", "c"}},
      {"cleared, then added", {"c", "d", "e"}, {"a", "b"}, {"c", "d", "e"}},
      {"cleared, then one re-added", {"a"}, {"a", "b"}, {"a"}},
      {"nothing handed", {"a"}, {}, {"a"}},
  };
  for (auto& c : cases) {
    DownloadList list = ListOf(c.list);
    list.RemoveHanded(c.handed);
    EXPECT_EQ(list.items(), c.left) << c.what;
    EXPECT_EQ(list.bytes(), ListOf(c.left).bytes()) << c.what;
  }
}

TEST(DownloadList, BoundedAndWhatLeavesGivesItsRoomBack) {
  DownloadList list;
  EXPECT_EQ(list.Add(std::string(DownloadList::kMaxItemBytes + 1, 'x')), DownloadList::Added::kTooLong);
  for (std::size_t i = 0; i < DownloadList::kMaxItems; ++i) list.Add("D" + std::to_string(i) + "*P*a.txt");
  EXPECT_EQ(list.Add("D*P*one-more.txt"), DownloadList::Added::kFull);
  list.Clear();
  // Long items meet the byte cap before the item cap.
  const std::string item(DownloadList::kMaxItemBytes, 'y');
  while (list.Add(item) == DownloadList::Added::kAdded) {
  }
  EXPECT_EQ(list.items().size(), DownloadList::kMaxBytes / DownloadList::kMaxItemBytes);
  // Rounds of windows that take the whole list: each round has the whole room again.
  for (int round = 0; round < 3; ++round) {
    const std::vector<std::string> handed = list.items();
    list.RemoveHanded(handed);
    EXPECT_EQ(list.bytes(), 0u) << round;
    while (list.Add(item) == DownloadList::Added::kAdded) {
    }
    EXPECT_EQ(list.items().size(), DownloadList::kMaxBytes / DownloadList::kMaxItemBytes) << round;
  }
}

TEST(Countdown, ThreeStepsThenStartUnlessStopped) {
  Countdown countdown;
  EXPECT_EQ(countdown.Tick(), Countdown::Step::kNone);
  countdown.Arm();
  std::vector<std::string> shown;
  Countdown::Step step;
  while ((step = countdown.Tick()) == Countdown::Step::kShow) shown.push_back(countdown.Text());
  EXPECT_EQ(step, Countdown::Step::kStart);
  EXPECT_EQ(shown, (std::vector<std::string>{"- [3] -", "- [2] -", "- [1] -"}));
  EXPECT_FALSE(countdown.running());
  EXPECT_EQ(countdown.Text(), "");

  countdown.Arm();
  countdown.Tick();
  countdown.Stop();
  EXPECT_EQ(countdown.Tick(), Countdown::Step::kNone);
  EXPECT_EQ(countdown.Text(), "");
}

}  // namespace
}  // namespace edms
