#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "common/win/app_icon.h"
#include "common/win/checkout_record.h"
#include "common/win/client_config.h"
#include "common/win/dialog.h"
#include "common/win/language.h"
#include "common/win/process.h"
#include "common/win/program_start.h"
#include "common/win/registry.h"
#include "tests/win/scratch_key.h"

namespace edms::win {
namespace {

using testing::KeyAccessLimit;
using testing::KeyExists;
using testing::RawGet;
using testing::RawSet;
using testing::RawSetNumber;
using testing::RawSetText;
using testing::ScratchKey;

const std::string kKoreanHello = "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94";
const std::string kKoreanCaption = "\xEB\xB3\xB4\xEA\xB8\xB0";

// A path no key can have: one component longer than the registry allows.
std::string UnopenablePath(const ScratchKey& scratch) { return scratch.Sub(std::string(300, 'k')); }

// ---- configuration ----

TEST(ClientConfig, LoadReadsEveryField) {
  ScratchKey scratch;
  const std::string& p = scratch.path();
  const struct {
    const char* name;
    const char* value;
  } texts[] = {
      {"VersionableTypes", "doc;xls"}, {"UserId", "u1"},
      {"EdmUserId", "edm7"},           {"AdaptorURL", "http://127.0.0.1:8080/a"},
      {"WorkFolder", "C:\\work"},      {"DownloadFolder", "C:\\\xEB\xB0\x9B\xEC\x9D\x8C"},
      {"ServerAddress", "srv"},        {"AppType", "EDMS_AGENT"},
      {"AppLastModified", "2024"},     {"UpdateURL", "http://u"},
      {"AppVersion", "1.2.3"},
  };
  for (const auto& t : texts) ASSERT_TRUE(RawSetText(p, t.name, t.value));
  ASSERT_TRUE(RawSetNumber(p, "LanguageID", 0x10412));  // only the low 16 bits count
  ASSERT_TRUE(RawSetNumber(p, "NoticeCheckTime", 5));
  ASSERT_TRUE(RawSetText(p, "UpdateCheckTime", "0x3c"));

  ClientConfig c;
  ASSERT_EQ(LoadClientConfig(p, c), ERROR_SUCCESS);
  EXPECT_EQ(c.KeyPath, p);
  EXPECT_EQ(c.VersionableTypes, "doc;xls");
  EXPECT_EQ(c.UserId, "u1");
  EXPECT_EQ(c.EdmUserId, "edm7");
  EXPECT_EQ(c.AdaptorURL, "http://127.0.0.1:8080/a");
  EXPECT_EQ(c.WorkFolder, "C:\\work");
  EXPECT_EQ(c.DownloadFolder, "C:\\\xEB\xB0\x9B\xEC\x9D\x8C");
  EXPECT_EQ(c.ServerAddress, "srv");
  EXPECT_EQ(c.AppType, "EDMS_AGENT");
  EXPECT_EQ(c.AppLastModified, "2024");
  EXPECT_EQ(c.UpdateURL, "http://u");
  EXPECT_EQ(c.AppVersion, "1.2.3");
  EXPECT_EQ(c.LanguageID, 0x0412);
  EXPECT_EQ(c.NoticeCheckTime, 5u);
  EXPECT_EQ(c.UpdateCheckTime, 60u);
}

TEST(ClientConfig, FailedLoadLeavesTheRecordUnchanged) {
  ScratchKey scratch;
  ClientConfig c;
  c.WorkFolder = "kept";
  c.KeyPath = "old";
  EXPECT_NE(LoadClientConfig(UnopenablePath(scratch), c), ERROR_SUCCESS);
  EXPECT_EQ(c.WorkFolder, "kept");
  EXPECT_EQ(c.KeyPath, "old");
}

// An administrator may leave the key readable but not writable: every reader asks only to
// read, creates nothing, and says why it could not.
TEST(ClientConfig, EveryReaderNeedsOnlyTheRightToRead) {
  const struct {
    const char* what;
    std::optional<DWORD> rights;  // none: no key at all
    LONG status;
  } cases[] = {
      {"read-only", KEY_READ, ERROR_SUCCESS},
      {"unreadable", READ_CONTROL, ERROR_ACCESS_DENIED},
      {"missing", std::nullopt, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchKey scratch;
    const std::string config = scratch.Sub("Config"), records = scratch.Sub("CheckOuts");
    std::optional<KeyAccessLimit> configLimit, recordLimit;
    if (c.rights) {
      ASSERT_TRUE(RawSetText(config, "AppType", "EDMS_AGENT"));
      ASSERT_TRUE(RawSetNumber(config, "LanguageID", 1042));
      ASSERT_TRUE(RawSetText(config, "EdmsURL", "http://edms"));
      ASSERT_TRUE(WriteCheckOutRecord("oid", {"p", "C:\\w\\a.doc", "1.0", "F", std::nullopt}, records));
      configLimit.emplace(config, *c.rights);
      recordLimit.emplace(records + "\\oid", *c.rights);
      ASSERT_TRUE(configLimit->ok() && recordLimit->ok());
    }
    const bool read = c.status == ERROR_SUCCESS;
    ClientConfig client;
    EXPECT_EQ(LoadClientConfig(config, client), c.status);
    EXPECT_EQ(client.AppType, read ? "EDMS_AGENT" : "");
    AgentSettings agent;
    EXPECT_EQ(LoadAgentSettings(config, agent), c.status);
    EXPECT_EQ(agent.edmsUrl, read ? "http://edms" : "");
    const ProgramSettings program = LoadProgramSettings(false, config);
    EXPECT_EQ(program.status, c.status);
    EXPECT_EQ(program.language, read ? 1042 : 0);
    const std::optional<CheckOutRecord> record = ReadCheckOutRecord("oid", records);
    EXPECT_EQ(record ? record->localPath : "-", read ? "C:\\w\\a.doc" : "-");
    if (!c.rights) {
      EXPECT_FALSE(KeyExists(config));
    }
  }
}

TEST(ClientConfig, SaveWritesOnlyTheAgentOwnedValues) {
  ScratchKey scratch;
  const std::string& p = scratch.path();
  ASSERT_TRUE(RawSetText(p, "AppType", "installed"));
  ClientConfig c;
  c.KeyPath = p;
  c.VersionableTypes = "v";
  c.UserId = "u";
  c.EdmUserId = "e";
  c.ServerAddress = "s";
  c.AdaptorURL = "a";
  c.WorkFolder = "w";
  c.DownloadFolder = "d";
  c.AppType = "EDMS_AGENT";
  c.AppLastModified = "m";
  c.UpdateURL = "uu";
  c.AppVersion = "9";
  c.LanguageID = 1042;
  c.NoticeCheckTime = 3;
  c.UpdateCheckTime = 0;
  ASSERT_TRUE(SaveClientConfig(c));

  const struct {
    const char* name;
    const char* text;
  } written[] = {{"VersionableTypes", "v"}, {"UserId", "u"},    {"EdmUserId", "e"},
                 {"ServerAddress", "s"},    {"AdaptorURL", "a"}, {"WorkFolder", "w"},
                 {"DownloadFolder", "d"}};
  for (const auto& w : written) {
    auto raw = RawGet(p, w.name);
    ASSERT_TRUE(raw) << w.name;
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_SZ)) << w.name;
    EXPECT_EQ(raw->AsText(), w.text) << w.name;
  }
  const struct {
    const char* name;
    DWORD value;
  } numbers[] = {{"LanguageID", 1042}, {"NoticeCheckTime", 3}, {"UpdateCheckTime", 0}};
  for (const auto& n : numbers) {
    auto raw = RawGet(p, n.name);
    ASSERT_TRUE(raw) << n.name;
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_DWORD)) << n.name;
    EXPECT_EQ(raw->AsNumber(), n.value) << n.name;
  }
  EXPECT_EQ(RawGet(p, "AppType")->AsText(), "installed");
  for (const char* never : {"AppLastModified", "UpdateURL", "AppVersion"}) {
    EXPECT_FALSE(RawGet(p, never)) << never;
  }
}

