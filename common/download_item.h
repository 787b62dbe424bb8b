// What the page asks the agent to download: the items of the download list (ADD_TO_DOWNLOAD),
// the VIEW parameter, and the rules of the multi-file window that need no Windows.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edms {

// One download-list item: document id, page id and file name joined by "*"; fields after
// the third are ignored.
struct DownloadItem {
  std::string documentId;
  std::string pageId;
  std::string name;  // the file name as the page sent it
  bool complete = false;  // it had three fields; an incomplete item is shown as a failed row
  // The name the file is saved under: the text after the name's last '/' or '\'.
  std::string SaveName() const;
};
DownloadItem ParseDownloadItem(std::string_view item);

// The VIEW parameter: document id ^ page id ^ file name; nullopt with fewer than three
// fields (later ones are ignored). The name is taken as it stands: a path is refused later.
struct ViewRequest {
  std::string documentId;
  std::string pageId;
  std::string name;
};
std::optional<ViewRequest> ParseViewRequest(std::string_view arg2);

// Candidate `n` (from 1) of the free-name choice: the name itself, then stem + "(n)" +
// extension ("report.pdf" -> "report(2).pdf", "README" -> "README(2)").
std::string NameCandidate(std::string_view name, int n);

// The text of a row's progress cell: "<phase> <percent> %" ("" phase: " 42 %").
std::string ProgressCellText(std::string_view phase, int percent);
// The text of a failed row's cell: "*" + reason.
std::string FailedCellText(std::string_view reason);
bool IsFailedCell(std::string_view text);
bool IsProgressCell(std::string_view text);  // ends in '%'
// The whole number a progress cell starts with, blanks skipped, clamped to 0..100; 0 when
// it starts with none ("Downloading... 0 %" draws an empty bar).
int CellPercent(std::string_view text);

// The download list that ADD_TO_DOWNLOAD fills, bounded in items, in bytes an item and in
// bytes in all. Whatever leaves the list gives its room back.
class DownloadList {
 public:
  static constexpr std::size_t kMaxItemBytes = 2048;
  static constexpr std::size_t kMaxItems = 500;
  static constexpr std::size_t kMaxBytes = 256 * 1024;

  enum class Added { kAdded, kTooLong, kFull };
  Added Add(std::string item);
  void Clear();
  // Takes the items handed to a finished download window off the list. Items are only ever
  // appended, or all cleared: when the list still begins with `handed`, that prefix goes and
  // what the page added meanwhile stays; otherwise the list was cleared since and nothing is
  // taken.
  void RemoveHanded(const std::vector<std::string>& handed);

  const std::vector<std::string>& items() const { return items_; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::vector<std::string> items_;
  std::size_t bytes_ = 0;
};

// The countdown of "Start transfer automatically.": Arm() shows three steps, one per Tick(),
// and the fourth Tick() says start. Stop() ends it without a start.
class Countdown {
 public:
  enum class Step { kNone, kShow, kStart };
  void Arm() { left_ = 4; }
  void Stop() { left_ = 0; }
  bool running() const { return left_ > 0; }
  // kShow with Text() to show, kStart when it has run out (it then stops), kNone when stopped.
  Step Tick();
  std::string Text() const;  // "- [3] -", or empty when stopped

 private:
  int left_ = 0;
};

}  // namespace edms
