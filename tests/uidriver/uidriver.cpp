// uidriver.exe: drives the programs from outside like a user, for the end-to-end tests.
//
//   uidriver [--timeout MS] [--contains] SUBCOMMAND ARGS...
//
// Every output line is UTF-8 on stdout. Exit code 0 on success, 1 when the thing looked for
// did not show within the timeout or an operation failed (with a message on stderr), 2 on
// a usage error. Waits poll every 50 ms until --timeout (default 5000 ms).
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/win/file_version.h"
#include "common/win/handles.h"
#include "common/win/text.h"

namespace {

using edms::win::Narrow;
using edms::win::UniqueHKey;
using edms::win::Widen;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A loaded test machine can keep a healthy window from answering for a second or two.
constexpr UINT kCrossProcessTimeoutMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;

struct Options {
  DWORD timeoutMs = 5000;
  bool contains = false;
  bool byClass = false;  // TITLE names a class: the first shown window of that class
  std::optional<int> dismiss;
  std::wstring caption;  // msgbox: only boxes with this caption
  std::vector<std::wstring> args;
};

void Out(const std::string& line) {
  std::string s = line + "\n";
  fwrite(s.data(), 1, s.size(), stdout);
  fflush(stdout);
}

int Fail(const std::string& message) {
  std::string s = "uidriver: " + message + "\n";
  fwrite(s.data(), 1, s.size(), stderr);
  fflush(stderr);
  return kExitFailed;
}

int Usage(const std::string& message) {
  Fail(message);
  fputs(
      "usage: uidriver [--timeout MS] [--contains] [--class] COMMAND ARGS\n"
      "  wait-window TITLE | wait-gone TITLE | is-visible TITLE | list-windows\n"
      "  controls TITLE | text TITLE ID | set-text TITLE ID TEXT | type TITLE ID TEXT | click TITLE ID\n"
      "  check TITLE ID | command TITLE ID | close TITLE | screenshot TITLE FILE.bmp\n"
      "  post TITLE MESSAGE WPARAM LPARAM | key TITLE ID VK [COUNT]\n"
      "  msgbox [--caption TEXT] [--dismiss ID]\n"
      "  is-enabled TITLE ID | list-columns TITLE ID | list-rows TITLE ID\n"
      "  list-click TITLE ID ROW | list-dblclick TITLE ID ROW\n"
      "  reg-get KEY VALUE | reg-set KEY VALUE sz|dword DATA | reg-delete KEY [VALUE]\n"
      "  rows TITLE ID [COLUMNS]\n"
      "  file-version FILE NAME | try-open FILE\n",
      stderr);
  return kExitUsage;
}

std::string Hex(const void* p) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

// Decimal or 0x-prefixed hexadecimal; nullopt on anything else.
std::optional<long long> ParseNumber(const std::wstring& s) {
  if (s.empty()) return std::nullopt;
  wchar_t* end = nullptr;
  long long v = std::wcstoll(s.c_str(), &end, 0);
  if (end == nullptr || *end != L'\0') return std::nullopt;
  return v;
}

bool Poll(DWORD timeoutMs, const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The caption of a top-level window; reading it never sends a message to the owner.
std::wstring TitleOf(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  if (n <= 0) return {};
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(hwnd, s.data(), n + 1);
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return s;
}

std::wstring ClassOf(HWND hwnd) {
  std::wstring s(256, L'\0');  // class names are at most 256 characters
  int n = GetClassNameW(hwnd, s.data(), static_cast<int>(s.size()));
  s.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return s;
}

// The text of a control, possibly in another process: WM_GETTEXT is marshalled across
// processes, and a timeout keeps a hung owner from hanging the driver.
std::optional<std::wstring> ControlText(HWND hwnd) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs,
                           &len))
    return std::nullopt;
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()),
                           SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &got))
    return std::nullopt;
  s.resize(got <= len ? static_cast<size_t>(got) : static_cast<size_t>(len));
  return s;
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> all;
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

bool TitleMatches(const std::wstring& title, const std::wstring& wanted, bool contains) {
  return contains ? title.find(wanted) != std::wstring::npos : title == wanted;
}

HWND FindTop(const std::wstring& wanted, bool contains, bool byClass = false) {
  for (HWND h : TopLevelWindows()) {
    if (byClass ? IsWindowVisible(h) && ClassOf(h) == wanted : TitleMatches(TitleOf(h), wanted, contains)) return h;
  }
  return nullptr;
}

