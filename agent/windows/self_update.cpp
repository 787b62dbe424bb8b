#include "agent/windows/self_update.h"

#include <optional>

#include "agent/resource.h"
#include "agent/windows/transfer.h"
#include "agent/windows/update_dlg.h"
#include "common/text_format.h"
#include "common/update_package.h"
#include "common/win/file_checksum.h"
#include "common/win/file_version.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/process.h"
#include "common/win/system_error.h"
#include "common/win/trace.h"
#include "edms_product.h"

namespace edms {
namespace {

// The user has agreed already: the installer asks nothing more and keeps every value.
constexpr char kInstallerParameters[] = "/S";

}  // namespace

bool IsAcceptableOffer(const UpdateOffer& offer) {
  if (IsSafeNamePart(offer.target) && IsSafeNamePart(offer.offeredVersion)) return true;
  win::Trace("update offer refused: the offered version or AppType is not a plain name");
  return false;
}

HWND CSelfUpdate::OpenWindow() const {
  if (dialog_) return dialog_->hwnd();
  return boxOpen_ ? win::FindThreadMessageBox(win::LoadStringLang(instance_, IDS_INFORMATION)) : nullptr;
}

void CSelfUpdate::Stop() {
  stopped_ = true;
  if (dialog_) dialog_->Abort();
  if (HWND box = boxOpen_ ? OpenWindow() : nullptr) PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void CSelfUpdate::Tell(const std::string& text) {
  if (stopped_) return;
  boxOpen_ = true;
  win::ShowMessage(owner_, text, win::LoadStringLang(instance_, IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, false);
  boxOpen_ = false;
}

void CSelfUpdate::Run(HWND owner, const UpdateOffer& offer, const std::string& workFolder) {
  owner_ = owner;
  running_ = true;
  stopped_ = false;
  Steps(offer, workFolder);
  running_ = false;
}

void CSelfUpdate::Steps(const UpdateOffer& offer, const std::string& workFolder) {
  if (!IsAcceptableOffer(offer)) return;
  TransferRequest request;
  request.adaptorUrl = offer.adaptorUrl;
  request.command = Command::DownloadUpdate;
  request.values = {offer.target, offer.offeredVersion, offer.user};
  request.folder = workFolder;
  request.name = UpdateInstallerName(offer.target, offer.offeredVersion);
  CUpdateDlg dialog(instance_, offer.target, request, UpdateCaption(instance_, offer.target), offer.installedVersion,
                    offer.offeredVersion);
  dialog_ = &dialog;
  const INT_PTR shown = dialog.DoModal(owner_);
  dialog_ = nullptr;
  const TransferResult& result = dialog.result();
  if (stopped_) {
    win::Trace("update stopped: the agent is exiting");
    return;
  }
  if (shown != IDOK) {
    win::Trace("update download failed, code " + std::to_string(result.code));
    Tell(shown == -1 ? win::LoadStringLang(instance_, IDS_UNKNOWN_ERROR) : result.text);
    return;
  }
  win::Trace("update downloaded");

  const std::optional<std::string> checksum = win::GetFileChecksum(result.path);
  if (!ChecksumMatches(result.checksum, checksum.value_or(""))) {
    win::Trace("update checksum mismatch");
    Tell(win::LoadStringLang(instance_, IDS_CHECKSUM_MISMATCH));
    return;
  }
  const std::optional<std::string> publisher = win::GetVersionString(result.path, "CompanyName");
  if (publisher != EDMS_COMPANY_NAME) {
    win::Trace("update publisher refused");
    Tell(publisher ? FillPlaceholders(win::LoadStringLang(instance_, IDS_UPDATE_PUBLISHER_OTHER),
                                      {*publisher, EDMS_COMPANY_NAME})
                   : win::LoadStringLang(instance_, IDS_UPDATE_PUBLISHER_MISSING));
    return;
  }
  if (!win::StartProgram("open", result.path, kInstallerParameters, SW_SHOWNORMAL)) {
    const DWORD error = GetLastError();
    win::Trace("update installer not started, error " + std::to_string(error));
    Tell(FillPlaceholders(win::LoadStringLang(instance_, IDS_UPDATE_START_FAILED),
                          {error ? win::DescribeError(error) : win::LoadStringLang(instance_, IDS_UNKNOWN_ERROR)}));
    return;
  }
  win::Trace("update installer started");
}

}  // namespace edms
