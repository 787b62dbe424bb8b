#include "agent/ui/page_windows.h"

#include <windows.h>
#include <shlobj.h>

#include <mutex>
#include <set>
#include <utility>

#include "agent/resource.h"
#include "agent/service/document_process.h"
#include "agent/ui/download_dlg.h"
#include "agent/ui/multi_download_dlg.h"
#include "common/ascii.h"
#include "common/download_item.h"
#include "common/win/detached_thread.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {
namespace {

std::string AgentText(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

std::string DocumentsFolder() {
  // The path is the caller's to free even when the call fails.
  win::UniqueCoTaskMem<wchar_t> path;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, path.put())) || !path) return {};
  return win::Narrow(path.get());
}

void SaveDownloadFolder(SharedConfig& config, const std::string& folder) {
  config.Update([&folder](win::ClientConfig& c) { c.DownloadFolder = folder; });
  if (!config.SaveChanges()) win::Trace("DownloadFolder not saved");
}

BOOL CALLBACK BringShownForward(HWND window, LPARAM found) {
  if (!IsWindowVisible(window)) return TRUE;
  SetForegroundWindow(window);
  *reinterpret_cast<bool*>(found) = true;
  return FALSE;
}

}  // namespace

struct CPageWindows::Boxes {
  std::mutex mutex;
  std::multiset<std::string> showing;
};

CPageWindows::CPageWindows(SharedConfig& config, std::function<void(const std::string& text)> tellOnMainThread)
    : config_(config), tellOnMainThread_(std::move(tellOnMainThread)), boxes_(std::make_shared<Boxes>()) {}

void CPageWindows::Tell(const std::string& text) {
  win::Trace("told: " + text);
  {
    std::lock_guard<std::mutex> lock(boxes_->mutex);
    // The same text twice at once says nothing new.
    if (boxes_->showing.count(text) || boxes_->showing.size() >= kMaxBoxes) return;
    boxes_->showing.insert(text);
  }
  const bool started = win::StartDetachedThread([boxes = boxes_, text] {
    win::ShowMessage(nullptr, text, AgentText(IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, true);
    std::lock_guard<std::mutex> lock(boxes->mutex);
    boxes->showing.erase(boxes->showing.find(text));
  });
  if (!started) {
    win::Trace("no box");
    std::lock_guard<std::mutex> lock(boxes_->mutex);
    boxes_->showing.erase(boxes_->showing.find(text));
  }
}

void CPageWindows::TooManyWindows(const char* command) {
  win::Trace(std::string(command) + " refused: every window thread is busy");
  if (tellOnMainThread_) tellOnMainThread_(AgentText(IDS_TOO_MANY_WINDOWS));
}

ViewActions CPageWindows::SystemViewActions(const std::string& appType) {
  ViewActions actions;
  actions.download = [appType](const TransferRequest& request, const std::string& title) {
    CDownloadDlg dialog(GetModuleHandleW(nullptr), appType, request, title);
    if (dialog.DoModal() == -1) {
      TransferResult failed;
      failed.text = AgentText(IDS_UNKNOWN_ERROR);
      return failed;
    }
    return dialog.result();
  };
  actions.open = [](const std::string& path) { return OpenDocument(path); };
  // The box goes on a thread of its own: the window slot is free once the view has ended.
  actions.tell = [this](const std::string& text) { Tell(text); };
  return actions;
}

void CPageWindows::StartView(const ViewContext& context, const std::string& arg2) {
  const std::optional<ViewRequest> request = ParseViewRequest(arg2);
  const std::string documentId = request ? AsciiLower(request->documentId) : std::string();
  uint64_t token = 0;
  if (!documentId.empty()) {
    std::lock_guard<std::mutex> lock(viewsMutex_);
    auto it = views_.find(documentId);
    if (it != views_.end()) {
      win::Trace("VIEW of " + request->documentId + " is fetching already: its window comes forward");
      bool found = false;
      if (it->second.thread) EnumThreadWindows(it->second.thread, BringShownForward, reinterpret_cast<LPARAM>(&found));
      return;
    }
    token = ++nextToken_;
    views_.emplace(documentId, Fetching{0, token});
  }
  // Ends this view's claim on its document, once: when its copy is fetched, or when it ends
  // without fetching. A later view of the document may hold the claim by then.
  auto release = [this, documentId, token] {
    if (documentId.empty()) return;
    std::lock_guard<std::mutex> lock(viewsMutex_);
    auto it = views_.find(documentId);
    if (it != views_.end() && it->second.token == token) views_.erase(it);
  };
  ViewActions actions = viewActions_ ? viewActions_(context) : SystemViewActions(context.appType);
  actions.download = [download = std::move(actions.download), release](const TransferRequest& transfer,
                                                                        const std::string& title) {
    TransferResult result = download(transfer, title);
    release();
    return result;
  };
  const bool started = threads_.Start([this, context, arg2, documentId, token, release, actions = std::move(actions)] {
    if (!documentId.empty()) {
      std::lock_guard<std::mutex> lock(viewsMutex_);
      auto it = views_.find(documentId);
      if (it != views_.end() && it->second.token == token) it->second.thread = GetCurrentThreadId();
    }
    ViewDocument(arg2, context, actions);
    release();
  });
  if (!started) {
    release();
    TooManyWindows("VIEW");
  }
}

void CPageWindows::StartMultiDownload(const std::string& userId, std::vector<std::string> items,
                                      std::function<void()> closed) {
  SharedConfig& config = config_;
  if (!threads_.Start([&config, userId, items = std::move(items), closed = std::move(closed)] {
        win::ClientConfig now = config.Snapshot();
        if (now.DownloadFolder.empty()) {
          now.DownloadFolder = DocumentsFolder();
          if (!now.DownloadFolder.empty()) SaveDownloadFolder(config, now.DownloadFolder);
        }
        MultiDownloadSetup setup{items,
                                 userId,
                                 now.AdaptorURL,
                                 now.DownloadFolder,
                                 now.AppType,
                                 now.MaxDownloadBytes,
                                 [&config](const std::string& folder) { SaveDownloadFolder(config, folder); }};
        CMultiDownloadDlg dialog(GetModuleHandleW(nullptr), std::move(setup));
        if (dialog.DoModal() == -1) {
          win::Trace("the download window cannot be shown");
          return;
        }
        if (closed) closed();
      })) {
    TooManyWindows("DO_DOWNLOAD");
  }
}

bool CPageWindows::Close(std::chrono::milliseconds bound) { return threads_.CloseAll(bound); }

}  // namespace edms