HWND WaitTop(const Options& o, const std::wstring& wanted) {
  HWND found = nullptr;
  Poll(o.timeoutMs, [&] { return (found = FindTop(wanted, o.contains, o.byClass)) != nullptr; });
  return found;
}

// A control by id: the window's own, else the first of its descendants with that id (the
// controls of a page dialog inside a wizard).
HWND FindControl(HWND window, int id) {
  if (HWND own = GetDlgItem(window, id)) return own;
  for (HWND c : ChildWindows(window))
    if (GetDlgCtrlID(c) == id) return c;
  return nullptr;
}

// A window and one of its controls by id, waiting for both.
struct Target {
  HWND window = nullptr;
  HWND control = nullptr;
};

std::optional<Target> WaitControl(const Options& o, const std::wstring& title, const std::wstring& idText,
                                  std::string* error) {
  auto id = ParseNumber(idText);
  if (!id) {
    *error = "control id is not a number: " + Narrow(idText);
    return std::nullopt;
  }
  Target t;
  bool ok = Poll(o.timeoutMs, [&] {
    t.window = FindTop(title, o.contains);
    t.control = t.window ? FindControl(t.window, static_cast<int>(*id)) : nullptr;
    return t.control != nullptr;
  });
  if (ok) return t;
  *error = t.window ? "no control " + Narrow(idText) + " in window \"" + Narrow(title) + "\""
                    : "no window \"" + Narrow(title) + "\"";
  return std::nullopt;
}

bool IsMessageBox(HWND h) {
  return ClassOf(h) == L"#32770" && GetDlgItem(h, kMessageBoxTextId) != nullptr;
}

// --- subcommands -------------------------------------------------------------------------------

int CmdWaitWindow(const Options& o) {
  if (o.args.size() != 1) return Usage("wait-window TITLE");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\" within " + std::to_string(o.timeoutMs) + " ms");
  Out(Narrow(TitleOf(h)));
  return kExitOk;
}

int CmdWaitGone(const Options& o) {
  if (o.args.size() != 1) return Usage("wait-gone TITLE");
  if (!Poll(o.timeoutMs, [&] { return FindTop(o.args[0], o.contains) == nullptr; }))
    return Fail("window \"" + Narrow(o.args[0]) + "\" still there after " + std::to_string(o.timeoutMs) + " ms");
  return kExitOk;
}

int CmdIsVisible(const Options& o) {
  if (o.args.size() != 1) return Usage("is-visible TITLE");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\"");
  Out(IsWindowVisible(h) ? "true" : "false");
  return kExitOk;
}

// One line per top-level window: handle, process id, class, visible (0/1), title.
int CmdListWindows(const Options& o) {
  if (!o.args.empty()) return Usage("list-windows takes no argument");
  for (HWND h : TopLevelWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    Out(Hex(h) + "\t" + std::to_string(pid) + "\t" + Narrow(ClassOf(h)) + "\t" +
        (IsWindowVisible(h) ? "1" : "0") + "\t" + Narrow(TitleOf(h)));
  }
  return kExitOk;
}

// One line per child control: id, class, visible (0/1), text.
int CmdControls(const Options& o) {
  if (o.args.size() != 1) return Usage("controls TITLE");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\"");
  for (HWND c : ChildWindows(h)) {
    auto text = ControlText(c);
    Out(std::to_string(GetDlgCtrlID(c)) + "\t" + Narrow(ClassOf(c)) + "\t" +
        (IsWindowVisible(c) ? "1" : "0") + "\t" + Narrow(text.value_or(L"")));
  }
  return kExitOk;
}

int CmdText(const Options& o) {
  if (o.args.size() != 2) return Usage("text TITLE ID");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  auto text = ControlText(t->control);
  if (!text) return Fail("the window did not answer WM_GETTEXT");
  Out(Narrow(*text));
  return kExitOk;
}

int CmdSetText(const Options& o) {
  if (o.args.size() != 3) return Usage("set-text TITLE ID TEXT");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(t->control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(o.args[2].c_str()),
                           SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &result) ||
      !result)
    return Fail("the control refused the text");
  return kExitOk;
}

// Character by character, as a keyboard would: unlike set-text, the control's own limits apply.
int CmdType(const Options& o) {
  if (o.args.size() != 3) return Usage("type TITLE ID TEXT");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  for (wchar_t ch : o.args[2]) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(t->control, WM_CHAR, ch, 1, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &result))
      return Fail("the control did not take a character");
  }
  return kExitOk;
}

