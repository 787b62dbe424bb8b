// The shell's icons for document names, from the system's file-icon image lists.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace edms::workingdocs {

// The system's small and large file-icon lists. Every program shares them: never destroy them,
// and give them to a list view only with LVS_SHAREIMAGELISTS.
struct SystemImageLists {
  HIMAGELIST small = nullptr;
  HIMAGELIST large = nullptr;
};
SystemImageLists GetSystemImageLists();

// The index in those lists of the icon for a document named `name`, by its extension alone,
// as for an ordinary file that need not exist (a name without a dot gets the icon of a file
// without extension); 0 when the shell gives none.
int FileIconIndex(const std::string& name);

}  // namespace edms::workingdocs
