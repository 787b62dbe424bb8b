// Filling the "%s" of a message text from a string table.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

namespace edms {

// `pattern` with its first "%s" replaced by `value` (the value is not scanned again, so a
// "%s" inside it stays as it is); the pattern unchanged when it has none.
std::string FillPlaceholder(std::string_view pattern, std::string_view value);

// `pattern` with its "%s" and "%d" placeholders replaced, in order, by `values` (numbers
// come already written out); inserted values are never scanned again, placeholders left
// over stay as they are.
std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> values);

}  // namespace edms
