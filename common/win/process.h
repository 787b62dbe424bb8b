// Starting the system's programs and documents and waiting for processes. Paths and texts
// are UTF-8; nothing here throws.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "common/file_stamp.h"
#include "common/win/handles.h"

namespace edms::win {

// The folder of the running executable (its full path cut before the last '\'), where the
// system's programs stand side by side; empty when the path cannot be read.
std::string GetAgentFolder();

// The argument string enclosed in one pair of double quotes, so it reaches the program as
// one argument whatever blanks it holds.
std::string QuoteArgument(std::string_view argumentString);

// Starts `file` through the shell with `verb` and `parameters` as they stand, no owner
// window, no working folder, keeping the process. Null when it could not be started (the
// thread's last error says why) or gave no process (a document handed to an instance that was
// already running).
UniqueKernelHandle StartProgram(const std::string& verb, const std::string& file, const std::string& parameters,
                                int showMode = SW_SHOW);

// Opens `target` (a document or a web address) with the shell's "open" verb, the way the
// user's settings say (the default browser for a web address), without waiting for it. 0, or
// the system error code when the shell could not open it. `process`, when given, receives the
// process that was started (null when the shell handed the target to one already running).
DWORD OpenWithShell(const std::string& target, int showMode, UniqueKernelHandle* process = nullptr);

// Waits without time limit for the process to end: its exit code, or -1 when there is no
// process or its code cannot be read.
int WaitForExitCode(HANDLE process);

// The same, while the calling thread's window messages are dispatched so that its windows
// repaint. The caller keeps its windows from taking commands meanwhile (disables them). A
// quit message seen during the wait is posted again once the process has ended.
int WaitForExitCodeDispatching(HANDLE process);

// StartProgram, then WaitForExitCode; -1 when nothing was started.
int RunProgramAndWait(const std::string& verb, const std::string& file, const std::string& parameters,
                      int showMode = SW_SHOW);

// True when a process with this id exists and has not ended.
bool IsProcessRunning(DWORD processId);

// Waits until the process that shows `window` has ended. Returns at once when the window is
// gone or belongs to the calling process. The process is held by a handle opened while the
// window still belonged to it, so a reused process id is never waited for.
void WaitForWindowOwner(HWND window);

// Last-write time and 64-bit size of an existing file; nullopt when either cannot be read.
// Does not open the file, so an editor's sharing mode cannot hide the stamp.
std::optional<FileStamp> GetFileStamp(const std::string& path);

}  // namespace edms::win
