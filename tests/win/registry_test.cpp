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
  CRegistry reg;
  ASSERT_TRUE(reg.Open(scratch.path()));
  CRegEntry& e = reg["Missing"];
  EXPECT_FALSE(e.HasValue());
  EXPECT_EQ(e.Text(), "");
  EXPECT_EQ(e.Number(), 0u);
  EXPECT_TRUE(e.StringList().empty());
  const uint8_t one = 1;
  reg["Bytes"].SetBytes(&one, 0);  // an empty bytes assignment is no assignment
  EXPECT_FALSE(reg["Bytes"].HasValue());
  reg.Close();
  EXPECT_FALSE(RawGet(scratch.path(), "Missing"));
  EXPECT_FALSE(RawGet(scratch.path(), "Bytes"));
}

TEST(Registry, OpenWithoutCreateBitFailsOnMissingKeyAndCreatesNothing) {
  ScratchKey scratch;
  CRegistry reg(0);
  EXPECT_FALSE(reg.Open(scratch.Sub("nope")));
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(KeyExists(scratch.Sub("nope")));

  CRegistry creating(CRegistry::kCreate);
  EXPECT_TRUE(creating.Open(scratch.Sub("made")));
  EXPECT_TRUE(KeyExists(scratch.Sub("made")));
}

TEST(Registry, NamesMatchWithoutRegardToCase) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetNumber(scratch.path(), "LanguageID", 1042));
  CRegistry reg;
  ASSERT_TRUE(reg.Open(scratch.path()));
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
  ASSERT_TRUE(reg.Open(scratch.path()));
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
  ASSERT_TRUE(reg.Open(scratch.path()));
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
  CRegistry reg;
  ASSERT_TRUE(reg.Open(scratch.path()));
  reg["Text"] = "hello";
  reg["Number"] = 4000000000u;
  const uint8_t bytes[] = {0, 1, 0xFE, 0xFF};
  reg["Bytes"].SetBytes(bytes, sizeof bytes);
  reg["List"].SetStringList({"one", "", kKorean});
  reg.Close();

  auto text = RawGet(scratch.path(), "Text");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(text->AsWide(), std::wstring(L"hello", 6));  // terminator included

  auto number = RawGet(scratch.path(), "Number");
  ASSERT_TRUE(number);
  EXPECT_EQ(number->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number->AsNumber(), 4000000000u);

  auto raw = RawGet(scratch.path(), "Bytes");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(raw->data, std::vector<BYTE>(bytes, bytes + sizeof bytes));

  auto list = RawGet(scratch.path(), "List");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->type, static_cast<DWORD>(REG_MULTI_SZ));
  std::wstring expected = L"one";
  expected += L'\0';
  expected += Widen(kKorean);
  expected += L'\0';
  expected += L'\0';
  EXPECT_EQ(list->AsWide(), expected);
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
  const wchar_t unterminated[] = {L'a', L'\0', L'b', L'c'};
  ASSERT_TRUE(RawSet(p, "MultiNoEnd", REG_MULTI_SZ, unterminated, sizeof unterminated));
  const wchar_t noNul[] = {L'x', L'y'};
  ASSERT_TRUE(RawSet(p, "SzNoNul", REG_SZ, noNul, sizeof noNul));
  const wchar_t expand[] = L"%TEMP%\\x";
  ASSERT_TRUE(RawSet(p, "Expand", REG_EXPAND_SZ, expand, sizeof expand));
  const uint64_t qword = 5;
  ASSERT_TRUE(RawSet(p, "Qword", REG_QWORD, &qword, sizeof qword));
  const DWORD shortDword = 0;
  ASSERT_TRUE(RawSet(p, "ShortDword", REG_DWORD, &shortDword, 2));

  CRegistry reg;
  ASSERT_TRUE(reg.Open(p));
  EXPECT_EQ(reg["Sz"].Text(), "plain");
  EXPECT_EQ(reg["Dword"].Number(), 7u);
  EXPECT_EQ(reg["Binary"].Bytes(), std::vector<uint8_t>(bin, bin + sizeof bin));
  EXPECT_EQ(reg["Multi"].StringList(), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(reg["Multi"].Text(), std::string("one\0two\0", 8));
  EXPECT_EQ(reg["MultiNoEnd"].StringList(), (std::vector<std::string>{"a", "bc"}));
  EXPECT_EQ(reg["SzNoNul"].Text(), "xy");
  for (const char* absent : {"Expand", "Qword", "ShortDword"}) {
    EXPECT_FALSE(reg[absent].HasValue()) << absent;
    EXPECT_EQ(reg[absent].Text(), "") << absent;
    EXPECT_EQ(reg[absent].Number(), 0u) << absent;
  }
  // A list is no text and no number; a text is no list.
  EXPECT_EQ(reg["Multi"].Number(), 0u);
  EXPECT_TRUE(reg["Sz"].StringList().empty());
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
  std::vector<BYTE> huge(CRegistry::kMaxValueBytes + 2, 0x41);
  ASSERT_TRUE(RawSet(p, "Huge", REG_BINARY, huge.data(), huge.size()));
  std::vector<BYTE> atLimit(CRegistry::kMaxValueBytes, 0x42);
  ASSERT_TRUE(RawSet(p, "AtLimit", REG_BINARY, atLimit.data(), atLimit.size()));

  CRegistry reg;
  ASSERT_TRUE(reg.Open(p));
  EXPECT_EQ(reg["Long"].Text(), longText);
  EXPECT_EQ(reg[longName].Text(), "named");
  EXPECT_EQ(reg["KoreanLong"].Text(), koreanLong);
  EXPECT_FALSE(reg["Huge"].HasValue());
  EXPECT_EQ(reg["AtLimit"].Bytes().size(), atLimit.size());

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
    CRegistry reg;
    ASSERT_TRUE(reg.Open(scratch.path()));
    reg["LocalPath"] = "C:\\\xEC\x9E\x91\xEC\x97\x85\\" + kKorean;
    reg[kKorean] = "value";
    reg["List"].SetStringList({kKorean, "b"});
    reg.Close();
  }
  CRegistry reg;
  ASSERT_TRUE(reg.Open(scratch.path()));
  EXPECT_EQ(reg["LocalPath"].Text(), "C:\\\xEC\x9E\x91\xEC\x97\x85\\" + kKorean);
  EXPECT_EQ(reg[kKorean].Text(), "value");
  EXPECT_EQ(reg["List"].StringList(), (std::vector<std::string>{kKorean, "b"}));
}