// A push button's click reaches its dialog as one BN_CLICKED notification. BM_CLICK goes through
// the button's capture and focus first, and under Wine a focus change that lands in between (a
// box just closed, another program's window activated) ends the press without a notification:
// the click is lost and nothing says so. Check boxes and radio buttons keep BM_CLICK, which also
// turns their state.
bool IsPushButton(HWND control) {
  if (_wcsicmp(ClassOf(control).c_str(), L"Button") != 0) return false;
  const LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// Posted, not sent: a click that opens a modal window must not block the driver.
// Only once the window is shown, as a user sees it first: a modal dialog shows itself when its
// queue first runs empty, and a click that lands before that and starts a long run inside its
// handler would keep the window hidden for the whole run.
int CmdClick(const Options& o) {
  if (o.args.size() != 2) return Usage("click TITLE ID");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  if (!Poll(o.timeoutMs, [&] { return IsWindowVisible(t->window) != FALSE; }))
    return Fail("the window \"" + Narrow(o.args[0]) + "\" is not shown");
  if (!Poll(o.timeoutMs, [&] { return IsWindowEnabled(t->control) != FALSE; }))
    return Fail("control " + Narrow(o.args[1]) + " is disabled");
  const bool posted =
      IsPushButton(t->control)
          ? PostMessageW(GetParent(t->control), WM_COMMAND,
                         MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(t->control)), BN_CLICKED),
                         reinterpret_cast<LPARAM>(t->control))
          : PostMessageW(t->control, BM_CLICK, 0, 0);
  if (!posted) return Fail("PostMessage failed");
  return kExitOk;
}

int CmdCheck(const Options& o) {
  if (o.args.size() != 2) return Usage("check TITLE ID");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutW(t->control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &state))
    return Fail("the control did not answer BM_GETCHECK");
  Out(state == BST_CHECKED ? "checked" : state == BST_INDETERMINATE ? "indeterminate" : "unchecked");
  return kExitOk;
}

// A menu or accelerator command posted to the window, as a tray menu choice arrives.
int CmdCommand(const Options& o) {
  if (o.args.size() != 2) return Usage("command TITLE ID");
  auto id = ParseNumber(o.args[1]);
  if (!id) return Usage("command id is not a number");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\"");
  if (!PostMessageW(h, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(*id), 0), 0)) return Fail("PostMessage failed");
  return kExitOk;
}

// Any message posted to the window, as the system would post it (a timer's tick, the tray
// icon's notification). Numbers are decimal or 0x-hexadecimal.
int CmdPost(const Options& o) {
  if (o.args.size() != 4) return Usage("post TITLE MESSAGE WPARAM LPARAM");
  auto message = ParseNumber(o.args[1]), wParam = ParseNumber(o.args[2]), lParam = ParseNumber(o.args[3]);
  if (!message || !wParam || !lParam) return Usage("post takes numbers");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\"");
  if (!PostMessageW(h, static_cast<UINT>(*message), static_cast<WPARAM>(*wParam), static_cast<LPARAM>(*lParam)))
    return Fail("PostMessage failed");
  return kExitOk;
}

// Key presses on a control (down, then up), as the keyboard sends them to the focused one.
int CmdKey(const Options& o) {
  if (o.args.size() != 3 && o.args.size() != 4) return Usage("key TITLE ID VK [COUNT]");
  auto vk = ParseNumber(o.args[2]);
  auto count = o.args.size() == 4 ? ParseNumber(o.args[3]) : std::optional<long long>(1);
  if (!vk || !count || *count < 1) return Usage("key takes a virtual-key number and a count of at least 1");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  const UINT scan = MapVirtualKeyW(static_cast<UINT>(*vk), MAPVK_VK_TO_VSC);
  for (long long i = 0; i < *count; ++i) {
    if (!PostMessageW(t->control, WM_KEYDOWN, static_cast<WPARAM>(*vk), 1 | (scan << 16)) ||
        !PostMessageW(t->control, WM_KEYUP, static_cast<WPARAM>(*vk), 1 | (scan << 16) | 0xC0000000u))
      return Fail("PostMessage failed");
  }
  return kExitOk;
}

int CmdClose(const Options& o) {
  if (o.args.size() != 1) return Usage("close TITLE");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\"");
  if (!PostMessageW(h, WM_CLOSE, 0, 0)) return Fail("PostMessage failed");
  return kExitOk;
}

