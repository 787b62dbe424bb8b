#include "common/encoding.h"

#include <cstddef>
#include <cstdint>

namespace edms {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendHexByte(std::string& out, unsigned char byte) {
  out.push_back(kHexDigits[byte >> 4]);
  out.push_back(kHexDigits[byte & 0x0F]);
}

// Length of the well-formed UTF-8 sequence at text[pos], or 0 when the bytes there
// are ill-formed. `consumed` receives how many bytes belong to the maximal
// ill-formed subpart, so that one U+FFFD stands for it.
size_t Utf8SequenceAt(std::string_view text, size_t pos, size_t& consumed) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  consumed = 1;
  if (lead < 0x80) return 1;

  size_t length;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondLow = 0xA0;   // overlong
    if (lead == 0xED) secondHigh = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondLow = 0x90;   // overlong
    if (lead == 0xF4) secondHigh = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }

  for (size_t i = 1; i < length; ++i) {
    if (pos + i >= text.size()) return 0;
    const unsigned char b = byte(pos + i);
    const unsigned char low = i == 1 ? secondLow : 0x80;
    const unsigned char high = i == 1 ? secondHigh : 0xBF;
    if (b < low || b > high) return 0;
    consumed = i + 1;
  }
  return length;
}

}  // namespace

std::string HexEncodeUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (char c : utf8) AppendHexByte(out, static_cast<unsigned char>(c));
  return out;
}

std::string HexDecodeUtf8(std::string_view hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<char>((high << 4) | low));
  }
  return SanitizeUtf8(bytes);
}

std::string FormEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char c : text) {
    if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      AppendHexByte(out, static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::string PercentEncode(std::string_view text) {
  constexpr char kUpperHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kUpperHex[byte >> 4]);
      out.push_back(kUpperHex[byte & 0x0F]);
    }
  }
  return out;
}

std::string FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>((HexValue(text[i + 1]) << 4) | HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t consumed;
    const size_t length = Utf8SequenceAt(text, pos, consumed);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t consumed;
    const size_t length = Utf8SequenceAt(text, pos, consumed);
    if (length == 0) {
      out.append(kReplacement);
      pos += consumed;
    } else {
      out.append(text.substr(pos, length));
      pos += length;
    }
  }
  return out;
}

std::map<std::string, std::string> ParseFormFields(std::string_view text) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t amp = text.find('&', start);
    const std::string_view pair = text.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      fields.emplace(FormDecode(pair.substr(0, eq)),
                     eq == std::string_view::npos ? std::string() : FormDecode(pair.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return fields;
}

}  // namespace edms
