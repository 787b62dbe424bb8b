// The program argument string: KEY=VALUE pairs joined by "&".
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace edms {

// The value after the first occurrence of `key`'s text anywhere in `args` (case-sensitive):
// from the first '=' after that place up to the next '&' or the end. nullopt when the key
// does not occur or no '=' follows it. Values are not limited in length.
std::optional<std::string> FindArgument(std::string_view args, std::string_view key);

// FindArgument's value, or empty text when the key is absent: what every reader works with.
std::string Arg(std::string_view args, std::string_view key);

// Builds an argument string with the pairs in the order added. Build() refuses (and says
// why in `error`) a value containing '&', '"', a control character or the text of any key
// that a program reads (arg::kAllKeys), a version (VERSION_NO, NEW_VERSION) that is not
// digits and dots, a flag (IS_CURRENT, IS_IMMUTABLE, INVOKE_EDITOR, SUPRESS_WARNING) that is
// not TRUE, FALSE, T, F (any case) or empty, a key that is not an upper-case word with
// underscores, a key that another key or an earlier value would be read for, or a last value
// that ends in a backslash.
class ArgumentString {
 public:
  ArgumentString& Add(std::string_view key, std::string_view value);
  bool Build(std::string& out, std::string& error) const;

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace edms
