#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/arguments.h"

// Input: key, a NUL, then the argument string. The whole input also feeds the builder:
// split at '\n' into alternating keys and values.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const size_t nul = input.find('\0');
  if (nul != std::string_view::npos) {
    const std::string_view key = input.substr(0, nul);
    const std::string_view args = input.substr(nul + 1);
    const auto value = edms::FindArgument(args, key);
    if (value) {
      if (key.empty() || args.find(key) == std::string_view::npos) abort();
      if (value->find('&') != std::string::npos) abort();
      if (args.find(*value) == std::string_view::npos) abort();
    }
  }

  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= input.size()) {
    const size_t end = input.find('\n', start);
    parts.emplace_back(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  edms::ArgumentString builder;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) builder.Add(parts[i], parts[i + 1]);
  std::string out, error;
  if (builder.Build(out, error)) {
    if (!error.empty()) abort();
    // Whatever the builder accepts reads back pair by pair and survives quoting.
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
      if (edms::FindArgument(out, parts[i]).value_or("") != parts[i + 1]) abort();
    }
    for (char c : out) {
      if (c == '"' || static_cast<unsigned char>(c) < 0x20) abort();
    }
    if (!out.empty() && out.back() == '\\') abort();
  } else if (error.empty() || !out.empty()) {
    abort();
  }
  return 0;
}
