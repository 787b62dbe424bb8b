// Finding windows by a piece of their title or class name: the editor that shows a document
// (editors show the file name, which carries "(" + document id + ")"), a program's own window.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace edms::win {

// Depth first over the descendants of `parent` (every top-level window and its descendants
// when null), in the system's order: the first window whose class name contains `classPart`
// (when not empty) and whose text contains `titlePart` (when not empty); case counts. Both
// parts empty match nothing. `skip` (may be null) is left out together with its descendants.
HWND FindWindowByText(HWND parent, std::string_view classPart, std::string_view titlePart, HWND skip = nullptr);

// FindWindowByText over every window, by title alone, leaving out `skip` (so a program does
// not find its own dialog).
HWND FindWindowWithTitleContaining(std::string_view fragment, HWND skip = nullptr);

// The whole text of a window in UTF-8, however long.
std::string WindowTitle(HWND window);

}  // namespace edms::win
