#include "agent/service/view_document.h"

#include <exception>

#include "agent/resource.h"
#include "agent/service/refusal_text.h"
#include "common/download_item.h"
#include "common/filename.h"
#include "common/text_format.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/name_rule.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {
namespace {

std::string Text(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

// Every missing folder along `folder`; failures show later, when the copy cannot be created.
void CreateFolders(const std::string& folder) {
  for (size_t at = folder.find_first_of("\\/"); at != std::string::npos; at = folder.find_first_of("\\/", at + 1)) {
    if (at == 0 || folder[at - 1] == ':') continue;  // "C:" is a drive, not a folder to create
    CreateDirectoryW(win::Widen(folder.substr(0, at)).c_str(), nullptr);
  }
  CreateDirectoryW(win::Widen(folder).c_str(), nullptr);
}

// Removes the files of earlier views; a copy still open in its editor stays.
void ClearViewFolder(const std::string& folder) {
  WIN32_FIND_DATAW found{};
  const win::UniqueFind search(FindFirstFileW(win::Widen(JoinPath(folder, "*")).c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring path = win::Widen(JoinPath(folder, win::Narrow(found.cFileName)));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  } while (FindNextFileW(search.get(), &found));
}

void View(const std::string& arg2, const ViewContext& context, const ViewActions& actions) {
  const std::optional<ViewRequest> request = ParseViewRequest(arg2);
  if (!request) {
    win::Trace("VIEW refused: fewer than three fields");
    actions.tell(Text(IDS_ITEM_INCOMPLETE));
    return;
  }
  if (const NameProblem problem = win::CheckFileName(request->name); problem != NameProblem::kNone) {
    win::Trace("VIEW refused: the file name breaks the name rule");
    actions.tell(RefusalText(problem));
    return;
  }
  if (context.workFolder.empty()) {
    win::Trace("VIEW refused: no WorkFolder");
    actions.tell(Text(IDS_NO_WORK_FOLDER));
    return;
  }
  TransferRequest transfer;
  transfer.adaptorUrl = context.adaptorUrl;
  transfer.values = DownloadValues(request->documentId, request->pageId, context.userId);
  transfer.folder = JoinPath(context.workFolder, "View");
  transfer.name = request->name;
  CreateFolders(transfer.folder);
  ClearViewFolder(transfer.folder);

  const TransferResult result = actions.download(transfer, FillPlaceholder(Text(IDS_DOWNLOADING_FILE), request->name));
  if (result.code != kTransferOk) {
    win::Trace("VIEW transfer ended with " + std::to_string(result.code));
    actions.tell(result.text);
    return;
  }
  SetFileAttributesW(win::Widen(result.path).c_str(), FILE_ATTRIBUTE_READONLY);
  if (const DWORD error = actions.open(result.path); error != 0) {
    actions.tell(FillPlaceholder(Text(IDS_VIEW_OPEN_FAILED), std::to_string(static_cast<unsigned long>(error))));
  }
}

}  // namespace

void ViewDocument(const std::string& arg2, const ViewContext& context, const ViewActions& actions) {
  try {
    View(arg2, context, actions);
  } catch (const std::exception& e) {
    win::Trace(std::string("VIEW failed: ") + e.what());
  } catch (...) {
    win::Trace("VIEW failed");
  }
}

}  // namespace edms
