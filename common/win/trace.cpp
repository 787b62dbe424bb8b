#include "common/win/trace.h"

#include <windows.h>

#include "common/win/text.h"

namespace edms::win {
namespace {

std::string& Prefix() {
  static std::string prefix;
  return prefix;
}

}  // namespace

void SetTracePrefix(std::string prefix) { Prefix() = std::move(prefix); }

void Trace(std::string_view line) {
  std::string text = Prefix();
  text += line;
  text += '\n';
  OutputDebugStringW(Widen(text).c_str());
}

}  // namespace edms::win
