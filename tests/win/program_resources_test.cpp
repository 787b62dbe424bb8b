#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "common/win/certificate_text.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/process.h"
#include "common/win/text.h"
#include "edms_programs.h"

namespace edms::win {
namespace {

// Resource names: "#<id>" for a numbered one.
using Names = std::set<std::string>;

BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<Names*>(names)->insert(IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name))
                                                               : Narrow(name));
  return TRUE;
}

Names NamesOf(HMODULE module, LPCWSTR type) {
  Names names;
  EnumResourceNamesW(module, type, AddName, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

// "#<id>" is the system's own spelling of a numbered resource's name.
HRSRC Find(HMODULE module, LPCWSTR type, const std::string& name, LANGID language) {
  return FindResourceExW(module, type, Widen(name).c_str(), language);
}

// The resources of `type` that `language` has.
Names NamesIn(HMODULE module, LPCWSTR type, LANGID language) {
  Names names;
  for (const std::string& name : NamesOf(module, type)) {
    if (Find(module, type, name, language)) names.insert(name);
  }
  return names;
}

// The ids of the non-empty strings of `language`'s table. A block holds 16 strings, each a
// length word followed by that many characters.
Names StringIds(HMODULE module, LANGID language) {
  Names ids;
  for (const std::string& block : NamesIn(module, RT_STRING, language)) {
    HRSRC found = Find(module, RT_STRING, block, language);
    const auto* p = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
    const size_t total = SizeofResource(module, found) / sizeof(WCHAR);
    const unsigned long first = (std::stoul(block.substr(1)) - 1) * 16;
    for (size_t i = 0, pos = 0; i < 16 && pos < total; ++i) {
      const size_t length = p[pos++];
      if (length > 0) ids.insert("#" + std::to_string(first + i));
      pos += length;
    }
  }
  return ids;
}

std::vector<std::string> Missing(const Names& from, const Names& in) {
  std::vector<std::string> missing;
  std::set_difference(from.begin(), from.end(), in.begin(), in.end(), std::back_inserter(missing));
  return missing;
}

// Every program built beside this test, read as the shipped file: whatever text, dialog or
// menu one language has, the other has too, and every one carries the certificate texts.
TEST(ProgramResources, EnglishAndKoreanCarryTheSameIds) {
  const std::vector<std::string> none;
  for (const std::string file : {EDMS_PROGRAM_FILES}) {
    SCOPED_TRACE(file);
    const UniqueHModule module(LoadLibraryExW(Widen(GetAgentFolder() + "\\" + file).c_str(), nullptr,
                                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    const Names english = StringIds(module.get(), kLangEnglish), korean = StringIds(module.get(), kLangKorean);
    EXPECT_FALSE(english.empty());
    EXPECT_EQ(Missing(english, korean), none) << "strings only in English";
    EXPECT_EQ(Missing(korean, english), none) << "strings only in Korean";
    // A program without them would tell a refused certificate by WinInet's number.
    for (int id = IDS_CERT_UNTRUSTED; id <= IDS_CERT_SECURE_CHANNEL; ++id) {
      EXPECT_EQ(english.count("#" + std::to_string(id)), 1u) << "no certificate text " << id;
    }
    for (LPCWSTR type : {RT_DIALOG, RT_MENU}) {
      const Names inEnglish = NamesIn(module.get(), type, kLangEnglish);
      const Names inKorean = NamesIn(module.get(), type, kLangKorean);
      EXPECT_EQ(Missing(inEnglish, inKorean), none) << (type == RT_DIALOG ? "dialogs" : "menus") << " only in English";
      EXPECT_EQ(Missing(inKorean, inEnglish), none) << (type == RT_DIALOG ? "dialogs" : "menus") << " only in Korean";
    }
  }
}

}  // namespace
}  // namespace edms::win