// Prints the caption, then the text (which may span lines) of the first message box; with
// --dismiss presses that button and waits until the box has gone.
int CmdMsgBox(const Options& o) {
  if (!o.args.empty()) return Usage("msgbox [--caption TEXT] [--dismiss ID]");
  HWND box = nullptr;
  Poll(o.timeoutMs, [&] {
    for (HWND h : TopLevelWindows()) {
      if (IsMessageBox(h) && (o.caption.empty() || TitleOf(h) == o.caption)) {
        box = h;
        return true;
      }
    }
    return false;
  });
  if (!box) return Fail("no message box within " + std::to_string(o.timeoutMs) + " ms");
  auto text = ControlText(GetDlgItem(box, kMessageBoxTextId));
  Out(Narrow(TitleOf(box)));
  Out(Narrow(text.value_or(L"")));
  if (o.dismiss) {
    HWND button = GetDlgItem(box, *o.dismiss);
    if (!button) return Fail("the message box has no button " + std::to_string(*o.dismiss));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(*o.dismiss), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    if (!Poll(o.timeoutMs, [&] { return !IsWindow(box); })) return Fail("the message box stayed open");
  }
  return kExitOk;
}

// One capture of a window into a 32-bit top-down-addressed DIB; the GDI objects go with it.
class WindowCapture {
 public:
  WindowCapture(int w, int h) : w_(w), h_(h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    header_ = bi.bmiHeader;
    mem_ = CreateCompatibleDC(nullptr);
    if (mem_) bmp_ = CreateDIBSection(mem_, &bi, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (bmp_) old_ = SelectObject(mem_, bmp_);
  }
  ~WindowCapture() {
    if (old_) SelectObject(mem_, old_);
    if (bmp_) DeleteObject(bmp_);
    if (mem_) DeleteDC(mem_);
  }
  WindowCapture(const WindowCapture&) = delete;
  WindowCapture& operator=(const WindowCapture&) = delete;

  bool ok() const { return bits_ != nullptr; }
  size_t size() const { return static_cast<size_t>(w_) * static_cast<size_t>(h_) * 4; }
  const BITMAPINFOHEADER& header() const { return header_; }
  const unsigned char* bits() const { return static_cast<const unsigned char*>(bits_); }

  // Copies what the window shows now. Under Wine the window's DC reads back what X shows at
  // the window's place, another window lying over it included; the screen is the fallback
  // when that DC gives nothing.
  void Take(HWND hwnd, const RECT& screenRect) {
    std::fill_n(static_cast<unsigned char*>(bits_), size(), 0);
    if (HDC wdc = GetWindowDC(hwnd)) {
      BitBlt(mem_, 0, 0, w_, h_, wdc, 0, 0, SRCCOPY);
      ReleaseDC(hwnd, wdc);
    }
    GdiFlush();
    if (!Uniform()) return;
    if (HDC sdc = GetDC(nullptr)) {
      BitBlt(mem_, 0, 0, w_, h_, sdc, screenRect.left, screenRect.top, SRCCOPY);
      ReleaseDC(nullptr, sdc);
    }
    GdiFlush();
  }

  // True when every pixel has one colour: nothing has been drawn yet.
  bool Uniform() const {
    const auto* p = static_cast<const uint32_t*>(bits_);
    const size_t n = size() / 4;
    for (size_t i = 1; i < n; ++i)
      if ((p[i] & 0xFFFFFFu) != (p[0] & 0xFFFFFFu)) return false;
    return true;
  }

 private:
  int w_, h_;
  BITMAPINFOHEADER header_{};
  HDC mem_ = nullptr;
  HBITMAP bmp_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

// The window's pixels in a 32-bit DIB, written as a bottom-up BMP. A Unix path is taken through
// the Z: drive, which the Wine prefix maps to the root.
//
// A window of another process cannot be made to print itself here (WM_PRINT and PrintWindow
// do not cross processes under Wine: the bitmap stays as it was), so its pixels are copied once
// it is visible and has painted: the capture is repeated until two in a row agree and show more
// than one colour. It is brought to the top for that, without being activated, and put back in
// its place after. The title bar and frame are in the picture because scripts/wine leaves the
// windows on its Xvfb unmanaged, so Wine draws them; a managed window has them from a window
// manager, outside Wine's X window, and with none there they come out black.
// Fails, writing nothing, when the window stays hidden or blank for the whole timeout.
int CmdScreenshot(const Options& o) {
  if (o.args.size() != 2) return Usage("screenshot TITLE FILE.bmp");
  HWND h = WaitTop(o, o.args[0]);
  if (!h) return Fail("no window \"" + Narrow(o.args[0]) + "\"");
  if (!Poll(o.timeoutMs, [&] { return IsWindowVisible(h) && !IsIconic(h); }))
    return Fail("the window \"" + Narrow(o.args[0]) + "\" is not shown");
  RECT r{};
  GetWindowRect(h, &r);
  int w = r.right - r.left, ht = r.bottom - r.top;
  if (w <= 0 || ht <= 0) return Fail("the window has no area");

  WindowCapture shot(w, ht), previous(w, ht);
  if (!shot.ok() || !previous.ok()) return Fail("cannot create the bitmap");

  // Asynchronous, as a hung owner must not hold the driver: the WM_NULL below waits for it.
  constexpr UINT kRestack = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS;
  HWND above = GetWindow(h, GW_HWNDPREV);
  if (above) SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, kRestack);

  // Ask for a full repaint, frame and children included, and let the owner's thread run it.
  RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &ignored);