TEST(ClientConfig, SaveWithLanguageZeroKeepsTheStoredLanguage) {
  const struct {
    std::optional<DWORD> before;
    std::optional<DWORD> after;
  } cases[] = {{1042, 1042}, {std::nullopt, std::nullopt}, {0, 0}};
  for (const auto& c : cases) {
    ScratchKey scratch;
    if (c.before) {
      ASSERT_TRUE(RawSetNumber(scratch.path(), "LanguageID", *c.before));
    }
    ClientConfig config;
    config.KeyPath = scratch.path();
    config.LanguageID = 0;
    ASSERT_TRUE(SaveClientConfig(config));
    auto raw = RawGet(scratch.path(), "LanguageID");
    ASSERT_EQ(raw.has_value(), c.after.has_value());
    if (raw) {
      EXPECT_EQ(raw->AsNumber(), *c.after);
    }
  }
}

TEST(ClientConfig, SaveRefusesAMissingOrUnopenablePath) {
  ScratchKey scratch;
  ClientConfig c;
  c.WorkFolder = "w";
  EXPECT_FALSE(SaveClientConfig(c));  // no key path: would be HKCU itself
  c.KeyPath = UnopenablePath(scratch);
  EXPECT_FALSE(SaveClientConfig(c));
}

// ---- check-out records ----

