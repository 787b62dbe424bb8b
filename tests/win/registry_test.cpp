#include "common/win/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/scratch_key.h"

namespace edms::win {
namespace {

using testing::KeyExists;
using testing::RawGet;
using testing::RawSet;
using testing::RawSetNumber;
using testing::RawSetText;
using testing::ScratchKey;

const std::string kKorean = "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEB\xAC\xB8\xEC\x84\x9C.docx";

TEST(Registry, AbsentNameReadsEmptyAndWritesNothing) {
  ScratchKey scratch;
  CRegistry reg(CRegistry::kWrite);
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  CRegEntry& e = reg["Missing"];
  EXPECT_FALSE(e.HasValue());
  EXPECT_EQ(e.Text(), "");
  EXPECT_EQ(e.Number(), 0u);
  reg.Close();
  EXPECT_FALSE(RawGet(scratch.path(), "Missing"));
}

TEST(Registry, ReadingAMissingKeyFailsAndCreatesNothing) {
  ScratchKey scratch;
  CRegistry reg(CRegistry::kRead);
  EXPECT_EQ(reg.Open(scratch.Sub("nope")), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(KeyExists(scratch.Sub("nope")));

  CRegistry writing(CRegistry::kWrite);
  EXPECT_EQ(writing.Open(scratch.Sub("made")), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(scratch.Sub("made")));
}

TEST(Registry, NamesMatchWithoutRegardToCase) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetNumber(scratch.path(), "LanguageID", 1042));
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  const size_t loaded = reg.EntryCount();
  CRegEntry& lower = reg["languageid"];
  EXPECT_TRUE(lower.HasValue());
  EXPECT_EQ(lower.Number(), 1042u);
  EXPECT_EQ(&lower, &reg["LANGUAGEID"]);
  EXPECT_EQ(reg.EntryCount(), loaded);
}

TEST(Registry, NumbersReadAsUnsignedDecimalText) {
  const struct {
    DWORD value;
    const char* text;
  } cases[] = {{0, "0"}, {1042, "1042"}, {0x7FFFFFFF, "2147483647"}, {0xFFFFFFFF, "4294967295"}};
  ScratchKey scratch;
  for (const auto& c : cases) ASSERT_TRUE(RawSetNumber(scratch.path(), c.text, c.value));
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  for (const auto& c : cases) {
    EXPECT_EQ(reg[c.text].Text(), c.text);
    EXPECT_EQ(reg[c.text].Number(), c.value);
  }
}

TEST(Registry, TextReadsAsNumberWithBaseZeroRules) {
  const struct {
    const char* text;
    uint32_t number;
  } cases[] = {
      {"0x10", 16}, {"0X1f", 31},    {"010", 8},          {"12abc", 12},
      {"abc", 0},   {"", 0},         {"  42", 42},        {"4294967295", 4294967295u},
      {"09", 0},    {"1033", 1033},  {"99999999999", 0xFFFFFFFFu},
  };
  ScratchKey scratch;
  int i = 0;
  for (const auto& c : cases) ASSERT_TRUE(RawSetText(scratch.path(), "v" + std::to_string(i++), c.text));
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  i = 0;
  for (const auto& c : cases) {
    CRegEntry& e = reg["v" + std::to_string(i++)];
    EXPECT_EQ(e.Number(), c.number) << "text '" << c.text << "'";
    EXPECT_EQ(e.Text(), c.text);
  }
  // The cache converts the same way as a loaded value.
  reg["assigned"] = "0x10";
  EXPECT_EQ(reg["assigned"].Number(), 16u);
}

TEST(Registry, AssignmentsWriteThroughWithTheirTypes) {
  ScratchKey scratch;
  CRegistry reg(CRegistry::kWrite);
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  reg["Text"] = "hello";
  reg["Number"] = 4000000000u;
  reg.Close();

  auto text = RawGet(scratch.path(), "Text");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(text->AsWide(), std::wstring(L"hello", 6));  // terminator included

  auto number = RawGet(scratch.path(), "Number");
  ASSERT_TRUE(number);
  EXPECT_EQ(number->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number->AsNumber(), 4000000000u);
}

TEST(Registry, LoadsEveryKeptTypeAndSkipsTheOthers) {
  ScratchKey scratch;
  const std::string& p = scratch.path();
  ASSERT_TRUE(RawSetText(p, "Sz", "plain"));
  ASSERT_TRUE(RawSetNumber(p, "Dword", 7));
  const BYTE bin[] = {9, 8, 7};
  ASSERT_TRUE(RawSet(p, "Binary", REG_BINARY, bin, sizeof bin));
  const wchar_t multi[] = L"one\0two\0";  // plus the literal's own NUL
  ASSERT_TRUE(RawSet(p, "Multi", REG_MULTI_SZ, multi, sizeof multi));
  const wchar_t noNul[] = {L'x', L'y'};
  ASSERT_TRUE(RawSet(p, "SzNoNul", REG_SZ, noNul, sizeof noNul));
  const wchar_t expand[] = L"%TEMP%\\x";
  ASSERT_TRUE(RawSet(p, "Expand", REG_EXPAND_SZ, expand, sizeof expand));
  const uint64_t qword = 5;
  ASSERT_TRUE(RawSet(p, "Qword", REG_QWORD, &qword, sizeof qword));
  const DWORD shortDword = 0;
  ASSERT_TRUE(RawSet(p, "ShortDword", REG_DWORD, &shortDword, 2));

  CRegistry reg;
  ASSERT_EQ(reg.Open(p), ERROR_SUCCESS);
  EXPECT_EQ(reg["Sz"].Text(), "plain");
  EXPECT_EQ(reg["Dword"].Number(), 7u);
  EXPECT_EQ(reg["SzNoNul"].Text(), "xy");
  for (const char* absent : {"Binary", "Multi", "Expand", "Qword", "ShortDword"}) {
    EXPECT_FALSE(reg[absent].HasValue()) << absent;
    EXPECT_EQ(reg[absent].Text(), "") << absent;
    EXPECT_EQ(reg[absent].Number(), 0u) << absent;
  }
}

TEST(Registry, LongValuesAndNamesAreHeldWholeUpToTheLimit) {
  ScratchKey scratch;
  const std::string& p = scratch.path();
  const std::string longText(5000, 'x');
  const std::string longName(1000, 'n');
  const std::string koreanLong = [] {
    std::string s;
    for (int i = 0; i < 1500; ++i) s += "\xEA\xB0\x80";  // 3000 bytes as UTF-16
    return s;
  }();
  ASSERT_TRUE(RawSetText(p, "Long", longText));
  ASSERT_TRUE(RawSetText(p, longName, "named"));
  ASSERT_TRUE(RawSetText(p, "KoreanLong", koreanLong));
  // Just beyond what the registry class keeps: skipped, looks absent.
  const std::wstring huge(CRegistry::kMaxValueBytes / sizeof(wchar_t) + 1, L'A');
  ASSERT_TRUE(RawSet(p, "Huge", REG_SZ, huge.data(), huge.size() * sizeof(wchar_t)));
  const std::wstring atLimit(CRegistry::kMaxValueBytes / sizeof(wchar_t), L'B');
  ASSERT_TRUE(RawSet(p, "AtLimit", REG_SZ, atLimit.data(), atLimit.size() * sizeof(wchar_t)));

  CRegistry reg(CRegistry::kWrite);
  ASSERT_EQ(reg.Open(p), ERROR_SUCCESS);
  EXPECT_EQ(reg["Long"].Text(), longText);
  EXPECT_EQ(reg[longName].Text(), "named");
  EXPECT_EQ(reg["KoreanLong"].Text(), koreanLong);
  EXPECT_FALSE(reg["Huge"].HasValue());
  EXPECT_EQ(reg["AtLimit"].Text().size(), atLimit.size());

  // And the long forms write through whole.
  const std::string longer(9000, 'y');
  reg[longName] = longer;
  reg.Close();
  auto raw = RawGet(p, longName);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->AsText(), longer);
}

