#include "common/name_rule.h"

#include <gtest/gtest.h>

#include <string>

namespace edms {
namespace {

using P = NameProblem;

TEST(CheckNameText, JudgesTheWholeName) {
  struct Case {
    std::string name;
    NameProblem problem;
  } cases[] = {
      {"report.pdf", P::kNone},
      {"\xED\x9A\x8C\xEC\x9D\x98\xEB\xA1\x9D.txt", P::kNone},  // Korean
      {"archive.tar.gz", P::kNone},
      {"README", P::kNone},
      {".profile", P::kNone},
      {"con.txt.bak", P::kDeviceName},
      {"console.txt", P::kNone},
      {"COM10.txt", P::kNone},
      {"LPT", P::kNone},
      {"", P::kEmpty},
      {"bad\xFF.txt", P::kNotText},
      {std::string(255, 'a'), P::kNone},
      {std::string(256, 'a'), P::kTooLong},
      {"a/b.txt", P::kPath},
      {"a\\b.txt", P::kPath},
      {"C:evil.txt", P::kPath},
      {"doc.txt:stream", P::kPath},
      {".", P::kPath},
      {"..", P::kPath},
      {"tab\there.txt", P::kForbiddenCharacter},
      {"del\x7f.txt", P::kForbiddenCharacter},
      {"c1\xC2\x85.txt", P::kForbiddenCharacter},
      {"inv\xE2\x80\xAEgpj.exe", P::kForbiddenCharacter},  // right-to-left override
      {"iso\xE2\x81\xA6x.txt", P::kForbiddenCharacter},    // left-to-right isolate
      {"mark\xE2\x80\x8F.txt", P::kForbiddenCharacter},    // right-to-left mark
      {"what?.txt", P::kForbiddenCharacter},
      {"a\"b.txt", P::kForbiddenCharacter},
      {"report.pdf.", P::kTrailingDotOrBlank},
      {"report.pdf ", P::kTrailingDotOrBlank},
      {"CON", P::kDeviceName},
      {"nul.txt", P::kDeviceName},
      {"Aux.tar.gz", P::kDeviceName},
      {"con .txt", P::kDeviceName},
      {"prn", P::kDeviceName},
      {"COM1", P::kDeviceName},
      {"com9.log", P::kDeviceName},
      {"LPT0.doc", P::kDeviceName},
      {"COM\xC2\xB9.txt", P::kDeviceName},  // superscript one
      {"lpt\xC2\xB3", P::kDeviceName},      // superscript three
      {"CONOUT$.txt", P::kDeviceName},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckNameText(c.name), c.problem) << c.name;
}

TEST(ShellExtension, IsWhatWindowsKeeps) {
  struct Case {
    std::string name, extension;
  } cases[] = {
      {"report.PDF", ".pdf"}, {"run.exe. . ", ".exe"}, {"a.tar.gz", ".gz"}, {"README", ""}, {"dots...", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ShellExtension(c.name), c.extension) << c.name;
}

TEST(IsProgramExtension, FixedListAndPathext) {
  const std::string pathext = ".COM;.EXE; .Foo ;;.BAR";
  struct Case {
    std::string extension;
    bool program;
  } cases[] = {
      {".exe", true}, {".lnk", true}, {".url", true}, {".hta", true}, {".js", true}, {".ps1", true},
      {".foo", true}, {".bar", true}, {".pdf", false}, {".docx", false}, {".txt", false}, {"", false},
      {".fo", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsProgramExtension(c.extension, pathext), c.program) << c.extension;
}

TEST(IsOpenableType, DocumentsOnlyUnlessTheAdministratorSaysOtherwise) {
  struct Case {
    const char* extension;
    const char* configured;
    bool openable;
  } cases[] = {
      {".docx", "", true},  {".PDF", "", true},    {".hwp", "", true},   {".zip", "", true},
      {".html", "", false}, {".svg", "", false},   {".theme", "", false}, {".rdp", "", false},
      {".xlam", "", false}, {".one", "", false},   {".iqy", "", false},  {".appinstaller", "", false},
      {"", "", false},      {"", "*", true},      {".svg", "*", true},  {".html", " .pdf ; HTML ", true},
      {".pdf", ".html", false},  // a list of its own replaces the default one
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsOpenableType(c.extension, c.configured), c.openable) << c.extension << " with '" << c.configured << "'";
  }
}

}  // namespace
}  // namespace edms
