#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <optional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/service/action_runner.h"
#include "agent/service/document_process.h"
#include "agent/service/edm_helper_service.h"
#include "common/arguments.h"
#include "common/win/handles.h"
#include "common/win/registry.h"
#include "common/win/system_error.h"
#include "common/win/text.h"
#include "agent/tests/fake_windows.h"
#include "tests/win/child_process.h"

namespace edms {
namespace {

using test::ReadAll;
using test::SelfPath;
using test::TempPath;

// --- the document opened in its editor ----------------------------------------------------

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

TEST_F(EditorAssociation, TheUserIsToldTheTypeAndWhyInWords) {
  // A type no program opens is said so, whatever code the shell gave.
  const std::string none = EditorErrorText(193, "Z:\\work\\Plan(7).zzunknown");
  EXPECT_NE(none.find(".zzunknown"), std::string::npos) << none;
  EXPECT_NE(none.find(win::DescribeError(ERROR_NO_ASSOCIATION)), std::string::npos) << none;
  EXPECT_NE(none.find("(193)"), std::string::npos) << none;
  // A type that has a program: the shell's own reason.
  const std::string other = EditorErrorText(ERROR_ACCESS_DENIED, "Z:\\work\\Plan(7)" + std::string(kExtension));
  EXPECT_NE(other.find(win::DescribeError(ERROR_ACCESS_DENIED)), std::string::npos) << other;
  EXPECT_EQ(other.find(win::DescribeError(ERROR_NO_ASSOCIATION)), std::string::npos) << other;
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
  bool recordLeft = false;  // the record still exists after ZTCheckOutCancel
  // An editor that handed the document to an instance of itself: the document stays in use
  // for this many looks after the first editor ended, and is then saved as `savedMeanwhile`.
  int inUse = 0;
  std::optional<FileStamp> savedMeanwhile{};
};

// A fake system that follows `script` and records what the cycle asked of it.
struct Recorder {
  explicit Recorder(Script s) : script(std::move(s)) {}
  DocumentActions Actions() {
    DocumentActions a;
    a.settle = std::chrono::milliseconds(0);
    a.editorSettle = std::chrono::milliseconds(0);
    a.documentInUse = [this](const std::string&) {
      std::lock_guard<std::mutex> lock(mutex);
      return script.inUse > 0;
    };
    a.waitWhileInUse = [this](const std::string&) {
      std::lock_guard<std::mutex> lock(mutex);
      if (--script.inUse == 0 && script.savedMeanwhile) script.after = script.savedMeanwhile;
    };
    a.noteCancelled = [this](const std::string& oid, const std::string& path) {
      std::lock_guard<std::mutex> lock(mutex);
      notedCancels.push_back(oid + "|" + path);
    };
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
    a.recordExists = [this](const std::string&) { return script.recordLeft; };
    a.showRefusal = [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex);
      refusals.push_back(text);
    };
    a.bringEditorForward = [this](const std::string& path) {
      std::lock_guard<std::mutex> lock(mutex);
      broughtForward.push_back(path);
    };
    a.fileStamp = [this](const std::string&) {
      std::lock_guard<std::mutex> lock(mutex);
      return stamps++ == 0 ? script.before : script.after;
    };
    a.openDocumentAndWait = [this](const std::string& path) {
      std::lock_guard<std::mutex> lock(mutex);
      opened.push_back(path);
      return script.editorError;
    };
    a.showEditorError = [this](DWORD error, const std::string&) {
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
  std::vector<std::string> refusals, broughtForward, notedCancels;
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
      // The cancel program ends with 0 whatever happened: a record still there is a failure.
      {"unchanged, cancel refused by the server", {{{kCheckOutProgram, 0}, {kCancelProgram, 0}}, base, base, 0, true},
       {kCheckOutSuccess, kCancelFail}, {kCheckOutProgram, kCancelProgram}, true},
      {"saved with the same size: check-in",
       {{{kCheckOutProgram, 0}, {kCheckInProgram, 0}}, base, FileStamp{101, 7}},
       {kCheckOutSuccess, kCheckInSuccess}, {kCheckOutProgram, kCheckInProgram}, true},
      {"stamp unreadable afterwards: check-in, which cannot start",
       {{{kCheckOutProgram, 0}}, base, std::nullopt},
       {kCheckOutSuccess, kCheckInFail}, {kCheckOutProgram, kCheckInProgram}, true},
      {"editor cannot start: silent cancel", {{{kCheckOutProgram, 0}, {kCancelProgram, 1}}, base, base, 1155},
       {kCheckOutSuccess, kEditFail}, {kCheckOutProgram, kCancelProgram}, true},
      // The editor handed the document to a running instance of itself, which the user saves in.
      {"handed on, then saved: check-in",
       {{{kCheckOutProgram, 0}, {kCheckInProgram, 0}}, base, base, 0, false, 2, FileStamp{102, 9}},
       {kCheckOutSuccess, kCheckInSuccess}, {kCheckOutProgram, kCheckInProgram}, true},
      {"handed on, closed unchanged: cancel",
       {{{kCheckOutProgram, 0}, {kCancelProgram, 0}}, base, base, 0, false, 1},
       {kCheckOutSuccess, kCancelSuccess}, {kCheckOutProgram, kCancelProgram}, true},
  };
  for (const auto& c : cases) {
    auto client = std::make_shared<FakeClient>();
    Recorder recorder(c.script);
    const CheckOutTask task = MakeTask(client);
    RunCheckOutTask(task, recorder.Actions());
    EXPECT_EQ(client->words(), c.replies) << c.name;
    EXPECT_EQ(recorder.started, c.started) << c.name;
    EXPECT_EQ(recorder.opened.size(), c.editorOpened ? 1u : 0u) << c.name;
    // Only a cancel the server took is noted for the start-up check.
    const bool released = c.replies.back() == kCancelSuccess;
    EXPECT_EQ(recorder.notedCancels, released ? std::vector<std::string>{"42|Z:\\work\\Report(42).docx"}
                                              : std::vector<std::string>{})
        << c.name;
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
      {"is-current spelling another program's key", "42^P1^a.docx^1.2^NEW_VERSION^2.0^F", "alice"},
      {"user spelling a key", "42^P1^a.docx^1.2^TRUE^alice^F", "SHARE_NAME"},
  };
  for (const auto& c : cases) {
    auto client = std::make_shared<FakeClient>();
    Recorder recorder(Script{{{kCheckOutProgram, 0}}});
    RunningCycles cycles;
    EXPECT_FALSE(StartCheckOutTask(client, c.arg2, c.userId, "http://h/adaptor", "Z:\\work", recorder.Actions(),
                                   cycles))
        << c.name;
    // A refused command never counts as a running cycle; the reply is pushed before the call returns.
    EXPECT_EQ(cycles.count(), 0u) << c.name;
    ASSERT_TRUE(cycles.WaitNone(std::chrono::seconds(30)));
    EXPECT_EQ(client->words(), std::vector<std::string>{kCheckOutFail}) << c.name;
    EXPECT_TRUE(recorder.started.empty()) << c.name;
    // The page's faults are not the user's business.
    EXPECT_TRUE(recorder.refusals.empty()) << c.name;
  }
}

// What the installation lacks, and a document name that would run or be stored otherwise.
TEST(StartCheckOutTask, WhatTheUserCanActOnIsShown) {
  struct Case {
    const char* name;
    std::string userId, adaptorUrl, workFolder, named, fileName = "a.docx";
  } cases[] = {
      {"no login", "", "http://h/adaptor", "Z:\\work", ""},
      {"no AdaptorURL", "alice", "", "Z:\\work", "AdaptorURL"},
      {"no WorkFolder", "alice", "http://h/adaptor", "", "WorkFolder"},
      {"a program", "alice", "http://h/adaptor", "Z:\\work", "programs", "setup.exe"},
      {"a shortcut, upper case", "alice", "http://h/adaptor", "Z:\\work", "programs", "a.LNK"},
      {"a script", "alice", "http://h/adaptor", "Z:\\work", "programs", "a.js"},
      {"a trailing dot", "alice", "http://h/adaptor", "Z:\\work", "dot", "a.txt."},
      {"a trailing blank", "alice", "http://h/adaptor", "Z:\\work", "blank", "a.txt "},
      {"a right-to-left override", "alice", "http://h/adaptor", "Z:\\work", "character", "a\xE2\x80\xAEtxt.doc"},
  };
  for (const auto& c : cases) {
    auto client = std::make_shared<FakeClient>();
    Recorder recorder(Script{{{kCheckOutProgram, 0}}});
    RunningCycles cycles;
    EXPECT_FALSE(StartCheckOutTask(client, "42^P1^" + c.fileName + "^1.2^TRUE^alice^F", c.userId, c.adaptorUrl,
                                   c.workFolder, recorder.Actions(), cycles));
    EXPECT_EQ(client->words(), std::vector<std::string>{kCheckOutFail}) << c.name;
    EXPECT_TRUE(recorder.started.empty()) << c.name;
    ASSERT_EQ(recorder.refusals.size(), 1u) << c.name;
    EXPECT_FALSE(recorder.refusals[0].empty()) << c.name;
    EXPECT_NE(recorder.refusals[0].find(c.named), std::string::npos) << c.name << ": " << recorder.refusals[0];
  }
}

TEST(StartCheckOutTask, OneCycleADocumentAndEightAtOnce) {
  RunningCycles cycles;
  // Every cycle waits in ZTCheckOut until released.
  std::mutex mutex;
  std::condition_variable changed;
  bool release = false;
  Recorder recorder(Script{{{kCheckOutProgram, 0}, {kCancelProgram, 0}}});
  struct Join {
    std::mutex& mutex;
    std::condition_variable& changed;
    bool& release;
    RunningCycles& cycles;
    ~Join() {
      {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
      }
      changed.notify_all();
      cycles.WaitNone(std::chrono::seconds(60));
    }
  } join{mutex, changed, release, cycles};
  DocumentActions held = recorder.Actions();
  auto run = held.runProgram;
  held.runProgram = [&, run](const std::string& program, const std::string& parameters) {
    if (program.find(kCheckOutProgram) != std::string::npos) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
    }
    return run(program, parameters);
  };
  auto start = [&](const std::string& id) {
    auto client = std::make_shared<FakeClient>();
    bool started = StartCheckOutTask(client, id + "^P1^a.docx^1.0^TRUE^alice^F", "alice", "http://h/a", "Z:\\w",
                                     held, cycles);
    return std::make_pair(started, client);
  };
  ASSERT_TRUE(start("doc-1").first);
  // The same document again, also in another case: refused while its cycle runs, and the
  // cycle's editor is brought forward once its working copy is known.
  cycles.SetWorkingCopy("doc-1", "Z:\\w\\a(doc-1).docx");
  auto again = start("DOC-1");
  EXPECT_FALSE(again.first);
  EXPECT_EQ(again.second->words(), std::vector<std::string>{kCheckOutFail});
  EXPECT_EQ(recorder.broughtForward, std::vector<std::string>{"Z:\\w\\a(doc-1).docx"});
  for (int i = 2; i <= static_cast<int>(kMaxCycles); ++i) ASSERT_TRUE(start("doc-" + std::to_string(i)).first) << i;
  auto ninth = start("doc-9");
  EXPECT_FALSE(ninth.first);
  EXPECT_EQ(ninth.second->words(), std::vector<std::string>{kCheckOutFail});
  EXPECT_EQ(cycles.count(), kMaxCycles);
}

TEST(StartCheckOutTask, TwoCyclesRunSideBySideAndOutliveTheirConnections) {
  RunningCycles cycles;
  // Both check-outs wait in ZTCheckOut until the other has started: only parallel threads
  // get past it.
  std::mutex mutex;
  std::condition_variable changed;
  int inCheckOut = 0;
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
      return run(program, parameters);
    };
    return a;
  };
  Recorder first(Script{{{kCheckOutProgram, 0}, {kCancelProgram, 0}}});
  Recorder second(Script{{{kCheckOutProgram, 0}, {kCheckInProgram, 0}}, FileStamp{1, 1}, FileStamp{1, 2}});
  // Whatever happens below, no cycle outlives the state above, which it uses.
  struct Join {
    RunningCycles& cycles;
    ~Join() { cycles.WaitNone(std::chrono::seconds(60)); }
  } join{cycles};

  auto a = std::make_shared<FakeClient>(), b = std::make_shared<FakeClient>();
  std::weak_ptr<FakeClient> watchA = a;
  ASSERT_TRUE(StartCheckOutTask(a, "1^P^a.docx^1.0^TRUE^alice^F", "alice", "http://h/a", "Z:\\w", gate(first), cycles));
  ASSERT_TRUE(StartCheckOutTask(b, "2^P^b.docx^1.0^TRUE^alice^F", "alice", "http://h/a", "Z:\\w", gate(second), cycles));
  // The page of the first check-out goes away: the cycle keeps its client to the end.
  a.reset();
  ASSERT_TRUE(cycles.WaitNone(std::chrono::seconds(30)));
  // An ended cycle holds nothing any more.
  EXPECT_TRUE(watchA.expired());
  EXPECT_EQ(b->words(), (std::vector<std::string>{kCheckOutSuccess, kCheckInSuccess}));
  EXPECT_EQ(first.started, (std::vector<std::string>{kCheckOutProgram, kCancelProgram}));
  EXPECT_EQ(second.started, (std::vector<std::string>{kCheckOutProgram, kCheckInProgram}));
}

TEST(EdmHelperService, RefusedCheckOutIsAnsweredOnce) {
  win::ClientConfig config;
  config.KeyPath = "Software\\edms-tests\\agent-runner-" + std::to_string(GetCurrentProcessId());
  config.AdaptorURL = "http://127.0.0.1:1/adaptor";
  config.WorkFolder = "Z:\\work";
  SharedConfig shared(config);
  test::FakeWindows windows;
  EdmHelperService service(shared, windows, [](const std::string&) { return std::string(); });
  auto client = std::make_shared<FakeClient>();
  service.HandleRequest(client, {"CHECKOUT", "42^P1^..\\x.docx^1.2^TRUE^alice^F"});
  EXPECT_EQ(client->words(), std::vector<std::string>{kCheckOutFail});
  win::DeleteRegistryTree(HKEY_CURRENT_USER, config.KeyPath);
}

}  // namespace
}  // namespace edms
