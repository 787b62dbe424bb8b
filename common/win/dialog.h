// The dialog base class: one C++ object per dialog window, with typed handlers.
// The dialog template is taken in the run's language (DialogBoxLang / CreateDialogLang).
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "common/win/app_icon.h"

namespace edms::win {

class CDialogBase {
 public:
  CDialogBase(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
  virtual ~CDialogBase() = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Runs the dialog modally; the value given to EndDialog, or -1 when it cannot be shown.
  // Both ways register the common controls first, unless UsesCommonControls() says no.
  INT_PTR DoModal(HWND parent = nullptr);
  // Creates the dialog modeless (the caller's message loop must call IsDialogMessage);
  // null on failure.
  HWND Create(HWND parent = nullptr);

  HWND hwnd() const { return hwnd_; }
  HINSTANCE instance() const { return instance_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  std::string ItemText(int id) const;
  void SetItemText(int id, const std::string& utf8);
  void EnableItem(int id, bool enable) { EnableWindow(Item(id), enable ? TRUE : FALSE); }

  // Sets the window's big and small icon: `alternativeId` for the EDMS_AGENT installation
  // kind, else `normalId`. The big one is also drawn while the window is minimised.
  void SetProgramIcon(std::string_view appType, int normalId, int alternativeId);
  // The icon drawn (centred) while the window is minimised and given when it is dragged
  // minimised; null draws nothing of ours. The caller keeps it alive.
  void SetMinimizedIcon(HICON icon) { minimizedIcon_ = icon; }

 protected:
  // False for a dialog whose template holds no common control: its creation then leaves the
  // common controls unloaded (the agent's hidden main window, which lives for hours).
  virtual bool UsesCommonControls() const { return true; }
  // Handlers. Return true when the message was handled (the dialog procedure then
  // answers TRUE); the defaults handle nothing except OK/Cancel, which end the dialog.
  virtual bool OnInitDialog() { return true; }
  virtual bool OnCommand(int id, int notifyCode, HWND control);
  virtual bool OnTimer(UINT_PTR /*timerId*/) { return false; }
  virtual bool OnNotify(NMHDR* /*header*/, LRESULT& /*result*/) { return false; }
  virtual void OnDestroy() {}
  // Any other message; `result` is what the procedure returns when handled.
  virtual bool OnMessage(UINT /*msg*/, WPARAM, LPARAM, INT_PTR& /*result*/) { return false; }

  void End(INT_PTR result);

 private:
  static INT_PTR CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR Proc(UINT msg, WPARAM wp, LPARAM lp);
  bool PaintMinimized();

  HINSTANCE instance_;
  int templateId_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  WindowIcons icons_;
  HICON minimizedIcon_ = nullptr;
};

// Appends a separator and the item `text` with command `command` to the window's system menu
// (the about item); nothing when `text` is empty.
void AddSystemMenuItem(HWND window, const std::string& text, UINT command);

// Runs dialog `templateId` (in the run's language) modally with nothing to do but close on OK
// or Cancel: an about box.
INT_PTR ShowPlainDialog(HINSTANCE instance, int templateId, HWND parent);

}  // namespace edms::win
