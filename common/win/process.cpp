#include "common/win/process.h"

#include <shellapi.h>

#include "common/win/message_pump.h"
#include "common/win/text.h"

namespace edms::win {

std::string GetAgentFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD got = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (got == 0) return {};
    if (got < path.size()) {
      path.resize(got);
      break;
    }
    path.resize(path.size() * 2);  // long paths: the name was cut, ask again
  }
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::string() : Narrow(path.substr(0, slash));
}

std::string QuoteArgument(std::string_view argumentString) { return "\"" + std::string(argumentString) + "\""; }

namespace {

// ShellExecuteExW, keeping the process in `process` when given. False, with the thread's last
// error set, when nothing was started.
bool ShellStart(const std::string& verb, const std::string& file, const std::string& parameters, int showMode,
                UniqueKernelHandle* process) {
  if (file.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  const std::wstring wideVerb = Widen(verb), wideFile = Widen(file), wideParameters = Widen(parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | (process ? SEE_MASK_NOCLOSEPROCESS : 0);
  info.lpVerb = wideVerb.c_str();
  info.lpFile = wideFile.c_str();
  info.lpParameters = wideParameters.empty() ? nullptr : wideParameters.c_str();
  info.nShow = showMode;
  if (!ShellExecuteExW(&info)) return false;
  if (process) process->reset(info.hProcess);
  return true;
}

}  // namespace

UniqueKernelHandle StartProgram(const std::string& verb, const std::string& file, const std::string& parameters,
                                int showMode) {
  UniqueKernelHandle process;
  ShellStart(verb, file, parameters, showMode, &process);
  return process;
}

DWORD OpenWithShell(const std::string& target, int showMode, UniqueKernelHandle* process) {
  if (ShellStart("open", target, {}, showMode, process)) return 0;
  const DWORD error = GetLastError();
  return error ? error : ERROR_NO_ASSOCIATION;
}

namespace {

int ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return -1;
  return static_cast<int>(code);
}

}  // namespace

int WaitForExitCode(HANDLE process) {
  if (!process || process == INVALID_HANDLE_VALUE) return -1;
  if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return -1;
  return ExitCodeOf(process);
}

int WaitForExitCodeDispatching(HANDLE process) {
  if (!process || process == INVALID_HANDLE_VALUE) return -1;
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) break;
    if (woke != WAIT_OBJECT_0 + 1) return -1;
    if (!DispatchPendingMessages(quitCode)) quit = true;
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return ExitCodeOf(process);
}

int RunProgramAndWait(const std::string& verb, const std::string& file, const std::string& parameters, int showMode) {
  UniqueKernelHandle process = StartProgram(verb, file, parameters, showMode);
  return process ? WaitForExitCode(process.get()) : -1;
}

bool IsProcessRunning(DWORD processId) {
  UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  // A process we may not open (another user's) exists all the same.
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

void WaitForWindowOwner(HWND window) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == 0 || owner == GetCurrentProcessId()) return;
  UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, owner));
  if (!process) {
    // A process we may not wait on (another user's): follow its window instead.
    DWORD current = 0;
    while (IsWindow(window) && GetWindowThreadProcessId(window, &current) && current == owner) Sleep(500);
    return;
  }
  // A window stands only while its process lives: if it still belongs to the same id now that
  // the handle is open, the handle holds that very process and not a later one with its id.
  DWORD stillOwner = 0;
  if (!IsWindow(window) || !GetWindowThreadProcessId(window, &stillOwner) || stillOwner != owner) return;
  WaitForSingleObject(process.get(), INFINITE);
}

std::optional<FileStamp> GetFileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileStamp stamp;
  stamp.lastWrite =
      (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return stamp;
}

}  // namespace edms::win
