#include "common/notice_window.h"

#include <algorithm>
#include <optional>

#include "common/ascii.h"
#include "common/url.h"

namespace edms {

WindowBox NoticeWindowBox(int declaredWidth, int declaredHeight, int frameWidth, int frameHeight,
                          const WindowBox& workArea) {
  constexpr int kSmallest = 25;
  const bool declared = declaredWidth >= kSmallest && declaredHeight >= kSmallest;
  // 64 bits: a page may declare any size, the frame is added before the cut.
  const long long width = static_cast<long long>(declared ? declaredWidth : kNoticeDefaultWidth) + frameWidth;
  const long long height = static_cast<long long>(declared ? declaredHeight : kNoticeDefaultHeight) + frameHeight;
  WindowBox box;
  box.width = static_cast<int>(std::min<long long>(width, workArea.width));
  box.height = static_cast<int>(std::min<long long>(height, workArea.height));
  box.left = workArea.left + (workArea.width - box.width) / 2;
  box.top = workArea.top + (workArea.height - box.height) / 2;
  return box;
}

bool IsCloseNavigation(std::string_view url) {
  return !url.empty() && ContainsIgnoreCase(url.substr(1), "ZELTO_ACTION");
}

NoticeNavigation JudgeNoticeNavigation(std::string_view url, std::string_view noticeUrl) {
  if (IsCloseNavigation(url)) return NoticeNavigation::kClose;
  if (url == "about:blank") return NoticeNavigation::kLoad;
  const std::optional<Origin> target = ParseOrigin(url);
  const std::optional<Origin> home = ParseOrigin(noticeUrl);
  return target && home && *target == *home ? NoticeNavigation::kLoad : NoticeNavigation::kRefuse;
}

}  // namespace edms
