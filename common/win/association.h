// What this computer opens a type of document with.
#pragma once
#include <string>
#include <string_view>

namespace edms::win {

// The program registered to "open" files of `extension` (with its dot, ".docx"); empty when
// none is registered or the extension is empty.
std::string AssociatedProgram(std::string_view extension);

}  // namespace edms::win
