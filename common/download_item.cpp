#include "common/download_item.h"

#include <algorithm>

#include "common/filename.h"
#include "common/ws_command.h"

namespace edms {

std::string DownloadItem::SaveName() const { return LastPathComponent(name); }

DownloadItem ParseDownloadItem(std::string_view item) {
  const std::vector<std::string> fields = SplitFields(item, '*');
  DownloadItem parsed;
  if (fields.size() > 0) parsed.documentId = fields[0];
  if (fields.size() > 1) parsed.pageId = fields[1];
  if (fields.size() > 2) parsed.name = fields[2];
  parsed.complete = fields.size() >= 3;
  return parsed;
}

std::optional<ViewRequest> ParseViewRequest(std::string_view arg2) {
  const std::vector<std::string> fields = SplitFields(arg2);
  if (fields.size() < 3) return std::nullopt;
  return ViewRequest{fields[0], fields[1], fields[2]};
}

std::string NameCandidate(std::string_view name, int n) {
  if (n <= 1) return std::string(name);
  const NameParts parts = SplitExtension(name);
  return parts.base + "(" + std::to_string(n) + ")" + parts.extension;
}

std::string ProgressCellText(std::string_view phase, int percent) {
  return std::string(phase) + " " + std::to_string(percent) + " %";
}

std::string FailedCellText(std::string_view reason) { return "*" + std::string(reason); }

bool IsFailedCell(std::string_view text) { return !text.empty() && text.front() == '*'; }

bool IsProgressCell(std::string_view text) { return !text.empty() && text.back() == '%'; }

int CellPercent(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  int value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), 100);
  }
  return value;
}

DownloadList::Added DownloadList::Add(std::string item) {
  if (item.size() > kMaxItemBytes) return Added::kTooLong;
  if (items_.size() >= kMaxItems || bytes_ + item.size() > kMaxBytes) return Added::kFull;
  bytes_ += item.size();
  items_.push_back(std::move(item));
  return Added::kAdded;
}

void DownloadList::Clear() {
  items_.clear();
  bytes_ = 0;
}

void DownloadList::RemoveHanded(const std::vector<std::string>& handed) {
  if (handed.size() > items_.size() || !std::equal(handed.begin(), handed.end(), items_.begin())) return;
  for (const std::string& item : handed) bytes_ -= item.size();
  items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(handed.size()));
}

Countdown::Step Countdown::Tick() {
  if (left_ <= 0) return Step::kNone;
  --left_;
  return left_ == 0 ? Step::kStart : Step::kShow;
}

std::string Countdown::Text() const { return left_ > 0 ? "- [" + std::to_string(left_) + "] -" : std::string(); }

}  // namespace edms