TEST(CheckOutRecord, WriteReadOverwrite) {
  ScratchKey scratch;
  const std::string oid = "0900000180001234";
  ASSERT_TRUE(WriteCheckOutRecord(oid, {"p1", "C:\\w\\a(1).doc", "1.0", "FALSE", std::nullopt}, scratch.path()));
  ASSERT_TRUE(WriteCheckOutRecord(oid, {"p2", "C:\\w\\" + kKoreanHello + ".doc", "2.0", "TRUE", std::nullopt},
                                  scratch.path()));
  auto record = ReadCheckOutRecord(oid, scratch.path());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->pageId, "p2");
  EXPECT_EQ(record->localPath, "C:\\w\\" + kKoreanHello + ".doc");
  EXPECT_EQ(record->version, "2.0");
  EXPECT_EQ(record->immutable, "TRUE");
  for (const char* name : {"PageId", "LocalPath", "Version", "Immutable"}) {
    auto raw = RawGet(scratch.Sub(oid), name);
    ASSERT_TRUE(raw) << name;
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_SZ)) << name;
  }
}

TEST(CheckOutRecord, TheCopysStampTravelsWhole) {
  ScratchKey scratch;
  const FileStamp stamp{0x01DB0000FFFFFFFFull, (5ull << 30) + 1};  // beyond 32 bits both
  ASSERT_TRUE(WriteCheckOutRecord("s", {"p", "l", "v", "i", stamp}, scratch.path()));
  auto record = ReadCheckOutRecord("s", scratch.path());
  ASSERT_TRUE(record && record->stamp);
  EXPECT_EQ(*record->stamp, stamp);
  // A record without a stamp, or with one that is not two decimal numbers, has none.
  const struct {
    const char* time;
    const char* size;
  } broken[] = {{nullptr, nullptr}, {"12", nullptr}, {"12", "x"}, {"-1", "3"}, {"99999999999999999999", "3"}};
  for (const auto& c : broken) {
    ASSERT_TRUE(WriteCheckOutRecord("t", {"p", "l", "v", "i", std::nullopt}, scratch.path()));
    if (c.time) {
      ASSERT_TRUE(RawSetText(scratch.Sub("t"), "CopyLastWrite", c.time));
    }
    if (c.size) {
      ASSERT_TRUE(RawSetText(scratch.Sub("t"), "CopySize", c.size));
    }
    record = ReadCheckOutRecord("t", scratch.path());
    ASSERT_TRUE(record);
    EXPECT_FALSE(record->stamp) << (c.time ? c.time : "-") << " " << (c.size ? c.size : "-");
    DeleteCheckOutRecord("t", scratch.path());
  }
}

TEST(CheckOutRecord, RecordsWhoseCopiesHoldUncheckedEditsAreFound) {
  ScratchKey scratch;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  const std::string folder = Narrow(temp) + "edms-edits-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryW(Widen(folder).c_str(), nullptr);
  auto write = [&](const std::string& name, const std::string& bytes) {
    const std::string path = folder + "\\" + name;
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD wrote = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
    CloseHandle(file);
    return path;
  };
  const std::string same = write("same", "abc"), edited = write("edited", "abc"), old = write("old", "abc");
  ASSERT_TRUE(WriteCheckOutRecord("same", {"p", same, "1.0", "F", GetFileStamp(same)}, scratch.path()));
  ASSERT_TRUE(WriteCheckOutRecord("edited", {"p", edited, "1.0", "F", GetFileStamp(edited)}, scratch.path()));
  write("edited", "abcd");  // saved in its editor after the check-out
  ASSERT_TRUE(WriteCheckOutRecord("old", {"p", old, "1.0", "F", std::nullopt}, scratch.path()));
  ASSERT_TRUE(WriteCheckOutRecord("gone", {"p", folder + "\\gone", "1.0", "F", std::nullopt}, scratch.path()));
  std::map<std::string, bool> edits;
  for (const auto& [oid, record] : ListCheckOutRecords(scratch.path())) edits[oid] = MayHoldUncheckedEdits(record);
  // A record without a stamp cannot tell: its copy counts as edited. No copy, nothing to lose.
  EXPECT_EQ(edits, (std::map<std::string, bool>{{"same", false}, {"edited", true}, {"old", true}, {"gone", false}}));
  EXPECT_TRUE(ListCheckOutRecords(scratch.Sub("none")).empty());
  for (const char* name : {"same", "edited", "old"}) DeleteFileW(Widen(folder + "\\" + name).c_str());
  RemoveDirectoryW(Widen(folder).c_str());
}

