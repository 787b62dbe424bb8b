#include "common/text_format.h"

namespace edms {

std::string FillPlaceholder(std::string_view pattern, std::string_view value) {
  std::string text(pattern);
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

}  // namespace edms
