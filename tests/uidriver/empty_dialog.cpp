// empty_dialog.exe: a modal dialog with one OK button and nothing else, the idle baseline the
// agent's benchmark measures beside the agent. The title is "Empty dialog" unless the first
// argument gives another. Ends when the dialog is closed.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// Appends a UTF-16 string (with its terminator) to an in-memory dialog template.
void PutString(std::vector<WORD>& t, const std::wstring& s) {
  for (wchar_t c : s) t.push_back(static_cast<WORD>(c));
  t.push_back(0);
}

void Align4(std::vector<WORD>& t) {
  if (t.size() % 2) t.push_back(0);
}

INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    EndDialog(hwnd, 0);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring title = (argv && argc > 1) ? argv[1] : L"Empty dialog";
  if (argv) LocalFree(argv);

  std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* dlg = reinterpret_cast<DLGTEMPLATE*>(t.data());
  dlg->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_CENTER;
  dlg->cdit = 1;
  dlg->cx = 160;
  dlg->cy = 60;
  t.push_back(0);  // no menu
  t.push_back(0);  // default class
  PutString(t, title);

  Align4(t);
  size_t at = t.size();
  t.resize(at + sizeof(DLGITEMTEMPLATE) / sizeof(WORD), 0);
  auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(t.data() + at);
  item->style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON;
  item->x = 55;
  item->y = 35;
  item->cx = 50;
  item->cy = 14;
  item->id = IDOK;
  t.push_back(0xFFFF);
  t.push_back(0x0080);  // button class
  PutString(t, L"OK");
  t.push_back(0);  // no creation data

  return static_cast<int>(DialogBoxIndirectParamW(instance, reinterpret_cast<DLGTEMPLATE*>(t.data()), nullptr,
                                                  Proc, 0));
}