TEST(Registry, KoreanTextAndNamesRoundTrip) {
  ScratchKey scratch;
  {
    CRegistry reg(CRegistry::kWrite);
    ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
    reg["LocalPath"] = "C:\\\xEC\x9E\x91\xEC\x97\x85\\" + kKorean;
    reg[kKorean] = "value";
  }
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  EXPECT_EQ(reg["LocalPath"].Text(), "C:\\\xEC\x9E\x91\xEC\x97\x85\\" + kKorean);
  EXPECT_EQ(reg[kKorean].Text(), "value");
}

TEST(Registry, ReopeningTheSamePathKeepsEntriesAndReloads) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetText(scratch.path(), "Value", "first"));
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  CRegEntry* entry = &reg["Value"];
  EXPECT_EQ(entry->Text(), "first");

  ASSERT_TRUE(RawSetText(scratch.path(), "Value", "second"));
  std::string upper = scratch.path();
  for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(reg.Open(upper), ERROR_SUCCESS);
  EXPECT_EQ(&reg["value"], entry);
  EXPECT_EQ(entry->Text(), "second");
}

TEST(Registry, OpeningAnotherPathDiscardsEntries) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetText(scratch.Sub("a"), "Value", "from a"));
  ASSERT_TRUE(RawSetText(scratch.Sub("b"), "Other", "from b"));
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.Sub("a")), ERROR_SUCCESS);
  reg["CreatedOnly"];
  EXPECT_EQ(reg.EntryCount(), 2u);
  ASSERT_EQ(reg.Open(scratch.Sub("b")), ERROR_SUCCESS);
  EXPECT_EQ(reg.EntryCount(), 1u);
  EXPECT_FALSE(reg["Value"].HasValue());
  EXPECT_EQ(reg["Other"].Text(), "from b");
}

