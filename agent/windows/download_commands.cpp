#include "agent/windows/download_commands.h"

#include <windows.h>
#include <shlobj.h>

#include <utility>
#include <vector>

#include "agent/core/edm_helper_service.h"
#include "agent/windows/multi_download_dlg.h"
#include "agent/windows/view_document.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {
namespace {

std::string DocumentsFolder() {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path))) folder = win::Narrow(path);
  CoTaskMemFree(path);
  return folder;
}

void SaveDownloadFolder(SharedConfig& config, const std::string& folder) {
  config.Update([&folder](win::ClientConfig& c) { c.DownloadFolder = folder; });
  if (!config.SaveChanges()) win::Trace("DownloadFolder not saved");
}

}  // namespace

bool StartView(WindowThreads& windows, SharedConfig& config, const std::string& userId, const std::string& arg2) {
  const win::ClientConfig now = config.Snapshot();
  ViewContext context{now.AdaptorURL, now.WorkFolder, userId, now.AppType};
  if (windows.Start([context = std::move(context), arg2] {
        ViewDocument(arg2, context, SystemViewActions(context.appType));
      })) {
    return true;
  }
  win::Trace("VIEW dropped: every window thread is busy");
  return false;
}

bool StartMultiDownload(WindowThreads& windows, EdmHelperService& service, SharedConfig& config,
                        const std::string& userId) {
  std::vector<std::string> items = service.DownloadList();
  if (windows.Start([&service, &config, userId, items = std::move(items)] {
        win::ClientConfig now = config.Snapshot();
        if (now.DownloadFolder.empty()) {
          now.DownloadFolder = DocumentsFolder();
          if (!now.DownloadFolder.empty()) SaveDownloadFolder(config, now.DownloadFolder);
        }
        MultiDownloadSetup setup{items, userId, now.AdaptorURL, now.DownloadFolder, now.AppType,
                                 [&config](const std::string& folder) { SaveDownloadFolder(config, folder); }};
        CMultiDownloadDlg dialog(GetModuleHandleW(nullptr), std::move(setup));
        if (dialog.DoModal() == -1) {
          win::Trace("the download window cannot be shown");
          return;
        }
        service.RemoveDownloadItems(items);
      })) {
    return true;
  }
  win::Trace("DO_DOWNLOAD dropped: every window thread is busy");
  return false;
}

}  // namespace edms
