// The question to the user about an offered update (the run itself: agent/service/self_update.h).
#pragma once
#include <windows.h>

#include <string>

#include "agent/service/self_update.h"

namespace edms {

// The question's caption: "%s update" with the product word of the installation kind.
std::string UpdateCaption(HINSTANCE instance, const std::string& target);

// Asks whether to update now (Yes / No, question icon, topmost, owned by `owner`); the
// caption names the product by the installation kind. True for Yes.
bool AskToUpdate(HINSTANCE instance, HWND owner, const UpdateOffer& offer);

}  // namespace edms
