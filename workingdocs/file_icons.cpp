#include "file_icons.h"

#include <shellapi.h>

#include "common/filename.h"
#include "common/win/text.h"

namespace edms::workingdocs {
namespace {

constexpr UINT kByExtension = SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX;

HIMAGELIST SystemList(UINT sizeFlag) {
  SHFILEINFOW info{};
  return reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(L"x", FILE_ATTRIBUTE_NORMAL, &info, sizeof info, kByExtension | sizeFlag));
}

}  // namespace

SystemImageLists GetSystemImageLists() { return {SystemList(SHGFI_SMALLICON), SystemList(SHGFI_LARGEICON)}; }

int FileIconIndex(const std::string& name) {
  // The shell needs a file name: any base with the document's extension stands for it.
  const std::wstring probe = L"x" + win::Widen(SplitExtension(name).extension);
  SHFILEINFOW info{};
  if (!SHGetFileInfoW(probe.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info, kByExtension | SHGFI_SMALLICON)) {
    return 0;
  }
  return info.iIcon;
}

}  // namespace edms::workingdocs