TEST(Registry, ReopeningTheSamePathKeepsEntriesAndReloads) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetText(scratch.path(), "Value", "first"));
  CRegistry reg;
  ASSERT_TRUE(reg.Open(scratch.path()));
  CRegEntry* entry = &reg["Value"];
  EXPECT_EQ(entry->Text(), "first");

  ASSERT_TRUE(RawSetText(scratch.path(), "Value", "second"));
  std::string upper = scratch.path();
  for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(reg.Open(upper));
  EXPECT_EQ(&reg["value"], entry);
  EXPECT_EQ(entry->Text(), "second");
}

TEST(Registry, OpeningAnotherPathDiscardsEntries) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetText(scratch.Sub("a"), "Value", "from a"));
  ASSERT_TRUE(RawSetText(scratch.Sub("b"), "Other", "from b"));
  CRegistry reg;
  ASSERT_TRUE(reg.Open(scratch.Sub("a")));
  reg["CreatedOnly"];
  EXPECT_EQ(reg.EntryCount(), 2u);
  ASSERT_TRUE(reg.Open(scratch.Sub("b")));
  EXPECT_EQ(reg.EntryCount(), 1u);
  EXPECT_FALSE(reg["Value"].HasValue());
  EXPECT_EQ(reg["Other"].Text(), "from b");
}

