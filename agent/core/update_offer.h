// The offer of a newer agent and the question to the user (the update run: agent/windows/self_update.h).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace edms {

struct UpdateOffer {
  std::string user;
  std::string adaptorUrl;
  std::string target;            // AppType
  std::string installedVersion;  // AppVersion
  std::string offeredVersion;    // as the server sent it
  uint64_t size = 0;             // the installer's bytes
};

// The question's caption: "%s update" with the product word of the installation kind.
std::string UpdateCaption(HINSTANCE instance, const std::string& target);

// Asks whether to update now (Yes / No, question icon, topmost, owned by `owner`); the
// caption names the product by the installation kind. True for Yes.
bool AskToUpdate(HINSTANCE instance, HWND owner, const UpdateOffer& offer);

}  // namespace edms
