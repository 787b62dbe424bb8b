#include "agent/core/trace.h"

#include <windows.h>

#include "common/win/text.h"

namespace edms {

void Trace(const std::string& utf8Line) {
  OutputDebugStringW(win::Widen("[Pellarin] " + utf8Line + "\n").c_str());
}

}  // namespace edms
