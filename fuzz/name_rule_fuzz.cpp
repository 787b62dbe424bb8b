#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/download_item.h"
#include "common/name_rule.h"

// Input: a download-list item as the page may send it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view item(reinterpret_cast<const char*>(data), size);
  const edms::DownloadItem parsed = edms::ParseDownloadItem(item);
  const std::string name = parsed.SaveName();
  if (edms::CheckNameText(name) == edms::NameProblem::kNone) {
    // A name the rule lets through stays one component inside its folder.
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos) abort();
    if (name.back() == '.' || name.back() == ' ') abort();
    for (unsigned char c : name) {
      if (c < 0x20 || c == 0x7F) abort();
    }
  }
  const std::string extension = edms::ShellExtension(name);
  if (!extension.empty() && extension.front() != '.') abort();
  return 0;
}
