// The user-interface language of a program run, and resource loading in that language.
// Resources are looked up explicitly by language (Wine ignores the thread UI language for
// resource lookup), falling back to English (1033), then language-neutral.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/win/client_config.h"

namespace edms::win {

inline constexpr LANGID kLangEnglish = 1033;
inline constexpr LANGID kLangKorean = 1042;

// Tells the system the language (SetThreadUILanguage) and remembers it as the language of
// this run.
void ApplyLanguage(LANGID language);

// The agent's rule: acts only when config.LanguageID is non-zero. True when it acted.
bool ApplyAgentLanguage(const ClientConfig& config);

// The language given to ApplyLanguage; 0 when none was applied (or 0 was).
LANGID ChosenLanguage();
// The language resources are looked up in first: the chosen one when it is non-zero,
// otherwise the user's default UI language.
LANGID EffectiveLanguage();

// String `id` in EffectiveLanguage() (or `language`), else 1033, else neutral; empty when
// no table holds it.
std::string LoadStringLang(HINSTANCE instance, UINT id);
std::string LoadStringLang(HINSTANCE instance, UINT id, LANGID language);
// String `id` of exactly `language`'s table, with no fallback; empty when that table lacks it.
std::string LoadStringExact(HINSTANCE instance, UINT id, LANGID language);

// The template of dialog `id` in the same language order; null when there is none. The
// pointer stays valid for the life of the module.
const DLGTEMPLATE* FindDialogTemplateLang(HINSTANCE instance, int id);
const DLGTEMPLATE* FindDialogTemplateLang(HINSTANCE instance, int id, LANGID language);

// DialogBoxParamW / CreateDialogParamW from the template in the run's language.
// -1 / null when the template is missing or the dialog cannot be created.
INT_PTR DialogBoxLang(HINSTANCE instance, int id, HWND parent, DLGPROC proc, LPARAM param);
HWND CreateDialogLang(HINSTANCE instance, int id, HWND parent, DLGPROC proc, LPARAM param);

// Menu `id` in the run's language; null when missing. The caller owns it (UniqueHMenu).
HMENU LoadMenuLang(HINSTANCE instance, int id);

}  // namespace edms::win