TEST(CheckOutRecord, ReadOfAMissingRecordCreatesNothing) {
  ScratchKey scratch;
  EXPECT_FALSE(ReadCheckOutRecord("absent", scratch.path()));
  EXPECT_FALSE(KeyExists(scratch.Sub("absent")));
}

TEST(CheckOutRecord, DeleteRemovesSubkeysButNotOtherRecords) {
  ScratchKey scratch;
  ASSERT_TRUE(WriteCheckOutRecord("a", {"p", "l", "v", "i", std::nullopt}, scratch.path()));
  ASSERT_TRUE(WriteCheckOutRecord("b", {"p", "l", "v", "i", std::nullopt}, scratch.path()));
  ASSERT_TRUE(RawSetText(scratch.Sub("a\\extra\\deeper"), "x", "y"));
  EXPECT_TRUE(DeleteCheckOutRecord("a", scratch.path()));
  EXPECT_FALSE(KeyExists(scratch.Sub("a")));
  EXPECT_FALSE(ReadCheckOutRecord("a", scratch.path()));
  EXPECT_TRUE(ReadCheckOutRecord("b", scratch.path()));
  EXPECT_TRUE(DeleteCheckOutRecord("gone-already", scratch.path()));
}

TEST(CheckOutRecord, UnusableObjectIdsAreRefusedAndTouchNothing) {
  ScratchKey scratch;
  ASSERT_TRUE(RawSetText(scratch.path(), "marker", "x"));
  ASSERT_TRUE(WriteCheckOutRecord("inner", {"p", "l", "v", "i", std::nullopt}, scratch.path()));
  const std::string bad[] = {"", "\\", "a\\b", "..\\inner", std::string("a\0b", 3)};
  for (const auto& oid : bad) {
    EXPECT_FALSE(WriteCheckOutRecord(oid, {"p", "l", "v", "i", std::nullopt}, scratch.path())) << oid;
    EXPECT_FALSE(ReadCheckOutRecord(oid, scratch.path())) << oid;
    EXPECT_FALSE(DeleteCheckOutRecord(oid, scratch.path())) << oid;
  }
  EXPECT_TRUE(KeyExists(scratch.Sub("inner")));
  EXPECT_FALSE(RawGet(scratch.path(), "PageId"));
  EXPECT_TRUE(RawGet(scratch.path(), "marker"));
}

// ---- language ----

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

TEST(Language, StringsComeFromTheRequestedLanguageWithFallback) {
  const struct {
    UINT id;
    LANGID language;
    std::string expected;
    std::string exact;  // without falling back to English
  } cases[] = {
      {100, kLangKorean, kKoreanHello, kKoreanHello},
      {100, kLangEnglish, "Hello", "Hello"},
      {101, kLangKorean, "Only in English", ""},  // the Korean block lacks this string
      {4000, kLangKorean, "Far block", ""},       // the Korean table lacks the whole block
      {100, 1036, "Hello", ""},                   // a language the program does not carry
      {102, kLangEnglish, "", ""},                // no such string anywhere
      {9999, kLangKorean, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadStringLang(Self(), c.id, c.language), c.expected) << "id " << c.id << " language " << c.language;
    EXPECT_EQ(LoadStringExact(Self(), c.id, c.language), c.exact) << "id " << c.id << " language " << c.language;
  }
}

std::wstring g_caption;

INT_PTR CALLBACK CaptureCaption(HWND dialog, UINT message, WPARAM, LPARAM param) {
  if (message != WM_INITDIALOG) return FALSE;
  wchar_t buffer[64] = {};
  GetWindowTextW(dialog, buffer, 64);
  g_caption = buffer;
  EndDialog(dialog, static_cast<INT_PTR>(param));
  return TRUE;
}

