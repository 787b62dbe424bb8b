// Filling the "%s" of a message text from a string table.
#pragma once
#include <string>
#include <string_view>

namespace edms {

// `pattern` with its first "%s" replaced by `value` (the value is not scanned again, so a
// "%s" inside it stays as it is); the pattern unchanged when it has none.
std::string FillPlaceholder(std::string_view pattern, std::string_view value);

}  // namespace edms
