#include "agent/core/document_process.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

#include "common/win/handles.h"
#include "common/win/text.h"
#include "common/win/window_search.h"

namespace edms {
namespace {

using win::Narrow;
using win::UniqueKernelHandle;
using win::Widen;

constexpr DWORD kSearchRoundMs = 500;
constexpr int kSearchRounds = 11;
constexpr DWORD kHandOffPauseMs = 1000;
constexpr DWORD kProcessPollMs = 500;

std::wstring ClassName(HWND window) {
  // Class names are at most 256 characters, so this buffer never cuts one.
  wchar_t name[1024];
  int got = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return got > 0 ? std::wstring(name, static_cast<size_t>(got)) : std::wstring();
}

bool Matches(HWND window, const std::wstring& classPart, const std::wstring& titlePart) {
  if (!titlePart.empty() && Widen(win::WindowTitle(window)).find(titlePart) == std::wstring::npos) return false;
  if (!classPart.empty() && ClassName(window).find(classPart) == std::wstring::npos) return false;
  return true;
}

HWND SearchChildren(HWND parent, const std::wstring& classPart, const std::wstring& titlePart) {
  HWND child = parent ? GetWindow(parent, GW_CHILD) : GetWindow(GetDesktopWindow(), GW_CHILD);
  for (; child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (Matches(child, classPart, titlePart)) return child;
    if (HWND found = SearchChildren(child, classPart, titlePart)) return found;
  }
  return nullptr;
}

// The top-level window that shows `title` itself or in one of its descendants.
HWND FindEditorWindow(const std::string& title) {
  HWND hit = FindWindowByText(nullptr, {}, title);
  if (!hit) return nullptr;
  HWND top = GetAncestor(hit, GA_ROOT);
  return top ? top : hit;
}

void BringToTop(HWND window) {
  constexpr UINT kFlags = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, kFlags);
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, kFlags);
  BringWindowToTop(window);
}

}  // namespace

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

std::string QuoteArgument(std::string_view argumentString) {
  return "\"" + std::string(argumentString) + "\"";
}

int RunProgramAndWait(const std::string& verb, const std::string& file, const std::string& parameters,
                      int showMode) {
  const std::wstring wideVerb = Widen(verb), wideFile = Widen(file), wideParameters = Widen(parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = wideVerb.c_str();
  info.lpFile = wideFile.c_str();
  info.lpParameters = wideParameters.empty() ? nullptr : wideParameters.c_str();
  info.nShow = showMode;
  if (file.empty() || !ShellExecuteExW(&info)) return -1;
  UniqueKernelHandle process(info.hProcess);
  if (!process) return -1;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return -1;
  return static_cast<int>(code);
}

std::optional<FileStamp> GetFileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileStamp stamp;
  stamp.lastWrite = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
  stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return stamp;
}

bool IsProcessRunning(DWORD processId) {
  UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == processId) return true;
  }
  return false;
}

HWND FindWindowByText(HWND parent, std::string_view classPart, std::string_view titlePart) {
  if (classPart.empty() && titlePart.empty()) return nullptr;
  return SearchChildren(parent, Widen(classPart), Widen(titlePart));
}

DWORD OpenDocumentAndWait(const std::string& path) {
  if (path.empty()) return ERROR_FILE_NOT_FOUND;
  const std::string title = EditorWindowTitle(path);
  const std::wstring widePath = Widen(path);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = widePath.c_str();
  info.nShow = SW_SHOW;
  if (!ShellExecuteExW(&info)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_NO_ASSOCIATION;
  }
  UniqueKernelHandle process(info.hProcess);

  for (int round = 0; round < kSearchRounds; ++round) {
    Sleep(kSearchRoundMs);
    if (HWND editor = FindEditorWindow(title)) {
      BringToTop(editor);
      break;
    }
  }
  // An editor that reuses its document process gives no handle; the window search below
  // still follows the document.
  if (process) WaitForSingleObject(process.get(), INFINITE);
  process.reset();

  // Editors that hand the document to an instance already running end at once: follow the
  // process that now shows it.
  Sleep(kHandOffPauseMs);
  if (HWND window = FindWindowByText(nullptr, {}, title)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != 0 && owner != GetCurrentProcessId()) {
      while (IsProcessRunning(owner)) Sleep(kProcessPollMs);
    }
  }
  return 0;
}

}  // namespace edms
