#include "common/arguments.h"

#include "common/argument_keys.h"
#include "common/ascii.h"
#include "common/encoding.h"

namespace edms {
namespace {

bool IsValidKey(std::string_view key) {
  if (key.empty() || key.front() == '_' || (key.front() >= '0' && key.front() <= '9')) {
    return false;
  }
  for (char c : key) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

bool IsVersionKey(std::string_view key) { return key == arg::kVersionNo || key == arg::kNewVersion; }

bool IsFlagKey(std::string_view key) {
  return key == arg::kIsCurrent || key == arg::kIsImmutable || key == arg::kInvokeEditor ||
         key == arg::kSupressWarning;
}

// Empty when the value can travel under `key`; otherwise why it cannot.
std::string ValueProblem(std::string_view key, std::string_view value) {
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '&') return "contains '&', which would end the value early";
    if (c == '"') return "contains '\"', which would break the quoted command-line argument";
    if (byte < 0x20 || byte == 0x7F) return "contains a control character";
  }
  if (!IsValidUtf8(value)) return "is not valid UTF-8 text";
  // A reader finds a key by its text anywhere in the string: a value that spells any key a
  // program reads could hand that program a value of the sender's choosing.
  for (std::string_view other : arg::kAllKeys) {
    if (value.find(other) != std::string_view::npos) return "contains the argument key " + std::string(other);
  }
  if (IsVersionKey(key) && value.find_first_not_of("0123456789.") != std::string_view::npos) {
    return "is not a version (digits and dots)";
  }
  if (IsFlagKey(key) && !value.empty() && !EqualsIgnoreCase(value, "TRUE") && !EqualsIgnoreCase(value, "FALSE") &&
      !EqualsIgnoreCase(value, "T") && !EqualsIgnoreCase(value, "F")) {
    return "is not TRUE, FALSE, T or F";
  }
  return {};
}

}  // namespace

std::optional<std::string> FindArgument(std::string_view args, std::string_view key) {
  if (args.empty() || key.empty()) return std::nullopt;
  const size_t at = args.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t equals = args.find('=', at);
  if (equals == std::string_view::npos) return std::nullopt;
  const size_t start = equals + 1;
  const size_t end = args.find('&', start);
  return std::string(args.substr(start, end == std::string_view::npos ? end : end - start));
}

std::string Arg(std::string_view args, std::string_view key) {
  return FindArgument(args, key).value_or(std::string());
}

ArgumentString& ArgumentString::Add(std::string_view key, std::string_view value) {
  pairs_.emplace_back(std::string(key), std::string(value));
  return *this;
}

bool ArgumentString::Build(std::string& out, std::string& error) const {
  out.clear();
  error.clear();
  std::string built;
  for (const auto& [key, value] : pairs_) {
    if (!IsValidKey(key)) {
      error = "argument key \"" + key + "\" is not an upper-case word with underscores";
      return false;
    }
    const std::string problem = ValueProblem(key, value);
    if (!problem.empty()) {
      error = "value of " + key + " " + problem;
      return false;
    }
    if (!built.empty()) built.push_back('&');
    built += key;
    built.push_back('=');
    built += value;
  }
  if (!pairs_.empty() && !pairs_.back().second.empty() && pairs_.back().second.back() == '\\') {
    error = "value of " + pairs_.back().first +
            " ends in a backslash, which would escape the closing quote";
    return false;
  }
  // Readers look keys up by their first occurrence anywhere in the string, so a key's
  // text inside an earlier key or value would hand them the wrong value.
  for (const auto& [key, value] : pairs_) {
    if (FindArgument(built, key).value_or(std::string()) != value) {
      error = "key " + key + " would not be read back as its value: its text occurs earlier";
      return false;
    }
  }
  out = std::move(built);
  return true;
}

}  // namespace edms
