#include "agent/service/transfer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "agent/resource.h"
#include "common/encoding.h"
#include "common/win/internet_mark.h"
#include "common/win/language.h"
#include "common/win/text.h"
#include "tests/win/child_process.h"
#include "tests/win/http_peer.h"

namespace edms {
namespace {

using test::HttpPeer;
using test::HttpReply;

class Host : public TransferHost {
 public:
  std::vector<UINT> phases;
  std::vector<int> percents;
  std::function<void()> atFirstPercent;
  bool aborted = false;

  void OnPhase(UINT textId) override { phases.push_back(textId); }
  void OnPercent(int percent) override {
    percents.push_back(percent);
    if (percents.size() == 1 && atFirstPercent) atFirstPercent();
  }
  bool Aborted() const override { return aborted; }
};

// A folder of its own for each case, removed with its files afterwards.
class Folder {
 public:
  explicit Folder(const std::string& name) : path_(test::TempPath(name)) { CreateDirectoryW(win::Widen(path_).c_str(), nullptr); }
  ~Folder() {
    for (const std::string& file : Files(true)) DeleteFileW(win::Widen(path_ + "\\" + file).c_str());
    RemoveDirectoryW(win::Widen(path_).c_str());
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(win::Widen(File(name)).c_str(), std::ios::binary) << bytes;
  }
  // The files; a side stream (Wine keeps one as a file named "name:stream") only with `streams`.
  std::vector<std::string> Files(bool streams = false) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(win::Widen(path_ + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = win::Narrow(found.cFileName);
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (streams || name.find(':') == std::string::npos)) {
        names.push_back(name);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

std::string Reply(const std::string& code, const std::string& size, const std::string& body, bool withLength = true) {
  std::string headers = "XRS_RTNCODE: " + code + "\r\n";
  if (!size.empty()) headers += "XRS_FILESIZE: " + size + "\r\n";
  return HttpReply(headers, body, withLength);
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override { win::ApplyLanguage(win::kLangEnglish); }
};

TEST_F(TransferTest, ResultCodesAndWhatIsLeftOnDisk) {
  const std::string big(3 * 1024 * 1024, 'b');
  struct Case {
    const char* name;
    std::string reply;
    std::string existing;  // content of doc.txt before the transfer, when not empty
    bool freeName;
    bool abortAtFirstRead;
    bool missingFolder;
    int code;
    std::string text;
    std::vector<std::string> files;  // what the folder holds afterwards
    std::string docContent;          // doc.txt afterwards
  };
  const std::vector<Case> cases = {
      {"complete", Reply("00", "5", "hello"), "", false, false, false, 0, "", {"doc.txt"}, "hello"},
      {"announced empty", Reply("00", "0", ""), "", false, false, false, 0, "", {"doc.txt"}, ""},
      {"replaces the file it is told to", Reply("00", "5", "hello"), "old", false, false, false, 0, "", {"doc.txt"}, "hello"},
      {"a free name beside a file", Reply("00", "5", "hello"), "old", true, false, false, 0, "", {"doc(2).txt", "doc.txt"}, "old"},
      {"peer closes early", Reply("00", "10", "hel", false), "", false, false, false, -1, "Network error occured.", {}, ""},
      {"more than announced", Reply("00", "3", "hello"), "old", false, false, false, -1, "Network error occured.", {"doc.txt"}, "old"},
      {"refused without a text", Reply("55", "", ""), "", false, false, false, -2, "Unknown error occured.", {}, ""},
      {"a negative size", Reply("00", "-1", "hello"), "old", false, false, false, -1, "Network error occured.", {"doc.txt"}, "old"},
      {"no size", Reply("00", "", "hello"), "", false, false, false, -1, "Network error occured.", {}, ""},
      {"aborted mid-body", Reply("00", std::to_string(big.size()), big), "old", true, true, false, kTransferRowAborted,
       "Aborted by user.", {"doc.txt"}, "old"},
      {"folder missing", Reply("00", "5", "hello"), "", false, false, true, 2, "Can not create file.", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Folder folder("transfer");
    if (!c.existing.empty()) folder.Write("doc.txt", c.existing);
    HttpPeer peer;
    HttpPeer::Script script;
    script.reply = c.reply;
    peer.SetScript(script);
    Host host;
    if (c.abortAtFirstRead) host.atFirstPercent = [&host] { host.aborted = true; };
    TransferRequest request;
    request.adaptorUrl = peer.Url();
    request.values = DownloadValues("D1", "P1", "alice");
    request.folder = c.missingFolder ? folder.File("missing") : folder.path();
    request.name = "doc.txt";
    request.freeName = c.freeName;
    request.abortCode = c.freeName ? kTransferRowAborted : kTransferAborted;
    const TransferResult result = DoOpen(request, host);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.text, c.text);
    EXPECT_EQ(folder.Files(), c.files);
    if (c.abortAtFirstRead) {
      EXPECT_EQ(host.percents.size(), 1u) << "reading went on after Cancel";
    }
    if (!c.docContent.empty() || c.code == 0) {
      EXPECT_EQ(test::ReadAll(folder.File("doc.txt")), c.docContent);
    }
    if (c.code == 0) {
      EXPECT_EQ(result.path, folder.File(c.freeName ? "doc(2).txt" : "doc.txt"));
      // A file from the server says so, with the server's origin.
      const std::string mark = win::ReadInternetMark(result.path);
      EXPECT_NE(mark.find("ZoneId=3"), std::string::npos) << mark;
      EXPECT_NE(mark.find("HostUrl=http://127.0.0.1:"), std::string::npos) << mark;
    }
  }
}

TEST_F(TransferTest, PhasesRequestAndTheServersOwnText) {
  HttpPeer peer;
  HttpPeer::Script script;
  script.reply = Reply("55", "", "");
  script.reply.insert(script.reply.find("\r\n\r\n"), "\r\nXRS_CODEDESC: " + HexEncodeUtf8("잠긴 문서"));
  peer.SetScript(script);
  Folder folder("phases");
  Host host;
  TransferRequest request{peer.Url(), Command::Download, DownloadValues("D 1", "P1", "김"), folder.path(), "a.txt"};
  const TransferResult refused = DoOpen(request, host);
  EXPECT_EQ(refused.code, kTransferRefused);
  EXPECT_EQ(refused.text, "잠긴 문서");
  EXPECT_EQ(host.phases, (std::vector<UINT>{IDS_PHASE_CONNECTING, IDS_PHASE_REQUESTING}));
  ASSERT_TRUE(peer.WaitForRequests(1, std::chrono::seconds(10)));
  EXPECT_EQ(peer.Requests()[0].body, "XRQ_COMMAND=DOWNLOAD&XRQ_OBJECT=" + FormEncode(HexEncodeUtf8("D 1")) +
                                         "&XRQ_PAGE=" + FormEncode(HexEncodeUtf8("P1")) + "&XRQ_USER=" +
                                         FormEncode(HexEncodeUtf8("김")) + "&XRQ_PASS=" +
                                         FormEncode(HexEncodeUtf8("KVMRT")) + "&XRQ_FORCE=TRUE");

  request.adaptorUrl = "not a url";
  Host nowhere;
  const TransferResult invalid = DoOpen(request, nowhere);
  EXPECT_EQ(invalid.code, kTransferInvalidUrl);
  EXPECT_EQ(invalid.text, "Invalid URL.");
  EXPECT_TRUE(nowhere.phases.empty());
  EXPECT_EQ(peer.Connections(), 1);
}

TEST_F(TransferTest, AFileLargerThanTheDiskOrTheCapIsRefusedBeforeItExists) {
  struct Case {
    const char* name;
    std::string size;
    uint64_t cap;
    std::string starts;  // the text the user is told begins so
  } cases[] = {
      {"a petabyte", "1000000000000000", 0, "The file ("},
      {"above the administrator's cap", "5", 4, "The file is larger ("},
  };
  for (const auto& c : cases) {
    HttpPeer peer;
    HttpPeer::Script script;
    script.reply = Reply("00", c.size, "hello");
    peer.SetScript(script);
    Folder folder("too-large");
    Host host;
    TransferRequest request{peer.Url(), Command::Download, DownloadValues("D1", "P1", "alice"), folder.path(), "doc.txt"};
    request.maxBytes = c.cap;
    const TransferResult result = DoOpen(request, host);
    EXPECT_EQ(result.code, kTransferCannotCreate) << c.name;
    EXPECT_EQ(result.text.rfind(c.starts, 0), 0u) << c.name << ": " << result.text;
    EXPECT_TRUE(folder.Files().empty()) << c.name;
  }
}

TEST_F(TransferTest, TheLongestNameTheRuleAcceptsCanBeWritten) {
  HttpPeer peer;
  HttpPeer::Script script;
  script.reply = Reply("00", "5", "hello");
  peer.SetScript(script);
  Folder folder("long");
  Host host;
  const std::string name = std::string(251, 'n') + ".txt";
  TransferRequest request{peer.Url(), Command::Download, DownloadValues("D1", "P1", "alice"), folder.path(), name};
  const TransferResult result = DoOpen(request, host);
  EXPECT_EQ(result.code, kTransferOk) << result.text;
  EXPECT_EQ(folder.Files(), std::vector<std::string>{name});
}

TEST_F(TransferTest, ANameTakenDuringTheTransferIsNotReplaced) {
  const std::string body(600000, 'n');
  HttpPeer peer;
  HttpPeer::Script script;
  script.reply = Reply("00", std::to_string(body.size()), body);
  peer.SetScript(script);
  Folder folder("taken");
  folder.Write("doc(2).txt", "someone's");
  Host host;
  // Another program saves doc.txt while the body is still coming.
  host.atFirstPercent = [&folder] { folder.Write("doc.txt", "theirs"); };
  TransferRequest request{peer.Url(), Command::Download, DownloadValues("D1", "P1", "alice"), folder.path(), "doc.txt"};
  request.freeName = true;
  const TransferResult result = DoOpen(request, host);
  EXPECT_EQ(result.code, kTransferOk) << result.text;
  EXPECT_EQ(result.path, folder.File("doc(3).txt"));
  EXPECT_EQ(folder.Files(), (std::vector<std::string>{"doc(2).txt", "doc(3).txt", "doc.txt"}));
  EXPECT_EQ(test::ReadAll(folder.File("doc.txt")), "theirs");
  EXPECT_EQ(test::ReadAll(folder.File("doc(3).txt")), body);
}

}  // namespace
}  // namespace edms
