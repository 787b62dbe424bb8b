#include "agent/service/document_process.h"

#include "common/checkout_cycle.h"
#include "common/win/handles.h"
#include "common/win/process.h"
#include "common/win/text.h"
#include "common/win/window_search.h"

namespace edms {
namespace {

constexpr DWORD kSearchRoundMs = 500;
constexpr int kSearchRounds = 11;
constexpr DWORD kHandOffPauseMs = 1000;

// The top-level window that shows `title` itself or in one of its descendants.
HWND FindEditorWindow(const std::string& title) {
  HWND hit = win::FindWindowByText(nullptr, {}, title);
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

// Up to 11 rounds of 500 ms: the first window that shows the document's title is brought to
// the top. None found is no error.
void BringEditorToTop(const std::string& title) {
  for (int round = 0; round < kSearchRounds; ++round) {
    Sleep(kSearchRoundMs);
    if (HWND editor = FindEditorWindow(title)) {
      BringToTop(editor);
      return;
    }
  }
}

// An open with no sharing at all fails while anyone else has the file open.
bool HeldOpen(const std::string& path) {
  win::UniqueKernelHandle file(CreateFileW(win::Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file && GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

bool DocumentInUse(const std::string& path) {
  if (path.empty()) return false;
  return HeldOpen(path) || FindEditorWindow(EditorWindowTitle(path)) != nullptr;
}

void WaitWhileDocumentInUse(const std::string& path) {
  while (DocumentInUse(path)) {
    if (HWND window = FindEditorWindow(EditorWindowTitle(path))) win::WaitForWindowOwner(window);
    Sleep(kSearchRoundMs);
  }
}

void BringEditorForward(const std::string& path) {
  if (path.empty()) return;
  if (HWND editor = FindEditorWindow(EditorWindowTitle(path))) BringToTop(editor);
}

DWORD OpenDocument(const std::string& path) {
  if (const DWORD error = win::OpenWithShell(path, SW_SHOW)) return error;
  BringEditorToTop(EditorWindowTitle(path));
  return 0;
}

DWORD OpenDocumentAndWait(const std::string& path) {
  const std::string title = EditorWindowTitle(path);
  win::UniqueKernelHandle process;
  if (const DWORD error = win::OpenWithShell(path, SW_SHOW, &process)) return error;
  BringEditorToTop(title);
  // An editor that reuses its document process gives no handle; the window search below
  // still follows the document.
  if (process) WaitForSingleObject(process.get(), INFINITE);
  process.reset();

  // Editors that hand the document to an instance already running end at once: follow the
  // process that now shows it.
  Sleep(kHandOffPauseMs);
  if (HWND window = win::FindWindowByText(nullptr, {}, title)) win::WaitForWindowOwner(window);
  return 0;
}

}  // namespace edms
