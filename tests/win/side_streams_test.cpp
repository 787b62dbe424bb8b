#include "common/win/side_streams.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "common/win/command_line.h"
#include "common/win/handles.h"
#include "common/win/text.h"

// Started by the test of ProgramArgumentString with EDMS_ARGUMENT_OUT set, this program is
// its own child: it writes the argument string it sees to that file and ends, before the test
// framework starts.
namespace {
struct ChildMode {
  ChildMode() {
    wchar_t out[4096];
    const DWORD length = GetEnvironmentVariableW(L"EDMS_ARGUMENT_OUT", out, 4096);
    if (length == 0 || length >= 4096) return;
    std::ofstream(out, std::ios::binary) << edms::win::ProgramArgumentString();
    ExitProcess(0);
  }
} childMode;
}  // namespace

namespace edms::win {
namespace {

const std::string kKorean = "\xED\x95\x9C\xEA\xB8\x80";

// A fresh empty folder below %TEMP%, removed (with its files) afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    static int counter = 0;
    path_ = Narrow(temp) + "edms-side-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    CreateDirectoryW(Widen(path_).c_str(), nullptr);
  }
  ~ScratchFolder() {
    for (const auto& name : Names()) DeleteFileW(Widen(path_ + "\\" + name).c_str());
    RemoveDirectoryW(Widen(path_).c_str());
  }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Widen(path_ + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      std::string n = Narrow(data.cFileName);
      if (n != "." && n != "..") names.insert(n);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
  }

 private:
  std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  UniqueKernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr));
  ASSERT_EQ(written, bytes.size());
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(Widen(path).c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(SideStreams, SignalsNeverCreateOrTruncateAnythingAndStaySilent) {
  ScratchFolder folder;
  const std::string doc = folder.File(kKorean + ".docx");
  WriteBytes(doc, "content");
  // This file system has no side streams, so a "stream" here is an ordinary file beside the
  // document: one that a signal would create or truncate if it opened for writing.
  WriteBytes(doc + ".sig", "kept");
  const std::set<std::string> before = folder.Names();
  for (const std::string& path : {doc, folder.File("missing.docx"), std::string()}) {
    SignalStream(path, kNotifyStream);
    SignalStream(path, kRefreshStream);
    SignalStream(path, ".sig");
    SignalStream(path, ".new");
    NotifyShellAttributes(path);
  }
  EXPECT_EQ(folder.Names(), before);
  EXPECT_EQ(ReadBytes(doc + ".sig"), "kept");
  EXPECT_EQ(ReadBytes(doc), "content");
}

TEST(SideStreams, ABareNameIsNoDocumentPath) {
  // The agent passes a bare name: it must never reach a file of the current folder.
  ScratchFolder folder;
  WriteBytes(folder.File("memo.txt.lock"), "");
  WriteBytes(folder.File("memo.txt.sig"), "kept");
  wchar_t previous[MAX_PATH * 2] = {};
  GetCurrentDirectoryW(MAX_PATH * 2, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(Widen(folder.File("")).c_str()));
  EXPECT_FALSE(DeleteLockFile("memo.txt"));
  SignalStream("memo.txt", ".sig");
  SignalStream("memo.txt", ".new");
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"memo.txt.lock", "memo.txt.sig"}));
}

TEST(SideStreams, LockFileIsDeletedWhenPresent) {
  ScratchFolder folder;
  const std::string doc = folder.File("a b.docx");
  WriteBytes(doc, "doc");
  WriteBytes(doc + ".lock", "");
  EXPECT_TRUE(DeleteLockFile(doc));
  EXPECT_FALSE(Exists(doc + ".lock"));
  EXPECT_TRUE(Exists(doc));
  // Absent: nothing happens.
  EXPECT_FALSE(DeleteLockFile(doc));
  EXPECT_TRUE(Exists(doc));
  EXPECT_FALSE(DeleteLockFile(""));
}

TEST(SideStreams, MetaIsReadAsUtf8Text) {
  const struct {
    const char* what;
    std::string bytes;
    std::string text;
  } cases[] = {
      {"plain", "SESSION_USER=kim&X=1", "SESSION_USER=kim&X=1"},
      {"byte-order mark", "\xEF\xBB\xBFSESSION_USER=kim", "SESSION_USER=kim"},
      {"korean", "SESSION_USER=" + kKorean, "SESSION_USER=" + kKorean},
      {"crlf", "A=1\r\nB=2\r\n", "A=1\nB=2\n"},
      {"lone cr kept", "A=1\rB", "A=1\rB"},
      {"invalid byte", "A=\xFF", "A=\xEF\xBF\xBD"},
      {"only a mark", "\xEF\xBB\xBF", ""},
      {"empty", "", ""},
      {"mark not at start", "A\xEF\xBB\xBF", "A\xEF\xBB\xBF"},
  };
  ScratchFolder folder;
  for (const auto& c : cases) {
    const std::string path = folder.File("meta.txt");
    WriteBytes(path, c.bytes);
    auto text = ReadMetaStream(path);
    ASSERT_TRUE(text) << c.what;
    EXPECT_EQ(*text, c.text) << c.what;
  }
}

TEST(SideStreams, MetaReadRefusesMissingAndOversizeFiles) {
  ScratchFolder folder;
  EXPECT_FALSE(ReadMetaStream(folder.File("absent")));
  EXPECT_FALSE(ReadMetaStream(""));
  const std::string big = folder.File("big");
  WriteBytes(big, std::string(1024 * 1024 + 1, 'a'));
  EXPECT_FALSE(ReadMetaStream(big));
  WriteBytes(big, std::string(1024 * 1024, 'a'));
  auto text = ReadMetaStream(big);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->size(), 1024u * 1024u);
}

TEST(CommandLine, SecondElementIsTheArgumentString) {
  const struct {
    std::string commandLine;
    std::string argument;
  } cases[] = {
      {"ZTCheckOut.exe \"OID=7&PAGE_ID=9&FILE_PATH=616263\"", "OID=7&PAGE_ID=9&FILE_PATH=616263"},
      {"\"C:\\Program Files\\z\\ZTCheckIn.exe\" \"OID=1&NOTE=a b c\" extra", "OID=1&NOTE=a b c"},
      {"prog.exe OID=7&PAGE_ID=9", "OID=7&PAGE_ID=9"},
      {"prog.exe \"USER_ID=" + kKorean + "\"", "USER_ID=" + kKorean},
      {"prog.exe \"A=x\\\\\"", "A=x\\"},
      {"prog.exe", ""},
      {"prog.exe   ", ""},
      {"\"C:\\a b\\prog.exe\"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArgumentStringFrom(c.commandLine), c.argument) << c.commandLine;
  }
}

TEST(CommandLine, ProgramSeesItsOwnSecondElement) {
  ScratchFolder folder;
  const std::string outFile = folder.File("argument.txt");
  wchar_t self[MAX_PATH * 4] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH * 4), 0u);
  const std::string argument = "OID=7&FILE_PATH=" + kKorean + "&X=a b";
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" \"" + Widen(argument) +
                             L"\"";

  ASSERT_TRUE(SetEnvironmentVariableW(L"EDMS_ARGUMENT_OUT", Widen(outFile).c_str()));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &si, &pi);
  SetEnvironmentVariableW(L"EDMS_ARGUMENT_OUT", nullptr);
  ASSERT_TRUE(started);
  UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
  ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);

  std::ifstream in(Widen(outFile).c_str(), std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, argument);
}

}  // namespace
}  // namespace edms::win
