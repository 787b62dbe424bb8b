// The notice window (dialog 130): the server's notice page for the user in a browser control.
// It stays hidden while the page loads, takes the size the page's body declares, and closes
// when the page navigates to a URL that carries the close marker. It is never left hidden:
// a navigation error or a page that does not complete in time shows it as it is.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "agent/ui/notice_browser.h"
#include "common/notice_window.h"
#include "common/win/dialog.h"

namespace edms {

class CNoticeDlg : public win::CDialogBase, private NoticeBrowserEvents {
 public:
  // DoModal's result when the control could not show the page (the opener then gives the
  // page to the default browser). The page's close marker ends the window with 0.
  static constexpr INT_PTR kNoBrowser = 2;

  CNoticeDlg(HINSTANCE instance, std::string url, std::string appType, std::unique_ptr<NoticeBrowser> browser,
             unsigned showTimeoutMs = kNoticeShowTimeoutMs);

  // Shows the window at once (still loading or not) and brings it to the front.
  void BringToFront();
  // Ends the window as its close box does.
  void Close() { End(IDCANCEL); }
  bool shown() const { return shown_; }

 protected:
  bool OnInitDialog() override;
  bool OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  bool OnBeforeNavigate(const std::string& url) override;
  void OnDocumentComplete(int declaredWidth, int declaredHeight) override;
  void OnNavigateError() override;

  void Place(int declaredWidth, int declaredHeight);
  void Show();

  const std::string url_;
  const std::string appType_;
  std::unique_ptr<NoticeBrowser> browser_;
  const unsigned showTimeoutMs_;
  bool shown_ = false;
};

}  // namespace edms
