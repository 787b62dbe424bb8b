// The agent's whole rule for a file name from the page or the server: the portable part
// (common/name_rule.h) and what this computer's shell would do with a file of that type.
// One rule for the view, every download row, the check-out and the self-update.
#pragma once
#include <string_view>

#include "common/name_rule.h"

namespace edms::win {

// True when the shell runs or follows a file with this extension (".exe"): the system says
// it is dangerous (AssocIsDangerous), it is on the fixed list, or it is in this process's
// PATHEXT.
bool IsDangerousType(std::string_view extension);

// kDangerousType when the extension Windows would keep is dangerous, else CheckNameText.
NameProblem CheckFileName(std::string_view name);

}  // namespace edms::win
