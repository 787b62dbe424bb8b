#include "agent/service/self_update.h"

#include <windows.h>

#include <exception>
#include <thread>

#include "agent/resource.h"
#include "common/text_format.h"
#include "common/update_package.h"
#include "common/win/authenticode.h"
#include "common/win/file_checksum.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/process.h"
#include "common/win/registry.h"
#include "common/win/system_error.h"
#include "common/win/text.h"
#include "common/win/trace.h"
#include "edms_signer.h"

namespace edms {
namespace {

// The user has agreed already: the installer asks nothing more and keeps every value.
constexpr char kInstallerParameters[] = "/S";

std::string AgentText(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

// What the user is told of a signature that is refused.
std::string RefusalText(const win::SignatureCheck& check) {
  switch (check.verdict) {
    case win::SignatureVerdict::kUnsigned: return AgentText(IDS_UPDATE_UNSIGNED);
    case win::SignatureVerdict::kBroken: return AgentText(IDS_UPDATE_SIGNATURE_BROKEN);
    case win::SignatureVerdict::kOtherSigner: return FillPlaceholders(AgentText(IDS_UPDATE_SIGNER_OTHER), {check.signer});
    case win::SignatureVerdict::kUntrustedChain: return AgentText(IDS_UPDATE_SIGNER_UNTRUSTED);
    case win::SignatureVerdict::kUnreadable:
    case win::SignatureVerdict::kTrusted: break;
  }
  return FillPlaceholders(AgentText(IDS_UPDATE_NOT_CHECKED), {check.detail});
}

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

  // From here to the start one handle: others may read the file, none may write, rename or
  // delete it, and one that could already write it keeps this open from succeeding.
  win::UniqueKernelHandle installer(CreateFileW(win::Widen(result->path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!installer) {
    const DWORD error = GetLastError();
    win::Trace("update installer not opened, error " + std::to_string(error));
    tell(FillPlaceholders(AgentText(IDS_UPDATE_NOT_CHECKED), {win::DescribeError(error)}));
    return;
  }
  if (actions.testHold.count() > 0) {
    win::Trace("update installer held: " + result->path);
    std::this_thread::sleep_for(actions.testHold);
  }

  const win::SignatureCheck signature = win::CheckSignature(installer.get(), result->path, UpdateSignerPins());
  if (signature.verdict != win::SignatureVerdict::kTrusted) {
    win::Trace("update signature refused: " + signature.detail + (signature.signer.empty() ? "" : ", signer " + signature.signer));
    tell(RefusalText(signature));
    return;
  }
  win::Trace("update signed by " + signature.signer + ", " + signature.detail);
  const std::optional<std::string> checksum = win::GetFileChecksum(installer.get());
  if (!ChecksumMatches(result->checksum, checksum.value_or(""))) {
    win::Trace("update checksum mismatch");
    tell(AgentText(IDS_CHECKSUM_MISMATCH));
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

std::vector<SignerPin> UpdateSignerPins() {
  std::vector<SignerPin> pins = ParseSignerPins(EDMS_UPDATE_SIGNER_PIN).value_or(std::vector<SignerPin>{});
  win::CRegistry policy(win::CRegistry::kRead);
  if (policy.Open(kUpdatePolicyKeyPath, HKEY_LOCAL_MACHINE) != ERROR_SUCCESS) return pins;
  const std::string text = policy[kUpdateSignerPinValue].Text();
  if (const std::optional<std::vector<SignerPin>> added = ParseSignerPins(text)) {
    pins.insert(pins.end(), added->begin(), added->end());
  } else {
    win::Trace(std::string(kUpdateSignerPinValue) + " of the policy key is no list of pins: ignored");
  }
  return pins;
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

std::vector<std::string> RemoveUpdateInstallers(const std::string& workFolder, const std::string& appType) {
  std::vector<std::string> left;
  if (workFolder.empty() || !IsSafeNamePart(appType)) return left;
  WIN32_FIND_DATAW found{};
  win::UniqueFind search(FindFirstFileW(win::Widen(workFolder + "\\" + appType + "[*].exe").c_str(), &found));
  if (!search) return left;
  do {
    const std::string name = win::Narrow(found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsUpdateInstallerName(name, appType)) continue;
    if (DeleteFileW(win::Widen(workFolder + "\\" + name).c_str())) {
      win::Trace("earlier update installer removed: " + name);
    } else {
      left.push_back(name);
    }
  } while (FindNextFileW(search.get(), &found));
  return left;
}

}  // namespace edms
