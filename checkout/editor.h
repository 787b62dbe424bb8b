// Opening the working copy in the editor registered for its extension.
#pragma once
#include <string>

#include "checkout/checkout_flow.h"

namespace edms::checkout {

// Asks the shell to open `path`; when that fails, starts the program associated with the
// extension with the path as its argument. Failures are told to the user through `host`.
void StartEditor(const std::string& path, CheckOutHost& host);

}  // namespace edms::checkout