  bool settled = Poll(o.timeoutMs, [&] {
    previous.Take(h, r);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    shot.Take(h, r);
    return !shot.Uniform() && std::memcmp(shot.bits(), previous.bits(), shot.size()) == 0;
  });
  // Back under the window that was above it; a window of the other (topmost or not) band there
  // would move this one into that band instead.
  auto topmost = [](HWND w) { return (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
  if (above && IsWindow(above) && topmost(above) == topmost(h)) SetWindowPos(h, above, 0, 0, 0, 0, kRestack);
  if (!settled) {
    if (shot.Uniform()) return Fail("the window \"" + Narrow(o.args[0]) + "\" shows nothing");
    // Still changing (a progress bar, a caret): the last capture is as good as any.
  }

  const DWORD imageSize = static_cast<DWORD>(shot.size());
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;  // "BM"
  fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  fh.bfSize = fh.bfOffBits + imageSize;

  std::wstring path = o.args[1];
  if (!path.empty() && path[0] == L'/') {
    for (auto& c : path)
      if (c == L'/') c = L'\\';
    path = L"Z:" + path;
  }
  edms::win::UniqueKernelHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), &fh, sizeof fh, &written, nullptr) ||
      !WriteFile(file.get(), &shot.header(), sizeof(BITMAPINFOHEADER), &written, nullptr) ||
      !WriteFile(file.get(), shot.bits(), imageSize, &written, nullptr) || written != imageSize)
    return Fail("cannot write " + Narrow(o.args[1]));
  Out(std::to_string(w) + "x" + std::to_string(ht));
  return kExitOk;
}

// --- a file's version resource, looked up as the agent's update looks up the publisher ----------

int CmdFileVersion(const Options& o) {
  if (o.args.size() != 2) return Usage("file-version FILE NAME");
  std::optional<std::string> value = edms::win::GetVersionString(Narrow(o.args[0]), Narrow(o.args[1]));
  if (!value) return Fail("no version value " + Narrow(o.args[1]) + " in " + Narrow(o.args[0]));
  Out(*value);
  return kExitOk;
}

// --- whether another process may change a file: opens it to write, and to delete ----------------

