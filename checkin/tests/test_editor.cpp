// Stand-in editor for the end-to-end tests:
//   checkin_test_editor.exe [--file PATH] [--share read|none] [--title TEXT] [--child TEXT]
// holds PATH open (shared for reading only, so nobody can delete it or open it exclusively;
// with --share none nobody can open it at all), shows a window titled TEXT and, with --child,
// a child control whose text is TEXT there instead. Runs until its window is closed.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/win/handles.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring file, title = L"Stand-in editor", child;
  DWORD share = FILE_SHARE_READ;
  for (int i = 1; argv && i + 1 < argc; i += 2) {
    std::wstring key = argv[i];
    if (key == L"--file") file = argv[i + 1];
    if (key == L"--title") title = argv[i + 1];
    if (key == L"--child") child = argv[i + 1];
    if (key == L"--share" && std::wstring(argv[i + 1]) == L"none") share = 0;
  }
  if (argv) LocalFree(argv);

  edms::win::UniqueKernelHandle held;
  if (!file.empty()) {
    held.reset(CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) return 2;
  }

  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"CheckInTestEditor";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 400, 200, nullptr, nullptr,
                                instance, nullptr);
  if (!window) return 3;
  if (!child.empty()) {
    CreateWindowExW(0, L"STATIC", child.c_str(), WS_CHILD | WS_VISIBLE, 10, 10, 360, 20, window,
                    nullptr, instance, nullptr);
  }
  ShowWindow(window, SW_SHOWNOACTIVATE);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
