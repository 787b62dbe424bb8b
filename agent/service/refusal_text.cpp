#include "agent/service/refusal_text.h"

#include <windows.h>

#include "agent/resource.h"
#include "common/win/language.h"

namespace edms {

std::string RefusalText(NameProblem problem) {
  UINT id = 0;
  switch (problem) {
    case NameProblem::kNone: return {};
    case NameProblem::kEmpty: id = IDS_NAME_EMPTY; break;
    case NameProblem::kNotText: id = IDS_NAME_NOT_TEXT; break;
    case NameProblem::kTooLong: id = IDS_NAME_TOO_LONG; break;
    case NameProblem::kPath: id = IDS_NAME_PATH; break;
    case NameProblem::kForbiddenCharacter: id = IDS_NAME_CHARACTER; break;
    case NameProblem::kTrailingDotOrBlank: id = IDS_NAME_TRAILING; break;
    case NameProblem::kDeviceName: id = IDS_NAME_DEVICE; break;
    case NameProblem::kDangerousType: id = IDS_NAME_DANGEROUS; break;
  }
  return win::LoadStringLang(GetModuleHandleW(nullptr), id);
}

}  // namespace edms