int CmdTryOpen(const Options& o) {
  if (o.args.size() != 1) return Usage("try-open FILE");
  const struct {
    const char* what;
    DWORD access;
  } tries[] = {{"write", GENERIC_WRITE}, {"delete", DELETE}};
  for (const auto& t : tries) {
    edms::win::UniqueKernelHandle file(CreateFileW(o.args[0].c_str(), t.access,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Out(std::string(t.what) + (file ? " opened" : " refused " + std::to_string(GetLastError())));
  }
  return kExitOk;
}

// --- list views: their messages carry pointers, so the driver works in the owner's memory ----

// Memory in the process that owns a window, released again on destruction.
class RemoteMemory {
 public:
  RemoteMemory(HWND window, size_t size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (process_) address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteMemory() {
    if (address_) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  bool ok() const { return address_ != nullptr; }
  char* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(size_t offset, const void* data, size_t size) {
    SIZE_T done = 0;
    return WriteProcessMemory(process_.get(), At(offset), data, size, &done) && done == size;
  }
  bool Read(size_t offset, void* data, size_t size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process_.get(), At(offset), data, size, &done) && done == size;
  }

 private:
  edms::win::UniqueKernelHandle process_;
  void* address_ = nullptr;
};

std::optional<LRESULT> Ask(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wp, lp, SMTO_ABORTIFHUNG, kCrossProcessTimeoutMs, &result))
    return std::nullopt;
  return static_cast<LRESULT>(result);
}

// One cell's whole text, however long.
std::optional<std::wstring> CellText(HWND list, int row, int column) {
  for (size_t capacity = 256; capacity <= (1u << 22); capacity *= 4) {
    RemoteMemory memory(list, sizeof(LVITEMW) + capacity * sizeof(wchar_t));
    if (!memory.ok()) return std::nullopt;
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(memory.At(sizeof(LVITEMW)));
    item.cchTextMax = static_cast<int>(capacity);
    if (!memory.Write(0, &item, sizeof item)) return std::nullopt;
    auto length = Ask(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(memory.At(0)));
    if (!length) return std::nullopt;
    // A text that filled the buffer may have been cut: ask again with more room.
    if (static_cast<size_t>(*length) + 1 >= capacity) continue;
    std::wstring text(static_cast<size_t>(*length), L'\0');
    if (!text.empty() && !memory.Read(sizeof(LVITEMW), text.data(), text.size() * sizeof(wchar_t)))
      return std::nullopt;
    return text;
  }
  return std::nullopt;
}

std::optional<std::wstring> ColumnCaption(HWND list, int column) {
  constexpr size_t kCapacity = 1024;
  RemoteMemory memory(list, sizeof(LVCOLUMNW) + kCapacity * sizeof(wchar_t));
  if (!memory.ok()) return std::nullopt;
  LVCOLUMNW lv{};
  lv.mask = LVCF_TEXT;
  lv.pszText = reinterpret_cast<LPWSTR>(memory.At(sizeof(LVCOLUMNW)));
  lv.cchTextMax = static_cast<int>(kCapacity);
  if (!memory.Write(0, &lv, sizeof lv)) return std::nullopt;
  auto ok = Ask(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(memory.At(0)));
  std::wstring text(kCapacity, L'\0');
  if (!ok || !*ok || !memory.Read(sizeof(LVCOLUMNW), text.data(), text.size() * sizeof(wchar_t)))
    return std::nullopt;
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

std::optional<int> ColumnCount(HWND list) {
  auto header = Ask(list, LVM_GETHEADER, 0, 0);
  if (!header || !*header) return std::nullopt;
  auto count = Ask(reinterpret_cast<HWND>(*header), HDM_GETITEMCOUNT, 0, 0);
  if (!count || *count < 0) return std::nullopt;
  return static_cast<int>(*count);
}

int CmdListColumns(const Options& o) {
  if (o.args.size() != 2) return Usage("list-columns TITLE ID");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  auto columns = ColumnCount(t->control);
  if (!columns) return Fail("the control is not a list view with a header");
  for (int c = 0; c < *columns; ++c) {
    auto caption = ColumnCaption(t->control, c);
    if (!caption) return Fail("cannot read column " + std::to_string(c));
    Out(Narrow(*caption));
  }
  return kExitOk;
}

// One line per row: 1 when it is selected, else 0, then the text of every column (tabs).
int CmdListRows(const Options& o) {
  if (o.args.size() != 2) return Usage("list-rows TITLE ID");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  auto columns = ColumnCount(t->control);
  auto rows = Ask(t->control, LVM_GETITEMCOUNT, 0, 0);
  if (!columns || !rows) return Fail("the control is not a list view with a header");
  for (int r = 0; r < static_cast<int>(*rows); ++r) {
    auto state = Ask(t->control, LVM_GETITEMSTATE, static_cast<WPARAM>(r), LVIS_SELECTED);
    std::string line = state && (*state & LVIS_SELECTED) ? "1" : "0";
    for (int c = 0; c < *columns; ++c) {
      auto text = CellText(t->control, r, c);
      if (!text) return Fail("cannot read row " + std::to_string(r) + " column " + std::to_string(c));
      line += "\t" + Narrow(*text);
    }
    Out(line);
  }
  return kExitOk;
}

// rows TITLE ID [COLUMNS]: one line per row, the texts of columns 0 .. COLUMNS-1 (default 2)
// joined by tabs; for lists without a header (an owner-drawn list keeps its texts too).
int CmdRows(const Options& o) {
  if (o.args.size() != 2 && o.args.size() != 3) return Usage("rows TITLE ID [COLUMNS]");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  auto columns = o.args.size() == 3 ? ParseNumber(o.args[2]) : std::optional<long long>(2);
  if (!columns || *columns < 1 || *columns > 64) return Usage("COLUMNS must be 1..64");
  auto rows = Ask(t->control, LVM_GETITEMCOUNT, 0, 0);
  if (!rows) return Fail("the list did not answer LVM_GETITEMCOUNT");
  for (int r = 0; r < static_cast<int>(*rows); ++r) {
    std::string line;
    for (int c = 0; c < *columns; ++c) {
      auto text = CellText(t->control, r, c);
      if (!text) return Fail("cannot read row " + std::to_string(r));
      line += (c ? "\t" : "") + Narrow(*text);
    }
    Out(line);
  }
  return kExitOk;
}

// Posts the mouse messages of a click (or a double click) on the row's label, as a user's
// would arrive: the list selects the row and tells its parent (NM_CLICK, NM_DBLCLK).
int ClickRow(const Options& o, bool twice) {
  if (o.args.size() != 3) return Usage(twice ? "list-dblclick TITLE ID ROW" : "list-click TITLE ID ROW");
  auto row = ParseNumber(o.args[2]);
  if (!row || *row < 0) return Usage("ROW must be a row number from 0");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  HWND list = t->control;
  if (!Poll(o.timeoutMs, [&] { return IsWindowEnabled(list) != FALSE; }))
    return Fail("the list " + Narrow(o.args[1]) + " is disabled");
  auto rows = Ask(list, LVM_GETITEMCOUNT, 0, 0);
  if (!rows || *row >= *rows) return Fail("the list has no row " + Narrow(o.args[2]));
  Ask(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(*row), FALSE);
  RemoteMemory memory(list, sizeof(RECT));
  RECT rect{};
  rect.left = LVIR_LABEL;
  if (!memory.ok() || !memory.Write(0, &rect, sizeof rect)) return Fail("cannot reach the list's process");
  auto got = Ask(list, LVM_GETITEMRECT, static_cast<WPARAM>(*row), reinterpret_cast<LPARAM>(memory.At(0)));
  if (!got || !*got || !memory.Read(0, &rect, sizeof rect)) return Fail("cannot find row " + Narrow(o.args[2]));
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  bool posted = PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at) && PostMessageW(list, WM_LBUTTONUP, 0, at);
  if (twice) posted = posted && PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at) && PostMessageW(list, WM_LBUTTONUP, 0, at);
  if (!posted) return Fail("PostMessage failed");
  return kExitOk;
}

