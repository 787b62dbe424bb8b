// Opening a working copy in its editor and waiting for the user to be done with it.
#pragma once
#include <windows.h>

#include <string>

namespace edms {

// Opens the document in its editor and returns when the editor is gone: the started process
// and, when the document's window then belongs to another (already running) process, that
// one too. The window found within 5.5 s is brought to the top. 0, or the system error code
// when the document could not be started (ERROR_FILE_NOT_FOUND for an empty path).
DWORD OpenDocumentAndWait(const std::string& path);

// True while a process holds the document open (it cannot be opened for exclusive use) or a
// window names it (by the title rule above).
bool DocumentInUse(const std::string& path);

// Returns once DocumentInUse(path) is false: waits for the process of the window that names
// it, or looks again every half second.
void WaitWhileDocumentInUse(const std::string& path);

// Finds the editor window of `path` (by the title rule above) and brings it to the top; does
// nothing when there is none.
void BringEditorForward(const std::string& path);

// Opens the document in its editor and brings the editor's window to the top once it shows
// (searched for 5.5 s at most); does not wait for the editor. 0 or the system error code.
DWORD OpenDocument(const std::string& path);

}  // namespace edms
