// The notice window's rules, kept apart from the browser control that shows the page: the
// size the page declares, the marker that closes the window, the time-out that shows it.
#pragma once
#include <string_view>

namespace edms {

inline constexpr int kNoticeDefaultWidth = 500;
inline constexpr int kNoticeDefaultHeight = 250;
// A page that never completes still gets its window shown after this long.
inline constexpr unsigned kNoticeShowTimeoutMs = 5000;

struct WindowBox {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Where the window goes: a client area of the declared size (500 x 250 when either side is
// below 25) grown by the frame, cut to the work area and centred in it.
WindowBox NoticeWindowBox(int declaredWidth, int declaredHeight, int frameWidth, int frameHeight,
                          const WindowBox& workArea);

// True for a navigation that closes the window: its URL holds "ZELTO_ACTION", in any case,
// after its first character.
bool IsCloseNavigation(std::string_view url);

// What the notice window does with a navigation its page starts: the close marker closes it;
// a page of NoticeURL's own origin (and the control's own blank page) loads; anything else
// (another site, file:, a share, another scheme) is refused. The window shows the server's
// notices, nothing else.
enum class NoticeNavigation { kLoad, kClose, kRefuse };
NoticeNavigation JudgeNoticeNavigation(std::string_view url, std::string_view noticeUrl);

}  // namespace edms