int CmdListClick(const Options& o) { return ClickRow(o, false); }
int CmdListDblClick(const Options& o) { return ClickRow(o, true); }

int CmdIsEnabled(const Options& o) {
  if (o.args.size() != 2) return Usage("is-enabled TITLE ID");
  std::string error;
  auto t = WaitControl(o, o.args[0], o.args[1], &error);
  if (!t) return Fail(error);
  Out(IsWindowEnabled(t->control) ? "true" : "false");
  return kExitOk;
}

// --- registry, under HKEY_CURRENT_USER --------------------------------------------------------

int CmdRegGet(const Options& o) {
  if (o.args.size() != 2) return Usage("reg-get KEY VALUE");
  UniqueHKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, o.args[0].c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return Fail("no key HKCU\\" + Narrow(o.args[0]));
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.get(), o.args[1].c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return Fail("no value " + Narrow(o.args[1]));
  std::vector<BYTE> data(size + sizeof(wchar_t));
  if (RegQueryValueExW(key.get(), o.args[1].c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
    return Fail("cannot read value " + Narrow(o.args[1]));
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    Out(Narrow(s));
  } else if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD v = 0;
    memcpy(&v, data.data(), sizeof v);
    Out(std::to_string(v));
  } else {
    return Fail("value " + Narrow(o.args[1]) + " has type " + std::to_string(type) + ", not sz or dword");
  }
  return kExitOk;
}

