#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/core/action_runner.h"
#include "agent/core/document_process.h"
#include "agent/core/edm_helper_service.h"
#include "common/arguments.h"
#include "common/win/handles.h"
#include "common/win/registry.h"
#include "common/win/text.h"

// Started with one argument beginning "EXIT_CODE=", this program is the child of the tests
// below: it writes that argument (UTF-8) to OUT, sleeps SLEEP ms, appends to EDIT and exits
// with EXIT_CODE, before the test framework starts.
namespace {
struct ChildMode {
  ChildMode() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return;
    std::string arg = argc == 2 ? edms::win::Narrow(argv[1]) : std::string();
    LocalFree(argv);
    if (arg.rfind("EXIT_CODE=", 0) != 0) return;
    auto value = [&](const char* key) { return edms::FindArgument(arg, key).value_or(""); };
    if (!value("OUT").empty()) std::ofstream(edms::win::Widen(value("OUT")).c_str(), std::ios::binary) << arg;
    if (!value("SLEEP").empty()) Sleep(std::stoul(value("SLEEP")));
    if (!value("EDIT").empty()) std::ofstream(edms::win::Widen(value("EDIT")).c_str(), std::ios::binary | std::ios::app) << "+";
    ExitProcess(static_cast<UINT>(std::stoll(value("EXIT_CODE"))));
  }
} childMode;
}  // namespace

