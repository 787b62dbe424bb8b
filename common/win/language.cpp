#include "common/win/language.h"

#include <atomic>
#include <utility>

#include "common/win/text.h"

namespace edms::win {
namespace {

std::atomic<LANGID> g_chosen{0};

constexpr LANGID kLangNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

struct Resource {
  const void* data = nullptr;
  DWORD size = 0;
};

Resource FindExact(HINSTANCE instance, LPCWSTR type, LPCWSTR name, LANGID language) {
  HRSRC found = FindResourceExW(instance, type, name, language);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(instance, found);
  if (!loaded) return {};
  return {LockResource(loaded), SizeofResource(instance, found)};
}

// The order resources are tried in: the run's language, English, language-neutral.
template <typename Accept>
Resource FindInOrder(HINSTANCE instance, LPCWSTR type, LPCWSTR name, LANGID language,
                     Accept accept) {
  const LANGID order[] = {language, kLangEnglish, kLangNeutral};
  for (size_t i = 0; i < std::size(order); ++i) {
    if (i > 0 && order[i] == order[0]) continue;
    Resource r = FindExact(instance, type, name, order[i]);
    if (r.data && accept(r)) return r;
  }
  return {};
}

// A string table block holds 16 strings, each a length word followed by that many
// characters. Empty when the block does not hold string `index`.
std::wstring StringFromBlock(const Resource& block, UINT index) {
  const auto* p = static_cast<const WCHAR*>(block.data);
  const size_t total = block.size / sizeof(WCHAR);
  size_t pos = 0;
  for (UINT i = 0; i < 16 && pos < total; ++i) {
    size_t len = p[pos++];
    if (len > total - pos) return {};
    if (i == index) return std::wstring(p + pos, len);
    pos += len;
  }
  return {};
}

}  // namespace

void ApplyLanguage(LANGID language) {
  SetThreadUILanguage(language);
  g_chosen = language;
}

bool ApplyAgentLanguage(const ClientConfig& config) {
  if (config.LanguageID == 0) return false;
  ApplyLanguage(config.LanguageID);
  return true;
}

LANGID ChosenLanguage() { return g_chosen; }

LANGID EffectiveLanguage() {
  LANGID chosen = g_chosen;
  return chosen != 0 ? chosen : GetUserDefaultUILanguage();
}

std::string LoadStringLang(HINSTANCE instance, UINT id) {
  return LoadStringLang(instance, id, EffectiveLanguage());
}

std::string LoadStringLang(HINSTANCE instance, UINT id, LANGID language) {
  const UINT index = id % 16;
  std::wstring text;
  // A block of the run's language may lack this one string; then the next language's
  // block is asked.
  FindInOrder(instance, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language,
              [&](const Resource& block) {
                text = StringFromBlock(block, index);
                return !text.empty();
              });
  return Narrow(text);
}

std::string LoadStringExact(HINSTANCE instance, UINT id, LANGID language) {
  Resource block = FindExact(instance, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  return block.data ? Narrow(StringFromBlock(block, id % 16)) : std::string();
}

const DLGTEMPLATE* FindDialogTemplateLang(HINSTANCE instance, int id) {
  return FindDialogTemplateLang(instance, id, EffectiveLanguage());
}

const DLGTEMPLATE* FindDialogTemplateLang(HINSTANCE instance, int id, LANGID language) {
  Resource r = FindInOrder(instance, RT_DIALOG, MAKEINTRESOURCEW(id), language,
                           [](const Resource& res) { return res.size >= sizeof(DLGTEMPLATE); });
  return static_cast<const DLGTEMPLATE*>(r.data);
}

INT_PTR DialogBoxLang(HINSTANCE instance, int id, HWND parent, DLGPROC proc, LPARAM param) {
  const DLGTEMPLATE* tmpl = FindDialogTemplateLang(instance, id);
  if (!tmpl) return -1;
  return DialogBoxIndirectParamW(instance, tmpl, parent, proc, param);
}

HWND CreateDialogLang(HINSTANCE instance, int id, HWND parent, DLGPROC proc, LPARAM param) {
  const DLGTEMPLATE* tmpl = FindDialogTemplateLang(instance, id);
  if (!tmpl) return nullptr;
  return CreateDialogIndirectParamW(instance, tmpl, parent, proc, param);
}

HMENU LoadMenuLang(HINSTANCE instance, int id) {
  Resource r = FindInOrder(instance, RT_MENU, MAKEINTRESOURCEW(id), EffectiveLanguage(),
                           [](const Resource& res) { return res.size >= 4; });
  if (!r.data) return nullptr;
  return LoadMenuIndirectW(static_cast<const MENUTEMPLATEW*>(r.data));
}

}  // namespace edms::win
