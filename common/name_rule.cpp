#include "common/name_rule.h"

#include <cstdint>

#include "common/ascii.h"
#include "common/encoding.h"

namespace edms {
namespace {

constexpr std::size_t kMaxComponentUnits = 255;

// Types the shell starts, hands to an interpreter or an installer, follows elsewhere
// (shortcuts, search connectors) or loads as code from the folder they sit in.
constexpr std::string_view kProgramExtensions[] = {
    ".exe", ".com", ".bat", ".cmd", ".scr", ".pif", ".cpl", ".dll", ".ocx", ".sys", ".drv",
    ".msi", ".msp", ".mst", ".msc", ".msu", ".msix", ".msixbundle", ".appx", ".appxbundle",
    ".application", ".appref-ms", ".gadget", ".xbap", ".xll", ".hta", ".htc", ".chm", ".hlp",
    ".js", ".jse", ".vbs", ".vbe", ".vb", ".wsf", ".wsh", ".ws", ".wsc", ".sct",
    ".ps1", ".ps1xml", ".ps2", ".ps2xml", ".psc1", ".psc2", ".psd1", ".psm1",
    ".py", ".pyw", ".pyz", ".pyzw", ".pl", ".jar", ".jnlp",
    ".lnk", ".url", ".website", ".scf", ".shb", ".shs", ".library-ms", ".searchconnector-ms",
    ".settingcontent-ms", ".inf", ".ins", ".isp", ".reg", ".vsmacros", ".diagcab", ".vhd", ".vhdx",
};

constexpr std::string_view kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

// The next code point of valid UTF-8 text at `i`, moving `i` past it.
uint32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  uint32_t cp = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  return cp;
}

bool IsForbidden(uint32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return true;  // C0, DEL, C1
  // Bidirectional controls make "gpj.exe" look like "exe.jpg".
  if (cp == 0x061C || cp == 0x200E || cp == 0x200F) return true;
  if ((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) return true;
  switch (cp) {
    case '<': case '>': case '"': case '|': case '?': case '*':
      return true;
    default:
      return false;
  }
}

bool IsBlankOrDot(char c) { return c == ' ' || c == '.'; }

std::string_view DropTrailingDotsAndBlanks(std::string_view name) {
  while (!name.empty() && IsBlankOrDot(name.back())) name.remove_suffix(1);
  return name;
}

// Windows takes the text before the first dot, blanks before it ignored, as the device.
bool IsDeviceName(std::string_view name) {
  std::string_view base = DropTrailingDotsAndBlanks(name);
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : kDeviceNames) {
    if (EqualsIgnoreCase(base, device)) return true;
  }
  if (base.size() < 4) return false;
  const std::string_view stem = base.substr(0, 3);
  if (!EqualsIgnoreCase(stem, "COM") && !EqualsIgnoreCase(stem, "LPT")) return false;
  const std::string_view digit = base.substr(3);
  if (digit.size() == 1) return digit[0] >= '0' && digit[0] <= '9';
  // Superscript one, two and three name ports too.
  return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

NameProblem CheckNameText(std::string_view name) {
  if (name.empty()) return NameProblem::kEmpty;
  if (!IsValidUtf8(name)) return NameProblem::kNotText;
  if (name == "." || name == "..") return NameProblem::kPath;
  std::size_t units = 0;
  for (std::size_t i = 0; i < name.size();) {
    const uint32_t cp = NextCodePoint(name, i);
    if (cp == '\\' || cp == '/' || cp == ':') return NameProblem::kPath;
    if (IsForbidden(cp)) return NameProblem::kForbiddenCharacter;
    units += cp > 0xFFFF ? 2 : 1;
  }
  if (units > kMaxComponentUnits) return NameProblem::kTooLong;
  if (IsBlankOrDot(name.back())) return NameProblem::kTrailingDotOrBlank;
  if (IsDeviceName(name)) return NameProblem::kDeviceName;
  return NameProblem::kNone;
}

std::string ShellExtension(std::string_view name) {
  const std::string_view kept = DropTrailingDotsAndBlanks(name);
  const std::size_t dot = kept.rfind('.');
  if (dot == std::string_view::npos) return {};
  return AsciiLower(kept.substr(dot));
}

bool IsProgramExtension(std::string_view extension, std::string_view pathext) {
  if (extension.empty()) return false;
  for (std::string_view listed : kProgramExtensions) {
    if (EqualsIgnoreCase(extension, listed)) return true;
  }
  while (!pathext.empty()) {
    const std::size_t end = pathext.find(';');
    std::string_view entry = pathext.substr(0, end);
    while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
    while (!entry.empty() && entry.back() == ' ') entry.remove_suffix(1);
    if (EqualsIgnoreCase(extension, entry)) return true;
    if (end == std::string_view::npos) break;
    pathext.remove_prefix(end + 1);
  }
  return false;
}

bool IsOpenableType(std::string_view extension, std::string_view openableTypes) {
  if (openableTypes.empty()) openableTypes = kDefaultOpenableTypes;
  size_t start = 0;
  for (;;) {
    const size_t end = openableTypes.find(';', start);
    std::string_view entry = openableTypes.substr(start, end == std::string_view::npos ? end : end - start);
    while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
    while (!entry.empty() && entry.back() == ' ') entry.remove_suffix(1);
    if (entry == "*") return true;
    if (!entry.empty() && !extension.empty()) {
      if (entry.front() != '.' && EqualsIgnoreCase(entry, extension.substr(1))) return true;
      if (EqualsIgnoreCase(entry, extension)) return true;
    }
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

}  // namespace edms
