#include "devserver/seed.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "devserver/md5.h"

namespace devserver {
namespace {

struct SeedVersion {
  const char* version;
  const char* note;
  const char* author;
  std::string text;
};

struct SeedDocument {
  const char* object;
  const char* page;
  const char* name;
  const char* creator;
  bool immutable;
  const char* current;
  std::vector<SeedVersion> versions;
};

std::string Content(Store& store, const std::string& text, uint64_t* size) {
  std::string temp = store.NewTempPath();
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid() || ::write(fd.get(), text.data(), text.size()) != ssize_t(text.size())) {
    ::unlink(temp.c_str());
    throw std::runtime_error("cannot write seed content");
  }
  *size = text.size();
  return temp;
}

// Meeting minutes in UTF-8 with a byte-order mark: without one, Notepad reads the file in the
// ANSI code page and shows the Hangul as stray Latin letters.
const char* const kMinutes =
    "\xEF\xBB\xBF"
    "주간 회의록 (weekly meeting)\r\n"
    "참석자: alice, bob\r\n"
    "\r\n"
    "1. 2분기 보고서: alice가 금요일까지 초안을 공유합니다.\r\n"
    "2. 예산: bob이 1.1판의 수치를 확인했습니다.\r\n"
    "3. 다음 회의: 월요일 10시\r\n"
    "\r\n"
    "Action items\r\n"
    "- alice: share the report draft\r\n"
    "- bob: review the budget figures\r\n";

// Rich text for WordPad; the Korean line ("설계 메모 - 초안") is written as RTF Unicode escapes in
// a Korean face of its own, so that it shows whatever the dialog fonts' links are.
const char* const kDesignNotes =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss Tahoma;}{\\f1\\fnil\\fcharset129 NanumGothic;}}\r\n"
    "\\pard\\sa120\\b\\fs32 Design notes\\b0\\fs20\\par\r\n"
    "\\pard\\sa120\\i\\f1 \\u-16092?\\u-21308? \\u-17836?\\u-17752? - \\u-13048?\\u-15032?\\f0\\i0\\par\r\n"
    "\\pard\\sa60 How a document travels from the page to its editor and back:\\par\r\n"
    "\\pard\\fi-240\\li480\\sa60 1.\\tab The page asks the agent to check the document out.\\par\r\n"
    "2.\\tab The agent downloads the version into the work folder and opens it.\\par\r\n"
    "3.\\tab When the editor closes, a changed copy is checked in as a new version; an unchanged one is "
    "released.\\par\r\n"
    "\\pard\\sa60\\b Open question:\\b0  should the note be required?\\par\r\n"
    "}\r\n";

}  // namespace

bool SeedDemoData(Store& store) {
  std::lock_guard<std::mutex> lock(store.mutex());
  if (!store.Empty()) return false;
  Transaction tx(store);
  store.PutUser("alice", "Alice");
  store.PutUser("bob", "Bob");

  const std::vector<SeedDocument> documents = {
      {"DEMO-1", "P1", "Report.docx", "alice", false, "1.0",
       {{"1.0", "First release", "alice", "Quarterly report, version 1.0.\r\n"}}},
      {"DEMO-2", "P1", "Policy.pdf", "bob", true, "2.0",
       {{"2.0", "Approved policy", "bob", "%PDF-1.4\n% Signed policy document, version 2.0.\n"}}},
      {"DEMO-3", "P1", "Budget.xlsx", "alice", false, "1.1",
       {{"1.0", "First draft", "alice", "Budget, version 1.0 (draft).\r\n"},
        {"1.1", "Figures corrected", "bob", "Budget, version 1.1.\r\n"}}},
      {"DEMO-4", "P1", "회의록.txt", "bob", false, "1.0", {{"1.0", "첫 번째 회의록", "bob", kMinutes}}},
      {"DEMO-5", "P1", "Design notes.rtf", "alice", false, "1.0", {{"1.0", "Outline", "alice", kDesignNotes}}},
  };
  for (const SeedDocument& d : documents) {
    store.InsertDocument(Document{d.object, d.page, d.name, d.creator, d.immutable, d.current});
    for (const SeedVersion& v : d.versions) {
      uint64_t size = 0;
      std::string temp = Content(store, v.text, &size);
      store.PutVersion(Version{d.object, v.version, v.note, v.author, Store::NowUtc(), store.AdoptContent(temp), size});
    }
  }

  store.AddNotice(Notice{0, "alice", "Welcome", "Your document workspace is ready.", Store::NowUtc(), false});
  store.AddNotice(Notice{0, "alice", "Budget.xlsx updated", "bob corrected the figures (version 1.1).",
                         Store::NowUtc(), false});
  store.AddNotice(Notice{0, "bob", "Welcome", "Your document workspace is ready.", Store::NowUtc(), true});

  uint64_t size = 0;
  std::string temp = Content(store, "MZ demo installer of the agent, version 2.0.0\n", &size);
  std::string md5 = Md5OfFile(temp);
  store.PutUpdate(UpdatePackage{"EDMS_AGENT", "2.0.0", store.AdoptContent(temp), md5, size});
  tx.Commit();
  return true;
}

}  // namespace devserver