namespace edms {
namespace {

std::string SelfPath() {
  wchar_t path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  return win::Narrow(std::wstring(path, n));
}

std::string TempPath(const std::string& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return win::Narrow(dir) + "edms-h-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(win::Widen(path).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// --- the real operations -------------------------------------------------------------------

TEST(RunProgramAndWait, HandsBackTheExitCodeAndOneQuotedArgument) {
  const std::string out = TempPath("args.txt");
  const std::string korean = "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C final";
  for (int code : {0, 3, 255, -2}) {
    DeleteFileW(win::Widen(out).c_str());
    const std::string args = "EXIT_CODE=" + std::to_string(code) + "&NOTE=" + korean + "&OUT=" + out;
    EXPECT_EQ(RunProgramAndWait("open", SelfPath(), QuoteArgument(args)), code);
    // One argument, blanks and Korean intact: what the started program looks its keys up in.
    EXPECT_EQ(ReadAll(out), args) << code;
  }
  DeleteFileW(win::Widen(out).c_str());
}

TEST(RunProgramAndWait, MinusOneWhenNothingStarts) {
  EXPECT_EQ(RunProgramAndWait("open", GetAgentFolder() + "\\no-such-program.exe", "\"EXIT_CODE=0\""), -1);
  EXPECT_EQ(RunProgramAndWait("open", "", ""), -1);
}

TEST(GetAgentFolder, IsTheFolderOfTheRunningProgram) {
  const std::string folder = GetAgentFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  const std::string self = SelfPath();
  const std::string name = self.substr(self.rfind('\\') + 1);
  EXPECT_NE(GetFileAttributesW(win::Widen(folder + "\\" + name).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(GetFileStamp, SeesSizeAndTimeWithSixtyFourBits) {
  const std::string path = TempPath("stamp.bin");
  EXPECT_FALSE(GetFileStamp(path));
  EXPECT_FALSE(GetFileStamp(""));
  {
    win::UniqueKernelHandle file(CreateFileW(win::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    // 5 GiB + 1: a size whose high 32 bits matter (sparse on the host, so it costs nothing).
    LARGE_INTEGER end;
    end.QuadPart = (5ll << 30) + 1;
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
    FILETIME t{0x12345678u, 0x01D00000u};
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &t));
  }
  auto stamp = GetFileStamp(path);
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->size, (5ull << 30) + 1);
  EXPECT_EQ(stamp->lastWrite, (0x01D00000ull << 32) | 0x12345678u);
  // Held open without sharing by an "editor", the stamp is still read.
  win::UniqueKernelHandle held(CreateFileW(win::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  EXPECT_TRUE(GetFileStamp(path));
  held.reset();
  DeleteFileW(win::Widen(path).c_str());
}

TEST(IsProcessRunning, FollowsAProcessToItsEnd) {
  EXPECT_TRUE(IsProcessRunning(GetCurrentProcessId()));
  std::wstring command = L"\"" + win::Widen(SelfPath()) + L"\" \"EXIT_CODE=0&SLEEP=300\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  win::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
  EXPECT_TRUE(IsProcessRunning(pi.dwProcessId));
  ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
  process.reset();
  thread.reset();
  EXPECT_FALSE(IsProcessRunning(pi.dwProcessId));
}

TEST(FindWindowByText, SearchesDepthFirstByTitleAndClass) {
  const std::string tag = "edms-h-" + std::to_string(GetCurrentProcessId());
  HWND top = CreateWindowExW(0, L"Static", win::Widen(tag + " Report(42)").c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                             100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(top);
  HWND panel = CreateWindowExW(0, L"Static", L"panel", WS_CHILD, 0, 0, 50, 50, top, nullptr, nullptr, nullptr);
  HWND button = CreateWindowExW(0, L"Button", win::Widen(tag + " inner").c_str(), WS_CHILD, 0, 0, 10, 10, panel,
                                nullptr, nullptr, nullptr);
  ASSERT_TRUE(panel && button);
  struct Case {
    const char* name;
    HWND parent;
    std::string classPart, titlePart;
    HWND expected;
  };
  const Case cases[] = {
      {"top level by title", nullptr, "", tag + " Report(42)", top},
      {"grandchild by title", nullptr, "", tag + " inner", button},
      {"class and title", nullptr, "utto", tag, button},
      {"class that does not match", nullptr, "Edit", tag, nullptr},
      {"below a parent, the parent itself not counted", top, "", tag, button},
      {"nothing to look for", nullptr, "", "", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(FindWindowByText(c.parent, c.classPart, c.titlePart), c.expected) << c.name;
  DestroyWindow(top);
}

// The test program registered as the editor of a test extension (HKCR: Wine's shell reads
// associations there only).
class EditorAssociation : public ::testing::Test {
 protected:
  static constexpr char kExtension[] = ".edmshtest";
  static constexpr char kProgId[] = "EdmsHTests.Document";
  void SetUp() override {
    const std::string command = "\"" + SelfPath() + "\" \"EXIT_CODE=0&SLEEP=1500&EDIT=%1\"";
    ASSERT_TRUE(SetDefault(kExtension, kProgId));
    ASSERT_TRUE(SetDefault(std::string(kProgId) + "\\shell\\open\\command", command));
  }
  void TearDown() override {
    win::DeleteRegistryTree(HKEY_CLASSES_ROOT, kExtension);
    win::DeleteRegistryTree(HKEY_CLASSES_ROOT, kProgId);
  }
  static bool SetDefault(const std::string& path, const std::string& value) {
    win::UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, win::Widen(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::wstring data = win::Widen(value);
    return RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
};

TEST_F(EditorAssociation, OpenDocumentWaitsUntilTheEditorHasEnded) {
  const std::string path = TempPath(std::string("Report(42)") + kExtension);
  std::ofstream(win::Widen(path).c_str(), std::ios::binary) << "x";
  EXPECT_EQ(OpenDocumentAndWait(path), 0u);
  // The editor appends only after its pause: seen here, the wait covered its whole run.
  EXPECT_EQ(ReadAll(path), "x+");
  DeleteFileW(win::Widen(path).c_str());
}

TEST(OpenDocumentAndWait, ReportsASystemErrorWhenNothingCanBeOpened) {
  EXPECT_NE(OpenDocumentAndWait(""), 0u);
  EXPECT_NE(OpenDocumentAndWait(TempPath("missing.edmshtest")), 0u);
}

// --- the cycle, with the system replaced ---------------------------------------------------

class FakeClient : public WebsocketClient {
 public:
  const std::string& key() const override { return key_; }
  void PushPacket(const DataMessage& reply) override {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(reply.arg1, "CHECKOUT");
    words_.push_back(reply.arg2);
  }
  std::vector<std::string> words() {
    std::lock_guard<std::mutex> lock(mutex_);
    return words_;
  }

 private:
  std::string key_ = "alice";
  std::mutex mutex_;
  std::vector<std::string> words_;
};

struct Script {
  std::vector<std::pair<std::string, int>> exitCodes;  // by program file name; absent: cannot start (-1)
  std::optional<FileStamp> before{FileStamp{100, 7}}, after{FileStamp{100, 7}};
  DWORD editorError = 0;
};

// A fake system that follows `script` and records what the cycle asked of it.
struct Recorder {
  explicit Recorder(Script s) : script(std::move(s)) {}
  DocumentActions Actions() {
    DocumentActions a;
    a.settle = std::chrono::milliseconds(0);
    a.runProgram = [this](const std::string& program, const std::string& parameters) {
      std::lock_guard<std::mutex> lock(mutex);
      const std::string name = program.substr(program.rfind('\\') + 1);
      started.push_back(name);
      parametersOf[name] = parameters;
      for (const auto& [scripted, code] : script.exitCodes) {
        if (scripted == name) return code;
      }
      return -1;
    };
    a.localPath = [](const std::string& oid) { return "Z:\\work\\Report(" + oid + ").docx"; };
    a.fileStamp = [this](const std::string&) {
      std::lock_guard<std::mutex> lock(mutex);
      return stamps++ == 0 ? script.before : script.after;
    };
    a.openDocumentAndWait = [this](const std::string& path) {
      std::lock_guard<std::mutex> lock(mutex);
      opened.push_back(path);
      return script.editorError;
    };
    a.showEditorError = [this](DWORD error) {
      std::lock_guard<std::mutex> lock(mutex);
      shownErrors.push_back(error);
    };
    return a;
  }
  Script script;
  std::mutex mutex;
  int stamps = 0;
  std::vector<std::string> started, opened;
  std::map<std::string, std::string> parametersOf;
  std::vector<DWORD> shownErrors;
};

CheckOutTask MakeTask(std::shared_ptr<WebsocketClient> client) {
  std::string error;
  CheckOutTask task;
  task.values = CheckOutValues{*ParseCheckOutFields("42^P1^Report.docx^1.2^TRUE^alice^F", error), "alice",
                               "http://127.0.0.1:1/adaptor", "Z:\\work"};
  task.arguments = *BuildCheckOutArguments(task.values, error);
  task.agentFolder = "C:\\agent";
  task.client = std::move(client);
  return task;
}

TEST(RunCheckOutTask, RepliesFollowTheOutcomes) {
  using Words = std::vector<std::string>;
  using Programs = std::vector<std::string>;
  const FileStamp base{100, 7};
  struct Case {
    const char* name;
    Script script;
    Words replies;
    Programs started;
    bool editorOpened;
  };
  const std::vector<Case> cases = {
      {"check-out fails with 3", {{{kCheckOutProgram, 3}}}, {kCheckOutFail}, {kCheckOutProgram}, false},
      {"check-out cannot start", {}, {kCheckOutFail}, {kCheckOutProgram}, false},
      {"unchanged: cancel", {{{kCheckOutProgram, 0}, {kCancelProgram, 0}}},
       {kCheckOutSuccess, kCancelSuccess}, {kCheckOutProgram, kCancelProgram}, true},
      {"unchanged, cancel fails", {{{kCheckOutProgram, 0}, {kCancelProgram, 1}}},
       {kCheckOutSuccess, kCancelFail}, {kCheckOutProgram, kCancelProgram}, true},
      {"saved with the same size: check-in",
       {{{kCheckOutProgram, 0}, {kCheckInProgram, 0}}, base, FileStamp{101, 7}},
       {kCheckOutSuccess, kCheckInSuccess}, {kCheckOutProgram, kCheckInProgram}, true},
      {"stamp unreadable afterwards: check-in, which cannot start",
       {{{kCheckOutProgram, 0}}, base, std::nullopt},
       {kCheckOutSuccess, kCheckInFail}, {kCheckOutProgram, kCheckInProgram}, true},
      {"editor cannot start: silent cancel", {{{kCheckOutProgram, 0}, {kCancelProgram, 1}}, base, base, 1155},
       {kCheckOutSuccess, kEditFail}, {kCheckOutProgram, kCancelProgram}, true},
  };
  for (const auto& c : cases) {
    auto client = std::make_shared<FakeClient>();
    Recorder recorder(c.script);
    const CheckOutTask task = MakeTask(client);
    RunCheckOutTask(task, recorder.Actions());
    EXPECT_EQ(client->words(), c.replies) << c.name;
    EXPECT_EQ(recorder.started, c.started) << c.name;
    EXPECT_EQ(recorder.opened.size(), c.editorOpened ? 1u : 0u) << c.name;
    EXPECT_EQ(recorder.shownErrors, c.script.editorError ? std::vector<DWORD>{c.script.editorError}
                                                         : std::vector<DWORD>{})
        << c.name;
    // Each program got its own argument string.
    if (recorder.parametersOf.count(kCheckOutProgram)) {
      EXPECT_EQ(recorder.parametersOf[kCheckOutProgram], task.arguments.checkOut) << c.name;
    }
    if (recorder.parametersOf.count(kCancelProgram)) {
      EXPECT_EQ(recorder.parametersOf[kCancelProgram], task.arguments.cancel) << c.name;
    }
    if (recorder.parametersOf.count(kCheckInProgram)) {
      EXPECT_EQ(recorder.parametersOf[kCheckInProgram], task.arguments.checkIn) << c.name;
    }
  }
}

TEST(StartCheckOutTask, RefusedCommandsGetOneFailAndStartNothing) {
  struct Case {
    const char* name;
    std::string arg2, userId;
  };
  const Case cases[] = {
      {"six fields", "42^P1^a.docx^1.2^TRUE^alice", "alice"},
      {"id injecting a key", "42&USER_ID=root^P1^a.docx^1.2^TRUE^alice^F", "alice"},
      {"name leaving the work folder", "42^P1^..\\..\\a.exe^1.2^TRUE^alice^F", "alice"},
      {"name with a stream", "42^P1^a.docx:x^1.2^TRUE^alice^F", "alice"},
      {"version too long", "42^P1^a.docx^" + std::string(40, '1') + "^TRUE^alice^F", "alice"},
      {"user with '&'", "42^P1^a.docx^1.2^TRUE^alice^F", "bob&OID=1"},
      {"no user", "42^P1^a.docx^1.2^TRUE^alice^F", ""},
  };
  for (const auto& c : cases) {
    auto client = std::make_shared<FakeClient>();
    Recorder recorder(Script{{{kCheckOutProgram, 0}}});
    EXPECT_FALSE(StartCheckOutTask(client, c.arg2, c.userId, "http://h/adaptor", "Z:\\work", recorder.Actions()))
        << c.name;
    // The reply is pushed before the call returns; give a wrongly started thread time to show.
    Sleep(100);
    EXPECT_EQ(client->words(), std::vector<std::string>{kCheckOutFail}) << c.name;
    EXPECT_TRUE(recorder.started.empty()) << c.name;
  }
}

TEST(StartCheckOutTask, TwoCyclesRunSideBySideAndOutliveTheirConnections) {
  // Both check-outs wait in ZTCheckOut until the other has started: only parallel threads
  // get past it.
  std::mutex mutex;
  std::condition_variable changed;
  int inCheckOut = 0, finished = 0;
  auto gate = [&](Recorder& recorder) {
    DocumentActions a = recorder.Actions();
    auto run = a.runProgram;
    a.runProgram = [&, run](const std::string& program, const std::string& parameters) {
      if (program.find(kCheckOutProgram) != std::string::npos) {
        std::unique_lock<std::mutex> lock(mutex);
        ++inCheckOut;
        changed.notify_all();
        if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return inCheckOut == 2; })) return 99;
      }
      int code = run(program, parameters);
      if (program.find(kCheckOutProgram) == std::string::npos) {
        std::lock_guard<std::mutex> lock(mutex);
        ++finished;
        changed.notify_all();
      }
      return code;
    };
    return a;
  };
  Recorder first(Script{{{kCheckOutProgram, 0}, {kCancelProgram, 0}}});
  Recorder second(Script{{{kCheckOutProgram, 0}, {kCheckInProgram, 0}}, FileStamp{1, 1}, FileStamp{1, 2}});
  auto a = std::make_shared<FakeClient>(), b = std::make_shared<FakeClient>();
  std::weak_ptr<FakeClient> watchA = a;
  ASSERT_TRUE(StartCheckOutTask(a, "1^P^a.docx^1.0^TRUE^alice^F", "alice", "http://h/a", "Z:\\w", gate(first)));
  ASSERT_TRUE(StartCheckOutTask(b, "2^P^b.docx^1.0^TRUE^alice^F", "alice", "http://h/a", "Z:\\w", gate(second)));
  // The page of the first check-out goes away: the cycle keeps its client to the end.
  a.reset();
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return finished == 2; }));
  }
  // The last reply follows the last program: wait for the threads to let go of the clients.
  for (int i = 0; i < 100 && !watchA.expired(); ++i) Sleep(50);
  EXPECT_TRUE(watchA.expired());
  for (int i = 0; i < 100 && b->words().size() < 2; ++i) Sleep(50);
  EXPECT_EQ(b->words(), (std::vector<std::string>{kCheckOutSuccess, kCheckInSuccess}));
  EXPECT_EQ(first.started, (std::vector<std::string>{kCheckOutProgram, kCancelProgram}));
}

TEST(EdmHelperService, RefusedCheckOutIsAnsweredOnce) {
  win::ClientConfig config;
  config.KeyPath = "Software\\edms-tests\\agent-runner-" + std::to_string(GetCurrentProcessId());
  config.AdaptorURL = "http://127.0.0.1:1/adaptor";
  config.WorkFolder = "Z:\\work";
  SharedConfig shared(config);
  EdmHelperService service(shared, [](const std::string&) { return std::string(); });
  auto client = std::make_shared<FakeClient>();
  service.HandleRequest(client, {"CHECKOUT", "42^P1^..\\x.docx^1.2^TRUE^alice^F"});
  EXPECT_EQ(client->words(), std::vector<std::string>{kCheckOutFail});
  win::DeleteRegistryTree(HKEY_CURRENT_USER, config.KeyPath);
}

}  // namespace
}  // namespace edms
