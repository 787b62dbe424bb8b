#include "common/text_format.h"

namespace edms {

std::string FillPlaceholder(std::string_view pattern, std::string_view value) {
  std::string text(pattern);
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

std::string FillPlaceholders(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string text;
  auto next = values.begin();
  size_t from = 0;
  while (next != values.end()) {
    size_t at = pattern.find('%', from);
    while (at != std::string_view::npos && at + 1 < pattern.size() && pattern[at + 1] != 's' &&
           pattern[at + 1] != 'd') {
      at = pattern.find('%', at + 1);
    }
    if (at == std::string_view::npos || at + 1 >= pattern.size()) break;
    text.append(pattern.substr(from, at - from));
    text.append(*next++);
    from = at + 2;
  }
  text.append(pattern.substr(from));
  return text;
}

}  // namespace edms
