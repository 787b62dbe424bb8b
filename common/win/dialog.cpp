#include "common/win/dialog.h"

#include "common/win/language.h"
#include "common/win/program_start.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

INT_PTR CALLBACK PlainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void AddSystemMenuItem(HWND window, const std::string& text, UINT command) {
  if (text.empty()) return;
  if (HMENU systemMenu = GetSystemMenu(window, FALSE)) {
    AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(systemMenu, MF_STRING, command, Widen(text).c_str());
  }
}

INT_PTR ShowPlainDialog(HINSTANCE instance, int templateId, HWND parent) {
  InitCommonControlsForDialogs();
  return DialogBoxLang(instance, templateId, parent, &PlainDialogProc, 0);
}

INT_PTR CDialogBase::DoModal(HWND parent) {
  modal_ = true;
  if (UsesCommonControls()) InitCommonControlsForDialogs();
  return DialogBoxLang(instance_, templateId_, parent, &CDialogBase::StaticProc,
                       reinterpret_cast<LPARAM>(this));
}

HWND CDialogBase::Create(HWND parent) {
  modal_ = false;
  if (UsesCommonControls()) InitCommonControlsForDialogs();
  return CreateDialogLang(instance_, templateId_, parent, &CDialogBase::StaticProc,
                          reinterpret_cast<LPARAM>(this));
}

std::string CDialogBase::ItemText(int id) const {
  HWND item = Item(id);
  if (!item) return {};
  int length = GetWindowTextLengthW(item);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(item, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return Narrow(text);
}

void CDialogBase::SetItemText(int id, const std::string& utf8) {
  SetDlgItemTextW(hwnd_, id, Widen(utf8).c_str());
}

void CDialogBase::SetProgramIcon(std::string_view appType, int normalId, int alternativeId) {
  icons_ = SetProgramIcons(hwnd_, instance_, appType, normalId, alternativeId);
  minimizedIcon_ = icons_.bigIcon.get();
}

bool CDialogBase::PaintMinimized() {
  if (!minimizedIcon_ || !IsIconic(hwnd_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, minimizedIcon_);
  EndPaint(hwnd_, &paint);
  return true;
}

bool CDialogBase::OnCommand(int id, int, HWND) {
  if (id == IDOK || id == IDCANCEL) {
    End(id);
    return true;
  }
  return false;
}

void CDialogBase::End(INT_PTR result) {
  if (modal_)
    EndDialog(hwnd_, result);
  else
    DestroyWindow(hwnd_);
}

INT_PTR CALLBACK CDialogBase::StaticProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDialogBase* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogBase*>(lp);
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  INT_PTR result = self->Proc(msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

INT_PTR CDialogBase::Proc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      return OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp)) ? TRUE : FALSE;
    case WM_TIMER:
      return OnTimer(static_cast<UINT_PTR>(wp)) ? TRUE : FALSE;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(reinterpret_cast<NMHDR*>(lp), result)) {
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
    }
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_PAINT:
      if (PaintMinimized()) return TRUE;
      break;
    case WM_QUERYDRAGICON:
      // One of the messages whose dialog-procedure result is the answer itself.
      if (minimizedIcon_) return reinterpret_cast<INT_PTR>(minimizedIcon_);
      break;
    default:
      break;
  }
  INT_PTR result = FALSE;
  return OnMessage(msg, wp, lp, result) ? result : FALSE;
}

}  // namespace edms::win