TEST(Registry, AssignmentsSayWhetherTheValueWasWritten) {
  ScratchKey scratch;
  {
    CRegistry reg(CRegistry::kCreate);
    ASSERT_TRUE(reg.Open(scratch.path()));
    EXPECT_TRUE(reg["Open"].SetText("written"));
    reg.Close();
    EXPECT_FALSE(reg["AfterClose"].SetText("cached only"));
    EXPECT_TRUE(reg["AfterClose"].HasValue());
    EXPECT_EQ(reg["AfterClose"].Text(), "cached only");
    EXPECT_FALSE(RawGet(scratch.path(), "AfterClose"));
  }
  {
    CRegistry reg(CRegistry::kCreate | CRegistry::kOpenPerAccess);
    ASSERT_TRUE(reg.Open(scratch.path()));
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_TRUE(reg["PerAccess"].SetNumber(5u));
    auto raw = RawGet(scratch.path(), "PerAccess");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->AsNumber(), 5u);
    EXPECT_FALSE(reg.IsOpen());
  }
  {
    // A key the system lets us read but not write: every assignment answers false.
    CRegistry reg(CRegistry::kCreate);
    ASSERT_TRUE(reg.Open(scratch.path(), HKEY_CURRENT_USER, KEY_QUERY_VALUE));
    EXPECT_FALSE(reg["Refused"].SetText("x"));
    EXPECT_FALSE(reg["Refused"].SetNumber(1));
    EXPECT_FALSE(reg["Refused"].SetStringList({"a"}));
    const uint8_t byte = 1;
    EXPECT_FALSE(reg["Refused"].SetBytes(&byte, 1));
    EXPECT_FALSE(RawGet(scratch.path(), "Refused"));
  }
}

TEST(Registry, ReReadBitReloadsBeforeEveryRead) {
  const struct {
    uint32_t flags;
    bool seesChange;
  } cases[] = {
      {CRegistry::kCreate, false},
      {CRegistry::kCreate | CRegistry::kReRead, true},
      {CRegistry::kCreate | CRegistry::kReRead | CRegistry::kOpenPerAccess, true},
  };
  for (const auto& c : cases) {
    ScratchKey scratch;
    ASSERT_TRUE(RawSetText(scratch.path(), "Text", "old"));
    ASSERT_TRUE(RawSetNumber(scratch.path(), "Number", 1));
    CRegistry reg(c.flags);
    ASSERT_TRUE(reg.Open(scratch.path()));
    CRegEntry& text = reg["Text"];
    CRegEntry& number = reg["Number"];
    ASSERT_TRUE(RawSetText(scratch.path(), "Text", "new"));
    ASSERT_TRUE(RawSetNumber(scratch.path(), "Number", 2));
    EXPECT_EQ(text.Text(), c.seesChange ? "new" : "old") << "flags " << c.flags;
    EXPECT_EQ(number.Number(), c.seesChange ? 2u : 1u) << "flags " << c.flags;
    // A value that appears later is found by the reload, too.
    ASSERT_TRUE(RawSetText(scratch.path(), "Late", "here"));
    CRegEntry& late = reg["Late"];
    EXPECT_EQ(late.Text(), c.seesChange ? "here" : "") << "flags " << c.flags;
  }
}

TEST(Registry, LoadingWritesNothingBack) {
  // The cache cuts a text at its first NUL; a write-back would shorten the stored value.
  ScratchKey scratch;
  const wchar_t embedded[] = L"ab\0cd";
  ASSERT_TRUE(RawSet(scratch.path(), "Embedded", REG_SZ, embedded, sizeof embedded));
  CRegistry reg(CRegistry::kCreate | CRegistry::kReRead);
  ASSERT_TRUE(reg.Open(scratch.path()));
  EXPECT_EQ(reg["Embedded"].Text(), "ab");
  ASSERT_TRUE(reg.Refresh());
  reg.Close();
  auto raw = RawGet(scratch.path(), "Embedded");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->data.size(), sizeof embedded);
}

TEST(Registry, DeleteKeyRemovesTheWholeTree) {
  ScratchKey scratch;
  const std::string root = scratch.Sub("record");
  ASSERT_TRUE(RawSetText(root, "LocalPath", "x"));
  ASSERT_TRUE(RawSetText(root + "\\a", "v", "1"));
  ASSERT_TRUE(RawSetText(root + "\\a\\b\\c", "v", "2"));
  ASSERT_TRUE(RawSetText(root + "\\d", "v", "3"));
  ASSERT_TRUE(RawSetText(scratch.Sub("sibling"), "v", "stays"));

  CRegistry reg;
  ASSERT_TRUE(reg.Open(root));
  EXPECT_TRUE(reg.DeleteKey());
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(KeyExists(root));
  EXPECT_TRUE(KeyExists(scratch.Sub("sibling")));
  // Deleting what is already gone counts as done; no path means nothing to do.
  EXPECT_TRUE(reg.DeleteKey());
  EXPECT_FALSE(CRegistry().DeleteKey());
  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, ""));
}

}  // namespace
}  // namespace edms::win
