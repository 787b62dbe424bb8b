// The update run after the user said Yes to an offer: the installer is downloaded into the work
// folder as AppType[version].exe, opened once so that nobody can write, rename or delete it
// while it is held, and through that handle it must carry a valid Authenticode signature of a
// pinned publisher (common/win/authenticode.h) and match the MD5 the server sent; it is started
// silently while still held (it closes this agent with its Exit command, replaces the
// programs, keeps the configuration and starts the new agent). Any failure is told and nothing
// is started.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/service/transfer.h"
#include "common/signer_pin.h"

namespace edms {

struct UpdateOffer {
  std::string user;
  std::string adaptorUrl;
  std::string target;            // AppType
  std::string installedVersion;  // AppVersion
  std::string offeredVersion;    // as the server sent it
  uint64_t size = 0;             // the installer's bytes
};

// False when the offered version or AppType is not a plain name part: such an offer is
// refused with a debug line, before the user is asked and before anything is downloaded.
bool IsAcceptableOffer(const UpdateOffer& offer);

// What a run does to the system; the window side gives the download and the telling.
struct UpdateActions {
  // Runs the update window over `request`; nullopt when the window could not be shown.
  std::function<std::optional<TransferResult>(const TransferRequest& request)> download;
  // Tells the user why the update was not installed.
  std::function<void(const std::string& text)> tell;
  // True once the agent is exiting: nothing more is told or started.
  std::function<bool()> stopped;
  // Tests only: how long the downloaded installer is held before its checks.
  std::chrono::milliseconds testHold{0};
};

// The policy key an administrator may pin a further update publisher under (HKLM), and its value.
inline constexpr char kUpdatePolicyKeyPath[] = "Software\\Policies\\kelvora\\Zelto";
inline constexpr char kUpdateSignerPinValue[] = "UpdateSignerPin";

// The publishers an update may be signed by: the build's own and those of the policy value
// (a value that is no pin list adds none, with a debug line).
std::vector<SignerPin> UpdateSignerPins();

// The whole run on the calling thread; returns once the installer has started or a failure
// has been told. Never throws.
void RunUpdate(const UpdateOffer& offer, const std::string& workFolder, const UpdateActions& actions);

// Deletes the installers earlier updates of `appType` left in `workFolder` (the update that
// started this agent included); returns the names of those that could not be deleted yet
// (an installer still running).
std::vector<std::string> RemoveUpdateInstallers(const std::string& workFolder, const std::string& appType);

}  // namespace edms
