// Starting the system's programs and documents from the agent and waiting for them.
// Paths and texts are UTF-8; nothing here throws.
#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/checkout_cycle.h"

namespace edms {

// The folder of the running executable (its full path cut before the last '\'); empty when
// the path cannot be read.
std::string GetAgentFolder();

// Starts `file` through the shell with `verb`, `parameters` as they stand, no owner window,
// no working folder, and waits without time limit for the process to end. Its exit code, or
// -1 when it could not be started (or gave no process to wait for).
int RunProgramAndWait(const std::string& verb, const std::string& file, const std::string& parameters,
                      int showMode = SW_SHOW);

// The argument string enclosed in one pair of double quotes, so it reaches the program as
// one argument whatever blanks it holds.
std::string QuoteArgument(std::string_view argumentString);

// Last-write time and 64-bit size of an existing file; nullopt when either cannot be read.
// Does not open the file, so an editor's sharing mode cannot hide the stamp.
std::optional<FileStamp> GetFileStamp(const std::string& path);

// True when a process with this id exists (process snapshot; closed in every case).
bool IsProcessRunning(DWORD processId);

// Depth first over the children of `parent` (the top-level windows when null) in the system's
// order: the first window whose class name contains `classPart` (when not empty) and whose
// title contains `titlePart` (when not empty). Both parts empty match nothing. Null when none.
HWND FindWindowByText(HWND parent, std::string_view classPart, std::string_view titlePart);

// Opens the document in its editor and returns when the editor is gone: the started process
// and, when the document's window then belongs to another (already running) process, that
// one too. The window found within 5.5 s is brought to the top. 0, or the system error code
// when the document could not be started (ERROR_FILE_NOT_FOUND for an empty path).
DWORD OpenDocumentAndWait(const std::string& path);

}  // namespace edms
