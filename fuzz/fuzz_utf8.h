// A UTF-8 well-formedness check written apart from the core's own, so that the
// fuzzers do not judge the decoder with the decoder.
#pragma once
#include <cstdint>
#include <string_view>

inline bool FuzzIsWellFormedUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    uint32_t cp;
    size_t n;
    if (b < 0x80) { cp = b; n = 1; }
    else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; n = 2; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; n = 3; }
    else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; n = 4; }
    else return false;
    if (i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const uint8_t c = static_cast<uint8_t>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}
