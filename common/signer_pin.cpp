#include "common/signer_pin.h"

namespace edms {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSeparator(char c) { return c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::vector<SignerPin>> ParseSignerPins(std::string_view text) {
  std::vector<SignerPin> pins;
  std::size_t at = 0;
  while (at < text.size()) {
    if (IsSeparator(text[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    const std::string_view part = text.substr(at, end - at);
    if (part.size() != 2 * SignerPin().size()) return std::nullopt;
    SignerPin pin{};
    for (std::size_t i = 0; i < pin.size(); ++i) {
      const int high = HexValue(part[2 * i]);
      const int low = HexValue(part[2 * i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      pin[i] = static_cast<uint8_t>(high << 4 | low);
    }
    pins.push_back(pin);
    at = end;
  }
  return pins;
}

std::string SignerPinText(const SignerPin& pin) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : pin) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

}  // namespace edms
