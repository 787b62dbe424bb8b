#include "agent/service/self_update.h"

#include <windows.h>

#include <exception>

#include "agent/resource.h"
#include "common/text_format.h"
#include "common/update_package.h"
#include "common/win/file_checksum.h"
#include "common/win/file_version.h"
#include "common/win/language.h"
#include "common/win/process.h"
#include "common/win/system_error.h"
#include "common/win/trace.h"
#include "edms_product.h"

namespace edms {
namespace {

// The user has agreed already: the installer asks nothing more and keeps every value.
constexpr char kInstallerParameters[] = "/S";

std::string AgentText(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

void Steps(const UpdateOffer& offer, const std::string& workFolder, const UpdateActions& actions) {
  if (!IsAcceptableOffer(offer)) return;
  auto tell = [&actions](const std::string& text) {
    if (!actions.stopped()) actions.tell(text);
  };
  TransferRequest request;
  request.adaptorUrl = offer.adaptorUrl;
  request.command = Command::DownloadUpdate;
  request.values = {offer.target, offer.offeredVersion, offer.user};
  request.folder = workFolder;
  request.name = UpdateInstallerName(offer.target, offer.offeredVersion);
  request.markFromInternet = false;
  const std::optional<TransferResult> result = actions.download(request);
  if (actions.stopped()) {
    win::Trace("update stopped: the agent is exiting");
    return;
  }
  if (!result || result->code != kTransferOk) {
    win::Trace("update download failed, code " + std::to_string(result ? result->code : kTransferOther));
    tell(result ? result->text : AgentText(IDS_UNKNOWN_ERROR));
    return;
  }
  win::Trace("update downloaded");

  const std::optional<std::string> checksum = win::GetFileChecksum(result->path);
  if (!ChecksumMatches(result->checksum, checksum.value_or(""))) {
    win::Trace("update checksum mismatch");
    tell(AgentText(IDS_CHECKSUM_MISMATCH));
    return;
  }
  const std::optional<std::string> publisher = win::GetVersionString(result->path, "CompanyName");
  if (publisher != EDMS_COMPANY_NAME) {
    win::Trace("update publisher refused");
    tell(publisher ? FillPlaceholders(AgentText(IDS_UPDATE_PUBLISHER_OTHER), {*publisher, EDMS_COMPANY_NAME})
                   : AgentText(IDS_UPDATE_PUBLISHER_MISSING));
    return;
  }
  if (actions.stopped()) {
    win::Trace("update stopped: the agent is exiting");
    return;
  }
  if (!win::StartProgram("open", result->path, kInstallerParameters, SW_SHOWNORMAL)) {
    const DWORD error = GetLastError();
    win::Trace("update installer not started, error " + std::to_string(error));
    tell(FillPlaceholders(AgentText(IDS_UPDATE_START_FAILED),
                          {error ? win::DescribeError(error) : AgentText(IDS_UNKNOWN_ERROR)}));
    return;
  }
  win::Trace("update installer started");
}

}  // namespace

bool IsAcceptableOffer(const UpdateOffer& offer) {
  if (IsSafeNamePart(offer.target) && IsSafeNamePart(offer.offeredVersion)) return true;
  win::Trace("update offer refused: the offered version or AppType is not a plain name");
  return false;
}

void RunUpdate(const UpdateOffer& offer, const std::string& workFolder, const UpdateActions& actions) {
  try {
    Steps(offer, workFolder, actions);
  } catch (const std::exception& e) {
    win::Trace(std::string("update failed: ") + e.what());
  } catch (...) {
    win::Trace("update failed");
  }
}

}  // namespace edms
