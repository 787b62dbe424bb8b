#include "agent/service/view_document.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <fstream>
#include <string>
#include <vector>

#include "agent/ui/page_windows.h"
#include "agent/ui/window_threads.h"
#include "common/win/language.h"
#include "common/win/text.h"
#include "tests/win/child_process.h"

namespace edms {
namespace {

bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 200; ++i) {
    if (condition()) return true;
    Sleep(50);
  }
  return condition();
}

bool Exists(const std::string& path) { return GetFileAttributesW(win::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// What a view asked of the system.
struct Recorder {
  std::vector<TransferRequest> downloads;
  std::vector<std::string> titles, opened, told;
  TransferResult next{kTransferOk, {}, {}, {}};
  DWORD openError = 0;

  ViewActions Actions() {
    ViewActions actions;
    actions.download = [this](const TransferRequest& request, const std::string& title) {
      downloads.push_back(request);
      titles.push_back(title);
      TransferResult result = next;
      if (result.code == kTransferOk) {
        result.path = request.folder + "\\" + request.name;
        std::ofstream(win::Widen(result.path).c_str(), std::ios::binary) << "copy";
      }
      return result;
    };
    actions.open = [this](const std::string& path) {
      opened.push_back(path);
      return openError;
    };
    actions.tell = [this](const std::string& text) { told.push_back(text); };
    return actions;
  }
};

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::ApplyLanguage(win::kLangEnglish);
    work_ = test::TempPath("view-work");
    context_ = {"http://127.0.0.1:1/adaptor", work_, "alice", "", "", 0};
  }
  void TearDown() override {
    for (const char* name : {"View\\a.txt", "View\\b.txt", "View\\earlier.txt", "View\\.zelto-views"}) {
      const std::wstring path = win::Widen(work_ + "\\" + name);
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(win::Widen(work_ + "\\View").c_str());
    RemoveDirectoryW(win::Widen(work_).c_str());
  }
  std::string work_;
  ViewContext context_;
};

TEST_F(ViewTest, RefusedViewsTellWhyAndFetchNothing) {
  struct Case {
    std::string arg2;
    std::string workFolder;
    std::string told;
  } cases[] = {
      {"D1^P1", "C:\\w", "The request is incomplete: it needs a document id, a page id and a file name."},
      {"D1^P1^..\\..\\boot.ini", "C:\\w", "The file name holds a folder or drive (\\, /, : or ..)."},
      {"D1^P1^run.exe", "C:\\w", "Files of this type can run as programs; they are not downloaded."},
      {"D1^P1^nul.txt", "C:\\w", "The file name is reserved for a device (CON, NUL, COM1, LPT1, ...)."},
      {"D1^P1^a.txt", "", "No work folder is configured, so the document cannot be viewed."},
      // Only document types open by themselves (the default list: no theme, no remote desktop).
      {"D1^P1^t.theme", "C:\\w", "Files of the type .theme are not opened automatically on this computer: it is no "
                                   "document type the administrator allows. Download it instead, or ask the administrator."},
      {"D1^P1^t.RDP", "C:\\w", "Files of the type .rdp are not opened automatically on this computer: it is no "
                                 "document type the administrator allows. Download it instead, or ask the administrator."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg2);
    Recorder recorder;
    ViewContext context = context_;
    context.workFolder = c.workFolder;
    ViewDocument(c.arg2, context, recorder.Actions());
    EXPECT_EQ(recorder.told, std::vector<std::string>{c.told});
    EXPECT_TRUE(recorder.downloads.empty());
  }
}

TEST_F(ViewTest, ACopyReplacesEarlierViewsReadOnlyAndIsOpened) {
  Recorder recorder;
  ViewDocument("D1^P1^b.txt", context_, recorder.Actions());  // creates the View folder
  const std::string earlier = work_ + "\\View\\b.txt";
  ASSERT_TRUE(Exists(earlier));
  // Someone else's file in the folder: the agent deletes only copies it made.
  const std::string theirs = work_ + "\\View\\earlier.txt";
  std::ofstream(win::Widen(theirs).c_str()) << "old";

  Recorder again;
  ViewDocument("D1^P1^a.txt", context_, again.Actions());
  EXPECT_FALSE(Exists(earlier));
  EXPECT_TRUE(Exists(theirs));
  ASSERT_EQ(again.downloads.size(), 1u);
  EXPECT_EQ(again.downloads[0].folder, work_ + "\\View");
  EXPECT_EQ(again.downloads[0].name, "a.txt");
  EXPECT_FALSE(again.downloads[0].freeName);
  EXPECT_EQ(again.downloads[0].values, (std::vector<std::string>{"D1", "P1", "alice", "KVMRT"}));
  EXPECT_EQ(again.titles, std::vector<std::string>{"Downloading a.txt..."});
  const std::string copy = work_ + "\\View\\a.txt";
  EXPECT_TRUE(GetFileAttributesW(win::Widen(copy).c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(again.opened, std::vector<std::string>{copy});
  EXPECT_TRUE(again.told.empty());
}

TEST_F(ViewTest, FailuresAreToldAndNothingIsOpened) {
  Recorder refused;
  refused.next = {kTransferRefused, "Not yours.", {}, {}};
  ViewDocument("D1^P1^a.txt", context_, refused.Actions());
  EXPECT_EQ(refused.told, std::vector<std::string>{"Not yours."});
  EXPECT_TRUE(refused.opened.empty());

  Recorder unopened;
  unopened.openError = ERROR_NO_ASSOCIATION;
  ViewDocument("D1^P1^a.txt", context_, unopened.Actions());
  EXPECT_EQ(unopened.told, std::vector<std::string>{"The document could not be opened (system error code 1155)."});
}

// Views and download windows run on threads of their own, a bounded number, and are closed
// when the agent goes.
TEST(WindowThreads, BoundedAndClosedAtTheEnd) {
  std::atomic<int> ended{0};
  {
    WindowThreads windows;
    for (size_t i = 0; i < WindowThreads::kMaxWindowThreads; ++i) {
      EXPECT_TRUE(windows.Start([&ended] {
        MessageBoxW(nullptr, L"open", L"window-threads-test", MB_OK);
        ++ended;
      }));
    }
    EXPECT_FALSE(windows.Start([] {}));
    EXPECT_EQ(windows.count(), WindowThreads::kMaxWindowThreads);
  }
  EXPECT_EQ(ended, static_cast<int>(WindowThreads::kMaxWindowThreads));
}

// The page's windows as the agent opens them.
TEST(PageWindows, ASecondViewComesForwardFullSlotsAreToldAndFailureBoxesHoldNoSlot) {
  win::ApplyLanguage(win::kLangEnglish);
  SharedConfig config{win::ClientConfig{}};
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  std::vector<std::string> fetched, toldOnMain;
  CPageWindows windows(config, [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    toldOnMain.push_back(text);
  });
  windows.SetViewActions([&](const ViewContext&) {
    ViewActions actions;
    actions.download = [&](const TransferRequest& request, const std::string&) {
      std::unique_lock<std::mutex> lock(mutex);
      fetched.push_back(request.values[0]);
      changed.notify_all();
      changed.wait(lock, [&] { return released; });
      return TransferResult{kTransferRefused, "Not yours: " + request.values[0], {}, {}};
    };
    actions.open = [](const std::string&) { return DWORD{0}; };
    actions.tell = [&windows](const std::string& text) { windows.Tell(text); };
    return actions;
  });
  const ViewContext context{"http://127.0.0.1:1/adaptor", test::TempPath("page-windows"), "alice", "", "*", 0};
  auto fetchedCount = [&](std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return fetched.size() == n; });
  };

  windows.StartView(context, "D1^P1^a.txt");
  ASSERT_TRUE(fetchedCount(1));
  windows.StartView(context, "d1^P2^a.txt");  // a double click: the same document
  for (const char* other : {"D2^P^b.txt", "D3^P^c.txt", "D4^P^d.txt"}) windows.StartView(context, other);
  ASSERT_TRUE(fetchedCount(4));
  EXPECT_EQ(windows.OpenWindowCount(), WindowThreads::kMaxWindowThreads);
  windows.StartView(context, "D5^P^e.txt");
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(toldOnMain, std::vector<std::string>{"Too many windows are open: close a download or view window, then try again."});
    std::vector<std::string> sorted = fetched;  // the threads run in any order
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"D1", "D2", "D3", "D4"}));
    released = true;
  }
  changed.notify_all();
  // Each view failed and left its box open: the boxes hold no window thread.
  EXPECT_TRUE(windows.OpenWindowCount() == 0 || WaitFor([&] { return windows.OpenWindowCount() == 0; }));
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = FindWindowW(nullptr, L"Information")) != nullptr; }));
  for (int i = 0; i < 8 && (box = FindWindowW(nullptr, L"Information")); ++i) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(box); });
  }
}

}  // namespace
}  // namespace edms
