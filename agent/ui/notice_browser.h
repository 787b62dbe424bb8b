// What the notice window needs from a browser control. The real one is the system's
// web-browser control (CreateSystemBrowser); tests drive the window with a fake.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace edms {

// Events of the control, on the window's thread.
class NoticeBrowserEvents {
 public:
  virtual ~NoticeBrowserEvents() = default;
  // A navigation is about to start (also a link the user clicked); true cancels it.
  virtual bool OnBeforeNavigate(const std::string& url) = 0;
  // A document finished loading. The size its body declares in pixels; 0 x 0 when it
  // declares none or is not an HTML page.
  virtual void OnDocumentComplete(int declaredWidth, int declaredHeight) = 0;
  // The page could not be loaded; the control shows its own error page.
  virtual void OnNavigateError() = 0;
};

class NoticeBrowser {
 public:
  virtual ~NoticeBrowser() = default;
  // Creates the control over `parent`'s client area, reporting to `events`; false when the
  // system has no such control.
  virtual bool Create(HWND parent, NoticeBrowserEvents& events) = 0;
  // Starts loading `url`; false when the control refuses at once (it has no engine that can
  // show pages).
  virtual bool Navigate(const std::string& url) = 0;
  // Fits the control to the parent's new client size.
  virtual void Resize(int width, int height) = 0;
  // Lets the control go while its parent still exists; no event arrives afterwards.
  virtual void Destroy() = 0;
};

std::unique_ptr<NoticeBrowser> CreateSystemBrowser();

}  // namespace edms
