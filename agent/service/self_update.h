// The update run after the user said Yes to an offer: the installer is downloaded into the work
// folder as AppType[version].exe; its MD5 must match the checksum the server sent and its
// version resource must name this system's publisher; then it is started silently (it closes
// this agent with its Exit command, replaces the programs, keeps the configuration and starts
// the new agent). Any failure is told and nothing is started.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "agent/service/transfer.h"

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
};

// The whole run on the calling thread; returns once the installer has started or a failure
// has been told. Never throws.
void RunUpdate(const UpdateOffer& offer, const std::string& workFolder, const UpdateActions& actions);

}  // namespace edms