INT_PTR CALLBACK Passive(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

std::string Caption(HWND window) {
  wchar_t buffer[64] = {};
  GetWindowTextW(window, buffer, 64);
  return Narrow(buffer);
}

TEST(Language, DialogsComeFromTheChosenLanguage) {
  const struct {
    LANGID language;
    int id;
    std::string caption;
  } cases[] = {
      {kLangKorean, 200, kKoreanCaption},
      {kLangEnglish, 200, "Sample"},
      {kLangKorean, 201, "English only"},
  };
  for (const auto& c : cases) {
    ApplyLanguage(c.language);
    EXPECT_EQ(EffectiveLanguage(), c.language);
    g_caption.clear();
    EXPECT_EQ(DialogBoxLang(Self(), c.id, nullptr, CaptureCaption, 7), 7);
    EXPECT_EQ(Narrow(g_caption), c.caption) << "modal " << c.id;

    HWND modeless = CreateDialogLang(Self(), c.id, nullptr, Passive, 0);
    ASSERT_NE(modeless, nullptr);
    EXPECT_EQ(Caption(modeless), c.caption) << "modeless " << c.id;
    DestroyWindow(modeless);
  }
  EXPECT_EQ(DialogBoxLang(Self(), 999, nullptr, CaptureCaption, 7), -1);
  EXPECT_EQ(CreateDialogLang(Self(), 999, nullptr, CaptureCaption, 0), nullptr);
  ApplyLanguage(kLangKorean);
  EXPECT_EQ(LoadStringLang(Self(), 100), kKoreanHello);
}

TEST(Dialog, AMinimisedDialogShowsItsIcon) {
  struct Sample : CDialogBase {
    Sample() : CDialogBase(GetModuleHandleW(nullptr), 200) {}
  } dialog;
  ASSERT_NE(dialog.Create(), nullptr);
  HICON icon = LoadIconW(nullptr, IDI_WARNING);  // not the system's default window icon
  // Without an icon of ours the system answers with its own.
  EXPECT_NE(reinterpret_cast<HICON>(SendMessageW(dialog.hwnd(), WM_QUERYDRAGICON, 0, 0)), icon);
  dialog.SetMinimizedIcon(icon);
  ShowWindow(dialog.hwnd(), SW_MINIMIZE);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(dialog.hwnd(), WM_QUERYDRAGICON, 0, 0)), icon);
  DestroyWindow(dialog.hwnd());
}

TEST(Language, AgentActsOnlyOnANonZeroLanguage) {
  ApplyLanguage(1036);
  ClientConfig config;
  config.LanguageID = 0;
  EXPECT_FALSE(ApplyAgentLanguage(config));
  EXPECT_EQ(ChosenLanguage(), 1036);
  config.LanguageID = kLangKorean;
  EXPECT_TRUE(ApplyAgentLanguage(config));
  EXPECT_EQ(ChosenLanguage(), kLangKorean);
}

TEST(Language, ProgramStartupAppliesAPresentLanguageAndReadsAppType) {
  const struct {
    const char* what;
    std::optional<DWORD> languageId;
    bool languageAsText;
    AppTypeRule rule;
    bool applied;
    LANGID chosen;
    std::string appType;
  } cases[] = {
      {"absent", std::nullopt, false, AppTypeRule::kAlways, false, 1036, "edms_agent"},
      {"absent, cancel rule", std::nullopt, false, AppTypeRule::kOnlyWithLanguageId, false, 1036, ""},
      {"zero", 0, false, AppTypeRule::kOnlyWithLanguageId, true, 0, "edms_agent"},
      {"korean", 1042, false, AppTypeRule::kAlways, true, 1042, "edms_agent"},
      {"as text", 1033, true, AppTypeRule::kAlways, true, 1033, "edms_agent"},
  };
  for (const auto& c : cases) {
    ScratchKey scratch;
    ASSERT_TRUE(RawSetText(scratch.path(), "AppType", "edms_agent"));
    if (c.languageId) {
      if (c.languageAsText) {
        ASSERT_TRUE(RawSetText(scratch.path(), "LanguageID", std::to_string(*c.languageId)));
      } else {
        ASSERT_TRUE(RawSetNumber(scratch.path(), "LanguageID", *c.languageId));
      }
    }
    ApplyLanguage(1036);  // a marker that only a language call replaces
    ProgramStartupResult r = ProgramStartup(c.rule, scratch.path());
    EXPECT_EQ(r.configStatus, ERROR_SUCCESS) << c.what;
    EXPECT_EQ(r.languageApplied, c.applied) << c.what;
    EXPECT_EQ(ChosenLanguage(), c.chosen) << c.what;
    EXPECT_EQ(r.appType, c.appType) << c.what;
  }
}

TEST(Language, ProgramStartupWithoutAKeyGoesOnWithDefaults) {
  ScratchKey scratch;
  ApplyLanguage(1036);
  ProgramStartupResult r = ProgramStartup(AppTypeRule::kAlways, UnopenablePath(scratch));
  EXPECT_NE(r.configStatus, ERROR_SUCCESS);
  EXPECT_FALSE(r.languageApplied);
  EXPECT_EQ(r.appType, "");
  EXPECT_EQ(ChosenLanguage(), 1036);
}

}  // namespace
}  // namespace edms::win
