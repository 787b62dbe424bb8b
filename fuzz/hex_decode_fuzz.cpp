#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/encoding.h"
#include "fuzz_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Any text decodes to well-formed UTF-8 of bounded size.
  const std::string decoded = edms::HexDecodeUtf8(input);
  if (!FuzzIsWellFormedUtf8(decoded)) abort();
  if (decoded.size() > (size / 2) * 3) abort();
  if (edms::IsValidUtf8(input) != FuzzIsWellFormedUtf8(input)) abort();

  // Encoding is lower-case hex of every byte; valid text comes back unchanged.
  const std::string hex = edms::HexEncodeUtf8(input);
  if (hex.size() != size * 2) abort();
  for (char c : hex) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) abort();
  }
  const std::string back = edms::HexDecodeUtf8(hex);
  if (back != edms::SanitizeUtf8(input)) abort();
  if (FuzzIsWellFormedUtf8(input) && back != input) abort();

  // The form layer is lossless for any bytes.
  if (edms::FormDecode(edms::FormEncode(input)) != input) abort();
  edms::FormDecode(input);
  return 0;
}
