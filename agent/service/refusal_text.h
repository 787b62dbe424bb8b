// What the user is told when the agent refuses a file name, in the run's language.
#pragma once
#include <string>

#include "common/name_rule.h"

namespace edms {

// The reason for `problem` from the agent's string table; empty for kNone.
std::string RefusalText(NameProblem problem);

}  // namespace edms
