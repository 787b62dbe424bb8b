#include "common/win/window_search.h"

#include "common/win/text.h"

namespace edms::win {
namespace {

struct Search {
  std::wstring fragment;
  HWND skip = nullptr;
  HWND found = nullptr;
};

bool TitleContains(HWND window, const std::wstring& fragment) {
  // A window of another process answers from its stored caption without a message, so a
  // hung editor cannot block the search.
  int length = GetWindowTextLengthW(window);
  if (length < static_cast<int>(fragment.size())) return false;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), length + 1);
  if (got <= 0) return false;
  text.resize(static_cast<size_t>(got));
  return text.find(fragment) != std::wstring::npos;
}

BOOL CALLBACK VisitChild(HWND window, LPARAM param);

// The window itself, then its children depth first.
bool Visit(HWND window, Search& search) {
  if (TitleContains(window, search.fragment)) {
    search.found = window;
    return false;
  }
  EnumChildWindows(window, &VisitChild, reinterpret_cast<LPARAM>(&search));
  return search.found == nullptr;
}

BOOL CALLBACK VisitChild(HWND window, LPARAM param) {
  // EnumChildWindows already walks the whole subtree: only the window itself is checked.
  auto* search = reinterpret_cast<Search*>(param);
  if (TitleContains(window, search->fragment)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (window == search->skip) return TRUE;
  return Visit(window, *search) ? TRUE : FALSE;
}

}  // namespace

HWND FindWindowWithTitleContaining(std::string_view fragment, HWND skip) {
  Search search;
  search.fragment = Widen(fragment);
  search.skip = skip;
  if (search.fragment.empty()) return nullptr;
  EnumWindows(&VisitTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string WindowTitle(HWND window) {
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return Narrow(text);
}

}  // namespace edms::win
