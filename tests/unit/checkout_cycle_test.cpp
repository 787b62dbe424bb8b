#include "common/checkout_cycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/encoding.h"

namespace edms {
namespace {

const std::string kKorean = "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C";  // three syllables, 9 bytes

std::string Join(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? "^" : "") + fields[i];
  return out;
}

std::vector<std::string> Good() { return {"42", "P1", "Report.docx", "1.2", "TRUE", "alice", "F"}; }

std::string With(size_t index, const std::string& value) {
  auto fields = Good();
  fields[index] = value;
  return Join(fields);
}

TEST(ParseCheckOutFields, AcceptsFieldsThatTravelSafely) {
  struct Case {
    const char* name;
    std::string arg2;
    std::string fileName;
  };
  const Case cases[] = {
      {"plain", Join(Good()), "Report.docx"},
      {"korean name", With(2, kKorean + " final.docx"), kKorean + " final.docx"},
      {"ampersand and equals in the name travel hex-encoded", With(2, "R&D=1.docx"), "R&D=1.docx"},
      {"no dot", With(2, "README"), "README"},
      {"optional fields empty", Join({"42", "", "a.txt", "", "", "", ""}), "a.txt"},
      {"longest name that fits", With(2, std::string(251, 'n')), std::string(251, 'n')},
  };
  for (const auto& c : cases) {
    std::string error;
    auto fields = ParseCheckOutFields(c.arg2, error);
    ASSERT_TRUE(fields) << c.name << ": " << error;
    EXPECT_EQ(fields->fileName, c.fileName) << c.name;
    EXPECT_EQ(fields->documentId, "42") << c.name;
  }
  std::string error;
  auto fields = ParseCheckOutFields(Join(Good()), error);
  ASSERT_TRUE(fields);
  EXPECT_EQ(std::vector<std::string>({fields->documentId, fields->pageId, fields->fileName, fields->version,
                                      fields->isCurrent, fields->creatorId, fields->isImmutable}),
            Good());
}

TEST(ParseCheckOutFields, RefusesWhatCouldInjectOrEscapeOrOverflow) {
  struct Case {
    const char* name;
    std::string arg2;
  };
  const Case cases[] = {
      {"empty text", ""},
      {"six fields", "42^P1^a.txt^1.2^TRUE^alice"},
      {"eight fields (a '^' in the name)", With(2, "a^b.txt")},
      {"empty document id", With(0, "")},
      {"empty file name", With(2, "")},
      {"document id with a separator", With(0, "..\\42")},
      {"document id is ..", With(0, "..")},
      {"document id with ':'", With(0, "C:42")},
      {"document id with '&' injects a key", With(0, "42&PAGE_ID=9")},
      {"document id longer than 63 characters", With(0, std::string(64, '7'))},
      {"file name going up", With(2, "..\\..\\evil.exe")},
      {"file name with a slash", With(2, "sub/a.docx")},
      {"file name is ..", With(2, "..")},
      {"file name with a drive", With(2, "C:a.docx")},
      {"file name with a stream", With(2, "a.docx:Zelto.notify")},
      {"file name with a wildcard", With(2, "*.docx")},
      {"file name with a control character", With(2, "a\x01.docx")},
      {"file name not UTF-8", With(2, "\xB0\xED.docx")},
      {"file name too long for a component", With(2, std::string(252, 'n'))},
      {"korean name too long for the argument", With(2, [] {
         std::string s;
         for (int i = 0; i < 57; ++i) s += kKorean;  // 513 bytes
         return s;
       }())},
      {"version with '&'", With(3, "1.2&USER_ID=root")},
      {"version with a quote", With(3, "1.2\"")},
      {"version longer than 15 characters", With(3, std::string(16, '1'))},
      {"is-current with a newline", With(4, "TRUE\n")},
      {"creator longer than 31 characters", With(5, std::string(32, 'c'))},
      {"korean creator of 32 syllables", With(5, [] {
         std::string s;
         for (int i = 0; i < 32; ++i) s += "\xEA\xB9\x80";
         return s;
       }())},
      {"immutable with '&'", With(6, "F&X=1")},
      {"page id not UTF-8", With(1, "P\xFF")},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseCheckOutFields(c.arg2, error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

CheckOutValues Values() {
  std::string error;
  CheckOutValues v;
  v.fields = *ParseCheckOutFields(With(2, kKorean + ".docx"), error);
  v.userId = "alice";
  v.adaptorUrl = "http://127.0.0.1:8080/adaptor?x=1";
  v.workFolder = "Z:\\tmp\\work\\";
  return v;
}

TEST(BuildCheckOutArguments, CheckOutStringHasItsKeysInOrder) {
  std::string error;
  auto args = BuildCheckOutArguments(Values(), error);
  ASSERT_TRUE(args) << error;
  EXPECT_EQ(args->checkOut, "OID=42&PAGE_ID=P1&FILE_PATH=" + HexEncodeUtf8(kKorean + ".docx") +
                                "&ADAPTOR_URL=http://127.0.0.1:8080/adaptor?x=1&WORK_FOLDER=Z:\\tmp\\work\\"
                                "&USER_ID=alice&VERSION_NO=1.2&INVOKE_EDITOR=FALSE&IS_IMMUTABLE=F");
  EXPECT_EQ(args->checkIn.rfind("OID=42&VERSION_NO=1.2&IS_CURRENT=TRUE&CREATOR_ID=alice&FILE_PATH=", 0), 0u);
  EXPECT_EQ(args->cancel.rfind("OID=42&VERSION_NO=1.2&SUPRESS_WARNING=TRUE&FILE_PATH=", 0), 0u);
}

TEST(BuildCheckOutArguments, EveryProgramReadsBackWhatWasMeant) {
  std::string error;
  const CheckOutValues v = Values();
  auto args = BuildCheckOutArguments(v, error);
  ASSERT_TRUE(args) << error;
  struct Read {
    const std::string* args;
    const char* key;
    std::string expected;
  };
  const std::string hex = HexEncodeUtf8(v.fields.fileName);
  const Read reads[] = {
      {&args->checkOut, "OID", "42"},          {&args->checkOut, "PAGE_ID", "P1"},
      {&args->checkOut, "FILE_PATH", hex},     {&args->checkOut, "ADAPTOR_URL", v.adaptorUrl},
      {&args->checkOut, "WORK_FOLDER", v.workFolder},
      {&args->checkOut, "USER_ID", "alice"},   {&args->checkOut, "VERSION_NO", "1.2"},
      {&args->checkOut, "INVOKE_EDITOR", "FALSE"},
      {&args->checkOut, "IS_IMMUTABLE", "F"},  {&args->checkIn, "IS_CURRENT", "TRUE"},
      {&args->checkIn, "CREATOR_ID", "alice"}, {&args->checkIn, "FILE_PATH", hex},
      {&args->checkIn, "USER_ID", "alice"},    {&args->cancel, "SUPRESS_WARNING", "TRUE"},
      {&args->cancel, "VERSION_NO", "1.2"},    {&args->cancel, "WORK_FOLDER", v.workFolder},
  };
  for (const auto& r : reads) EXPECT_EQ(FindArgument(*r.args, r.key), r.expected) << r.key << " in " << *r.args;
  // A Korean name leaves every string plain ASCII.
  for (const std::string* s : {&args->checkOut, &args->checkIn, &args->cancel}) {
    for (char c : *s) EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << *s;
  }
  EXPECT_EQ(HexDecodeUtf8(*FindArgument(args->cancel, "FILE_PATH")), v.fields.fileName);
}

TEST(BuildCheckOutArguments, RefusesValuesTheProgramsWouldMisread) {
  struct Case {
    const char* name;
    void (*change)(CheckOutValues&);
  };
  const Case cases[] = {
      {"no user", [](CheckOutValues& v) { v.userId.clear(); }},
      {"no adaptor URL", [](CheckOutValues& v) { v.adaptorUrl.clear(); }},
      {"no work folder", [](CheckOutValues& v) { v.workFolder.clear(); }},
      {"user longer than 31 characters", [](CheckOutValues& v) { v.userId.assign(32, 'u'); }},
      // The page's fields spell keys that another program reads: the check-in would take them.
      {"is-current spelling NEW_VERSION", [](CheckOutValues& v) { v.fields.isCurrent = "NEW_VERSION"; }},
      {"creator spelling SHARE_NAME", [](CheckOutValues& v) { v.fields.creatorId = "SHARE_NAME"; }},
      {"page id spelling PASSWORD", [](CheckOutValues& v) { v.fields.pageId = "xPASSWORDx"; }},
      {"version with letters", [](CheckOutValues& v) { v.fields.version = "2.0a"; }},
      {"is-immutable that is no flag", [](CheckOutValues& v) { v.fields.isImmutable = "N"; }},
      {"user with '&'", [](CheckOutValues& v) { v.userId = "bob&OID=1"; }},
      {"user ending in a backslash (last value)", [](CheckOutValues& v) { v.userId = "dom\\"; }},
      {"user with a quote", [](CheckOutValues& v) { v.userId = "b\"ob"; }},
      {"adaptor URL whose query holds '&'", [](CheckOutValues& v) { v.adaptorUrl = "http://h/a?x=1&y=2"; }},
      {"adaptor URL naming a later key", [](CheckOutValues& v) { v.adaptorUrl = "http://h/a?USER_ID=root"; }},
      {"work folder with a control character", [](CheckOutValues& v) { v.workFolder = "C:\\w\tx"; }},
      {"version naming a later key", [](CheckOutValues& v) { v.fields.version = "WORK_FOLDER=x"; }},
  };
  for (const auto& c : cases) {
    CheckOutValues v = Values();
    c.change(v);
    std::string error;
    EXPECT_FALSE(BuildCheckOutArguments(v, error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(BuildCheckOutArguments, CapacitiesCountCharactersNotBytes) {
  // An 11-syllable Korean id is 33 bytes but 11 characters: within the 31 a task holds.
  std::string korean;
  for (int i = 0; i < 11; ++i) korean += "\xEA\xB9\x80";
  std::string error;
  auto fields = ParseCheckOutFields("42^P1^a.docx^1.2^TRUE^" + korean + "^F", error);
  ASSERT_TRUE(fields) << error;
  CheckOutValues v = Values();
  v.fields = *fields;
  v.userId = korean;
  EXPECT_TRUE(BuildCheckOutArguments(v, error)) << error;
}

TEST(DocumentChanged, OnlyEqualTimeAndSizeCountAsUnchanged) {
  const FileStamp base{132000000000000000ull, 5ull << 32};
  struct Case {
    const char* name;
    std::optional<FileStamp> before, after;
    bool changed;
  };
  const Case cases[] = {
      {"same", base, base, false},
      {"saved with the same size", base, FileStamp{base.lastWrite + 1, base.size}, true},
      {"size differs above 4 GiB only", base, FileStamp{base.lastWrite, base.size + (1ull << 32)}, true},
      {"unreadable before", std::nullopt, base, true},
      {"unreadable after", base, std::nullopt, true},
      {"both unreadable", std::nullopt, std::nullopt, true},
  };
  for (const auto& c : cases) EXPECT_EQ(DocumentChanged(c.before, c.after), c.changed) << c.name;
}

TEST(FateOfCancelledCopy, ASaveAfterTheCancelIsTold) {
  const uint64_t cancelled = 132000000000000000ull;
  const uint64_t day = 24ull * 3600 * 10000000;
  struct Case {
    const char* name;
    std::optional<FileStamp> copy;
    uint64_t now;
    CancelledCopyFate fate;
  } cases[] = {
      {"saved after the cancel", FileStamp{cancelled + 1, 5}, cancelled + day, CancelledCopyFate::kSavedSince},
      {"saved long after", FileStamp{cancelled + 40 * day, 5}, cancelled + 41 * day, CancelledCopyFate::kSavedSince},
      {"deleted by the cancel", std::nullopt, cancelled + day, CancelledCopyFate::kGone},
      {"left as it was", FileStamp{cancelled - 1, 5}, cancelled + day, CancelledCopyFate::kUntouched},
      {"left as it was for a month", FileStamp{cancelled - 1, 5}, cancelled + 31 * day, CancelledCopyFate::kStale},
  };
  for (const auto& c : cases) EXPECT_EQ(FateOfCancelledCopy(c.copy, cancelled, c.now), c.fate) << c.name;
}

TEST(CycleReplies, ExitCodesDecideTheWords) {
  struct Case {
    bool changed;
    int exitCode;
    std::string finish;
  };
  const Case cases[] = {
      {true, 0, kCheckInSuccess},  {true, 1, kCheckInFail},   {true, -1, kCheckInFail},
      {false, 0, kCancelSuccess}, {false, 3, kCancelFail},   {false, -1, kCancelFail},
  };
  for (const auto& c : cases) EXPECT_EQ(FinishReply(c.changed, c.exitCode), c.finish) << c.exitCode;
  for (int code : {1, 2, 3, -1, -2}) EXPECT_STREQ(CheckOutReply(code), kCheckOutFail) << code;
  EXPECT_STREQ(CheckOutReply(0), kCheckOutSuccess);
}

TEST(EditorWindowTitle, NeverEmptyForANamedFile) {
  struct Case {
    const char* path;
    std::string title;
  };
  const Case cases[] = {
      {"Z:\\work\\Report(42).docx", "Report(42)"},
      {"C:/work/a.b(7).txt", "a.b(7)"},
      {"Z:\\work\\README(42)", "README(42)"},
      {"Z:\\work\\.profile", ".profile"},
      {"name.", "name"},
  };
  for (const auto& c : cases) EXPECT_EQ(EditorWindowTitle(c.path), c.title) << c.path;
}

}  // namespace
}  // namespace edms
