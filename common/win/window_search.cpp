#include "common/win/window_search.h"

#include "common/win/text.h"

namespace edms::win {
namespace {

struct Search {
  std::wstring classPart;
  std::wstring titlePart;
  HWND skip = nullptr;
  HWND found = nullptr;
};

// The stored caption, read without a message, however long.
std::wstring StoredCaption(HWND window) {
  std::wstring text(256, L'\0');
  for (;;) {
    const int got = InternalGetWindowText(window, text.data(), static_cast<int>(text.size()));
    if (got <= 0) return {};
    if (static_cast<size_t>(got) + 1 < text.size()) {
      text.resize(static_cast<size_t>(got));
      return text;
    }
    text.assign(text.size() * 2, L'\0');
  }
}

std::wstring TitleOf(HWND window) {
  // A window of another process answers from its stored caption without a message, so a
  // hung editor cannot block the search. A window of this process on another thread would
  // be sent WM_GETTEXT, and that thread may be busy in a transfer or waiting for this one
  // (at exit): its stored caption is read instead.
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && thread != GetCurrentThreadId()) return StoredCaption(window);
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

std::wstring ClassOf(HWND window) {
  // Class names are at most 256 characters.
  wchar_t name[257];
  int got = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return got > 0 ? std::wstring(name, static_cast<size_t>(got)) : std::wstring();
}

bool Matches(HWND window, const Search& search) {
  if (!search.titlePart.empty() && TitleOf(window).find(search.titlePart) == std::wstring::npos) return false;
  if (!search.classPart.empty() && ClassOf(window).find(search.classPart) == std::wstring::npos) return false;
  return true;
}

bool IsSkipped(HWND window, const Search& search) {
  return search.skip && (window == search.skip || IsChild(search.skip, window));
}

// EnumChildWindows walks the whole subtree depth first: each window is only checked here.
BOOL CALLBACK VisitDescendant(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (IsSkipped(window, *search) || !Matches(window, *search)) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (window == search->skip) return TRUE;
  if (Matches(window, *search)) {
    search->found = window;
    return FALSE;
  }
  EnumChildWindows(window, &VisitDescendant, param);
  return search->found ? FALSE : TRUE;
}

}  // namespace

HWND FindWindowByText(HWND parent, std::string_view classPart, std::string_view titlePart, HWND skip) {
  if (classPart.empty() && titlePart.empty()) return nullptr;
  Search search{Widen(classPart), Widen(titlePart), skip, nullptr};
  if (parent) {
    EnumChildWindows(parent, &VisitDescendant, reinterpret_cast<LPARAM>(&search));
  } else {
    EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(&search));
  }
  return search.found;
}

HWND FindWindowWithTitleContaining(std::string_view fragment, HWND skip) {
  return FindWindowByText(nullptr, {}, fragment, skip);
}

std::string WindowTitle(HWND window) { return Narrow(TitleOf(window)); }

}  // namespace edms::win
