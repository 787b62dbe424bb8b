// Finding a window by a piece of its title, as a sign that a document is still open in an
// editor (editors show the file name, which carries "(" + document id + ")").
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace edms::win {

// The first window whose whole text contains `fragment` (case-sensitive): the top-level
// windows in Z order and, depth first, every child of each. `skip` (may be null) is left
// out together with all its children, so a program does not find its own dialog. Null
// when there is none or `fragment` is empty.
HWND FindWindowWithTitleContaining(std::string_view fragment, HWND skip = nullptr);

// The whole text of a window in UTF-8, however long.
std::string WindowTitle(HWND window);

}  // namespace edms::win