int CmdRegSet(const Options& o) {
  if (o.args.size() != 4) return Usage("reg-set KEY VALUE sz|dword DATA");
  UniqueHKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, o.args[0].c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return Fail("cannot create key HKCU\\" + Narrow(o.args[0]));
  LONG rc;
  if (o.args[2] == L"sz") {
    const std::wstring& s = o.args[3];
    rc = RegSetValueExW(key.get(), o.args[1].c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                        static_cast<DWORD>((s.size() + 1) * sizeof(wchar_t)));
  } else if (o.args[2] == L"dword") {
    auto v = ParseNumber(o.args[3]);
    if (!v || *v < 0 || *v > 0xFFFFFFFFLL) return Usage("dword data must be a number from 0 to 0xFFFFFFFF");
    DWORD d = static_cast<DWORD>(*v);
    rc = RegSetValueExW(key.get(), o.args[1].c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
  } else {
    return Usage("type must be sz or dword");
  }
  if (rc != ERROR_SUCCESS) return Fail("cannot write value " + Narrow(o.args[1]));
  return kExitOk;
}

// Deletes one value, or the whole key with its subkeys. Deleting what is not there succeeds:
// tests use it to reach a known state.
int CmdRegDelete(const Options& o) {
  if (o.args.empty() || o.args.size() > 2) return Usage("reg-delete KEY [VALUE]");
  if (o.args.size() == 2) {
    UniqueHKey key;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, o.args[0].c_str(), 0, KEY_SET_VALUE, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) return kExitOk;
    if (rc != ERROR_SUCCESS) return Fail("cannot open key HKCU\\" + Narrow(o.args[0]));
    rc = RegDeleteValueW(key.get(), o.args[1].c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return Fail("cannot delete value " + Narrow(o.args[1]));
    return kExitOk;
  }
  LONG rc = RegDeleteTreeW(HKEY_CURRENT_USER, o.args[0].c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return Fail("cannot delete key HKCU\\" + Narrow(o.args[0]));
  return kExitOk;
}

int Run(int argc, wchar_t** argv) {
  Options o;
  std::wstring command;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto next = [&]() -> std::optional<std::wstring> {
      if (i + 1 >= argc) return std::nullopt;
      return std::wstring(argv[++i]);
    };
    if (a == L"--timeout") {
      auto v = next();
      auto n = v ? ParseNumber(*v) : std::nullopt;
      if (!n || *n < 0) return Usage("--timeout needs a number of milliseconds");
      o.timeoutMs = static_cast<DWORD>(*n);
    } else if (a == L"--contains") {
      o.contains = true;
    } else if (a == L"--class") {
      o.byClass = true;
    } else if (a == L"--dismiss") {
      auto v = next();
      auto n = v ? ParseNumber(*v) : std::nullopt;
      if (!n) return Usage("--dismiss needs a button id");
      o.dismiss = static_cast<int>(*n);
    } else if (a == L"--caption") {
      auto v = next();
      if (!v) return Usage("--caption needs a text");
      o.caption = *v;
    } else if (command.empty()) {
      command = a;
    } else {
      o.args.push_back(a);
    }
  }
  struct Entry {
    const wchar_t* name;
    int (*fn)(const Options&);
  };
  static const Entry kCommands[] = {
      {L"wait-window", CmdWaitWindow}, {L"wait-gone", CmdWaitGone},   {L"is-visible", CmdIsVisible},
      {L"list-windows", CmdListWindows}, {L"controls", CmdControls},  {L"text", CmdText},
      {L"set-text", CmdSetText},       {L"type", CmdType},            {L"click", CmdClick},
      {L"check", CmdCheck},
      {L"command", CmdCommand},        {L"close", CmdClose},          {L"msgbox", CmdMsgBox},
      {L"screenshot", CmdScreenshot},  {L"reg-get", CmdRegGet},       {L"reg-set", CmdRegSet},
      {L"reg-delete", CmdRegDelete},   {L"post", CmdPost},            {L"key", CmdKey},
      {L"is-enabled", CmdIsEnabled},   {L"list-columns", CmdListColumns}, {L"list-rows", CmdListRows},
      {L"list-click", CmdListClick},   {L"list-dblclick", CmdListDblClick},
      {L"rows", CmdRows},
      {L"file-version", CmdFileVersion}, {L"try-open", CmdTryOpen},
  };
  if (command.empty()) return Usage("no command");
  for (const auto& e : kCommands)
    if (command == e.name) return e.fn(o);
  return Usage("unknown command " + Narrow(command));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Bytes exactly as written: no CRLF translation, no code page.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(std::string("unexpected error: ") + e.what());
  }
}
