#include "common/win/file_version.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "common/version_resource.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

std::vector<VersionTranslation> TranslationTable(const std::vector<BYTE>& block) {
  std::vector<VersionTranslation> table;
  void* data = nullptr;
  UINT bytes = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &data, &bytes) || !data) return table;
  const auto* words = static_cast<const WORD*>(data);
  for (UINT i = 0; i + 1 < bytes / sizeof(WORD); i += 2) table.push_back({words[i], words[i + 1]});
  return table;
}

}  // namespace

std::optional<std::string> GetVersionString(const std::string& path, const std::string& name) {
  const std::wstring file = Widen(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return std::nullopt;
  const std::wstring query = Widen(VersionValueQuery(TranslationTable(block), GetUserDefaultLangID(), name));
  void* text = nullptr;
  UINT length = 0;  // characters, with the terminating zero when there is one
  if (!VerQueryValueW(block.data(), query.c_str(), &text, &length) || !text) return std::nullopt;
  const auto* chars = static_cast<const wchar_t*>(text);
  return Narrow(std::wstring(chars, wcsnlen(chars, length)));
}

}  // namespace edms::win
