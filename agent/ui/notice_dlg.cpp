#include "agent/ui/notice_dlg.h"

#include "agent/resource.h"
#include "common/win/trace.h"

namespace edms {
namespace {

constexpr UINT_PTR kShowTimer = 1;

}  // namespace

CNoticeDlg::CNoticeDlg(HINSTANCE instance, std::string url, std::string appType,
                       std::unique_ptr<NoticeBrowser> browser, unsigned showTimeoutMs)
    : CDialogBase(instance, IDD_NOTICE_DIALOG),
      url_(std::move(url)),
      appType_(std::move(appType)),
      browser_(std::move(browser)),
      showTimeoutMs_(showTimeoutMs) {}

bool CNoticeDlg::OnInitDialog() {
  SetProgramIcon(appType_, IDR_MAINFRAME, IDR_MAINFRAME_EDMS);
  // Where a page that declares nothing ends up, so the time-out shows a sensible window.
  Place(0, 0);
  if (!browser_ || !browser_->Create(hwnd(), *this) || !browser_->Navigate(url_)) {
    End(kNoBrowser);
    return true;
  }
  SetTimer(hwnd(), kShowTimer, showTimeoutMs_, nullptr);
  return true;
}

void CNoticeDlg::Place(int declaredWidth, int declaredHeight) {
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd(), GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd(), GWL_EXSTYLE)));
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const WindowBox box = NoticeWindowBox(declaredWidth, declaredHeight, frame.right - frame.left,
                                        frame.bottom - frame.top,
                                        WindowBox{work.left, work.top, work.right - work.left, work.bottom - work.top});
  SetWindowPos(hwnd(), nullptr, box.left, box.top, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CNoticeDlg::Show() {
  if (shown_) return;
  shown_ = true;
  KillTimer(hwnd(), kShowTimer);
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
  win::Trace("notice window shown");
}

void CNoticeDlg::BringToFront() {
  Show();
  SetForegroundWindow(hwnd());
}

bool CNoticeDlg::OnBeforeNavigate(const std::string& url) {
  switch (JudgeNoticeNavigation(url, url_)) {
    case NoticeNavigation::kLoad:
      return false;
    case NoticeNavigation::kClose:
      win::Trace("notice window closed by its page");
      End(0);
      return true;
    case NoticeNavigation::kRefuse:
      break;
  }
  win::Trace("notice window: navigation refused: " + url);
  return true;
}

void CNoticeDlg::OnDocumentComplete(int declaredWidth, int declaredHeight) {
  Place(declaredWidth, declaredHeight);
  Show();
}

void CNoticeDlg::OnNavigateError() {
  win::Trace("notice page could not be loaded");
  Show();
}

bool CNoticeDlg::OnTimer(UINT_PTR id) {
  if (id != kShowTimer) return false;
  win::Trace("notice page not complete in time; shown as it is");
  Show();
  return true;
}

void CNoticeDlg::OnDestroy() {
  KillTimer(hwnd(), kShowTimer);
  if (browser_) browser_->Destroy();
}

bool CNoticeDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR&) {
  switch (message) {
    case WM_WINDOWPOSCHANGING:
      // The dialog manager shows a modal window as soon as it is idle; this one waits for its page.
      if (!shown_) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
      return false;
    case WM_SIZE:
      if (browser_) browser_->Resize(LOWORD(lParam), HIWORD(lParam));
      return false;
    default:
      return false;
  }
}

}  // namespace edms
