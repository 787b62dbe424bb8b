// The cancel itself: the CHECKOUTCANCEL exchange and, when the server agrees, the removal
// of the check-out record and of the working copy.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "common/win/program_result.h"

namespace edms::cancel {

struct CancelInputs {
  std::string adaptorUrl;
  std::string oid;
  std::string versionNo;
  std::string userId;
  std::string password;
  std::string docPath;  // FILE_PATH decoded
};

// Every key the cancel reads from the argument string; absent keys as empty text.
CancelInputs ReadCancelInputs(const std::string& args);

// The cancel's result (the program's exit code stays 0 whatever it is): 0 accepted, 1 invalid
// URL, 3 internet failure, 4 other failure, -1 refused, with the message to show.
struct CancelResult {
  win::ProgramResult result{win::kResultOtherFailure, {}};
  std::string copyNotDeleted;  // set after success when nobody held the copy open and it
                               // still could not be deleted (e.g. read-only)
};

// Runs the exchange and the completion. `progress` receives bar positions 0..99.
// Never runs with an empty object id: the caller refuses such a start.
CancelResult RunCancel(HINSTANCE instance, const CancelInputs& in,
                       const std::function<void(int)>& progress);

}  // namespace edms::cancel