TEST(Registry, AssignmentsSayWhetherTheValueWasWritten) {
  ScratchKey scratch;
  {
    CRegistry reg(CRegistry::kWrite);
    ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
    EXPECT_TRUE(reg["Open"].SetText("written"));
    reg.Close();
    EXPECT_FALSE(reg["AfterClose"].SetText("cached only"));
    EXPECT_TRUE(reg["AfterClose"].HasValue());
    EXPECT_EQ(reg["AfterClose"].Text(), "cached only");
    EXPECT_FALSE(RawGet(scratch.path(), "AfterClose"));
  }
  {
    // Opened for reading, the handle has no right to set values: the system refuses them.
    CRegistry reg(CRegistry::kRead);
    ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
    EXPECT_FALSE(reg["Refused"].SetText("x"));
    EXPECT_FALSE(reg["Refused"].SetNumber(1));
    EXPECT_FALSE(RawGet(scratch.path(), "Refused"));
  }
}

TEST(Registry, RefreshMirrorsTheKey) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetText(scratch.path(), "Deleted", "old"));
  ASSERT_TRUE(RawSetText(scratch.path(), "Changed", "old"));
  CRegistry reg;
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  CRegEntry& deleted = reg["Deleted"];
  CRegEntry& changed = reg["Changed"];
  ASSERT_TRUE(deleted.HasValue());
  {
    UniqueHKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Widen(scratch.path()).c_str(), 0, KEY_SET_VALUE, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(key.get(), L"Deleted"), ERROR_SUCCESS);
  }
  ASSERT_TRUE(RawSetNumber(scratch.path(), "Changed", 7));
  ASSERT_EQ(reg.Refresh(), ERROR_SUCCESS);
  EXPECT_FALSE(deleted.HasValue());
  EXPECT_EQ(deleted.Text(), "");
  EXPECT_EQ(changed.Number(), 7u);
  EXPECT_EQ(&reg["deleted"], &deleted);  // the entry object stays
  reg.Close();
  EXPECT_EQ(reg.Refresh(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(changed.Number(), 7u);
}

TEST(Registry, LoadingWritesNothingBack) {
  // The cache cuts a text at its first NUL; a write-back would shorten the stored value.
  ScratchKey scratch;
  const wchar_t embedded[] = L"ab\0cd";
  ASSERT_TRUE(RawSet(scratch.path(), "Embedded", REG_SZ, embedded, sizeof embedded));
  CRegistry reg(CRegistry::kWrite);
  ASSERT_EQ(reg.Open(scratch.path()), ERROR_SUCCESS);
  EXPECT_EQ(reg["Embedded"].Text(), "ab");
  ASSERT_EQ(reg.Refresh(), ERROR_SUCCESS);
  reg.Close();
  auto raw = RawGet(scratch.path(), "Embedded");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->data.size(), sizeof embedded);
}

TEST(Registry, DeleteRegistryTreeRemovesTheWholeTree) {
  ScratchKey scratch;
  const std::string root = scratch.Sub("record");
  ASSERT_TRUE(RawSetText(root, "LocalPath", "x"));
  ASSERT_TRUE(RawSetText(root + "\\a", "v", "1"));
  ASSERT_TRUE(RawSetText(root + "\\a\\b\\c", "v", "2"));
  ASSERT_TRUE(RawSetText(root + "\\d", "v", "3"));
  ASSERT_TRUE(RawSetText(scratch.Sub("sibling"), "v", "stays"));

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, root));
  EXPECT_FALSE(KeyExists(root));
  EXPECT_TRUE(KeyExists(scratch.Sub("sibling")));
  // Deleting what is already gone counts as done; no path means nothing to do.
  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, root));
  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, ""));
}

}  // namespace
}  // namespace edms::win
