#include "agent/service/view_document.h"

#include <exception>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "agent/resource.h"
#include "agent/service/refusal_text.h"
#include "common/download_item.h"
#include "common/filename.h"
#include "common/name_rule.h"
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

// The View folder's list of the copies views put there, one name a line: the agent deletes
// only files it made itself, whatever else someone keeps in the folder.
constexpr char kViewListName[] = ".zelto-views";
std::mutex viewListMutex;  // views of several documents run at once

std::vector<std::string> ReadViewList(const std::string& folder) {
  std::vector<std::string> names;
  std::ifstream list(win::Widen(JoinPath(folder, kViewListName)).c_str(), std::ios::binary);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Only a bare name of this folder: a line naming a path leads nowhere.
    if (!line.empty() && CheckNameText(line) == NameProblem::kNone) names.push_back(line);
  }
  return names;
}

void WriteViewList(const std::string& folder, const std::vector<std::string>& names) {
  const std::wstring path = win::Widen(JoinPath(folder, kViewListName));
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  {
    std::ofstream list(path.c_str(), std::ios::binary | std::ios::trunc);
    for (const std::string& name : names) list << name << "\r\n";
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
}

// Removes the copies of earlier views; a copy still open in its editor stays on the list.
void ClearViewFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(viewListMutex);
  std::vector<std::string> left;
  for (const std::string& name : ReadViewList(folder)) {
    const std::wstring path = win::Widen(JoinPath(folder, name));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;  // not a copy of ours
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str())) {
      SetFileAttributesW(path.c_str(), attributes);
      left.push_back(name);
    }
  }
  WriteViewList(folder, left);
}

void AddToViewList(const std::string& folder, const std::string& name) {
  std::lock_guard<std::mutex> lock(viewListMutex);
  std::vector<std::string> names = ReadViewList(folder);
  names.push_back(name);
  WriteViewList(folder, names);
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
  if (const std::string type = ShellExtension(request->name); !IsOpenableType(type, context.openableTypes)) {
    win::Trace("VIEW refused: the type " + type + " is not opened by itself here");
    actions.tell(FillPlaceholder(Text(IDS_NOT_OPENABLE), type.empty() ? request->name : type));
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
  transfer.maxBytes = context.maxDownloadBytes;
  CreateFolders(transfer.folder);
  // A View folder that leads elsewhere (a junction or a link) is not emptied or written.
  const DWORD viewFolder = GetFileAttributesW(win::Widen(transfer.folder).c_str());
  if (viewFolder != INVALID_FILE_ATTRIBUTES && (viewFolder & FILE_ATTRIBUTE_REPARSE_POINT)) {
    win::Trace("VIEW refused: the View folder is a link to another place");
    actions.tell(FillPlaceholder(Text(IDS_VIEW_FOLDER_LINK), transfer.folder));
    return;
  }
  ClearViewFolder(transfer.folder);

  const TransferResult result = actions.download(transfer, FillPlaceholder(Text(IDS_DOWNLOADING_FILE), request->name));
  if (result.code != kTransferOk) {
    win::Trace("VIEW transfer ended with " + std::to_string(result.code));
    actions.tell(result.text);
    return;
  }
  AddToViewList(transfer.folder, LastPathComponent(result.path));
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
