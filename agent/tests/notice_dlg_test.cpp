// The notice window's behaviour around its browser control, driven by a fake control: Wine
// has no engine that renders pages.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "agent/ui/notice_dlg.h"
#include "common/win/program_start.h"

namespace edms {
namespace {

// Fires the control's events from the window's own message loop, as the real control does.
class FakeBrowser : public NoticeBrowser {
 public:
  bool canCreate = true;
  bool canNavigate = true;
  // Run once the page was asked for, with the window; nothing: the page never completes.
  std::function<void(NoticeBrowserEvents&, HWND)> afterNavigate;

  bool Create(HWND parent, NoticeBrowserEvents& events) override {
    parent_ = parent;
    events_ = &events;
    return canCreate;
  }
  bool Navigate(const std::string&) override {
    if (!canNavigate) return false;
    if (afterNavigate) {
      current_ = this;
      SetTimer(parent_, kFireTimer, 1, &FakeBrowser::Fire);
    }
    return true;
  }
  void Resize(int, int) override {}
  void Destroy() override { events_ = nullptr; }

 private:
  static constexpr UINT_PTR kFireTimer = 0x4E42;
  static void CALLBACK Fire(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (current_ && current_->events_) current_->afterNavigate(*current_->events_, window);
  }
  static inline FakeBrowser* current_ = nullptr;
  HWND parent_ = nullptr;
  NoticeBrowserEvents* events_ = nullptr;
};

struct NoticeRun {
  INT_PTR result = -1;
  bool becameVisible = false;
  RECT client{};
  RECT window{};
};

// Runs the window modally with `browser`; a watcher waits (bounded) for it to show, notes its
// geometry and closes it. A window that never shows is closed when the bound runs out.
NoticeRun RunNotice(std::unique_ptr<FakeBrowser> browser, unsigned showTimeoutMs = 60000) {
  win::InitCommonControlsForDialogs();
  CNoticeDlg dialog(GetModuleHandleW(nullptr), "http://127.0.0.1:1/notice?XRQ_USER=alice&XRQ_LANG=1033", "",
                    std::move(browser), showTimeoutMs);
  NoticeRun run;
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      HWND window = dialog.hwnd();
      if (window && IsWindowVisible(window)) {
        run.becameVisible = true;
        GetClientRect(window, &run.client);
        GetWindowRect(window, &run.window);
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (HWND window = dialog.hwnd()) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  });
  run.result = dialog.DoModal(nullptr);
  done = true;
  watcher.join();
  return run;
}

RECT WorkArea() {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

void ExpectCentred(const RECT& window) {
  const RECT work = WorkArea();
  EXPECT_LE(std::abs((window.left - work.left) - (work.right - window.right)), 1);
  EXPECT_LE(std::abs((window.top - work.top) - (work.bottom - window.bottom)), 1);
}

TEST(NoticeWindow, TakesTheDeclaredSizeOnceThePageCompletes) {
  auto browser = std::make_unique<FakeBrowser>();
  bool hiddenWhileLoading = false;
  browser->afterNavigate = [&](NoticeBrowserEvents& events, HWND window) {
    hiddenWhileLoading = !IsWindowVisible(window);
    EXPECT_FALSE(events.OnBeforeNavigate("http://127.0.0.1:1/notice/next?page=2"));
    // Anything but the notice page's own origin is cancelled.
    EXPECT_TRUE(events.OnBeforeNavigate("file:///C:/Windows/win.ini"));
    EXPECT_TRUE(events.OnBeforeNavigate("http://evil.example/"));
    events.OnDocumentComplete(600, 400);
  };
  const NoticeRun run = RunNotice(std::move(browser));
  ASSERT_TRUE(run.becameVisible);
  EXPECT_EQ(run.client.right, 600);
  EXPECT_EQ(run.client.bottom, 400);
  ExpectCentred(run.window);
  EXPECT_TRUE(hiddenWhileLoading);
  EXPECT_EQ(run.result, IDCANCEL);
}

TEST(NoticeWindow, IsShownEvenWhenThePageNeverCompletesOrFails) {
  struct Case {
    const char* name;
    std::function<void(NoticeBrowserEvents&, HWND)> afterNavigate;
    unsigned showTimeoutMs;  // long where the event alone must show the window
  } cases[] = {
      {"never completes", nullptr, 200},
      {"navigation error", [](NoticeBrowserEvents& events, HWND) { events.OnNavigateError(); }, 60000},
      {"not an HTML page", [](NoticeBrowserEvents& events, HWND) { events.OnDocumentComplete(0, 0); }, 60000},
  };
  for (auto& c : cases) {
    auto browser = std::make_unique<FakeBrowser>();
    browser->afterNavigate = c.afterNavigate;
    const NoticeRun run = RunNotice(std::move(browser), c.showTimeoutMs);
    ASSERT_TRUE(run.becameVisible) << c.name;
    EXPECT_EQ(run.client.right, kNoticeDefaultWidth) << c.name;
    EXPECT_EQ(run.client.bottom, kNoticeDefaultHeight) << c.name;
    ExpectCentred(run.window);
  }
}

TEST(NoticeWindow, ALargerDeclaredSizeIsCutToTheWorkArea) {
  auto browser = std::make_unique<FakeBrowser>();
  browser->afterNavigate = [](NoticeBrowserEvents& events, HWND) { events.OnDocumentComplete(20000, 15000); };
  const NoticeRun run = RunNotice(std::move(browser));
  ASSERT_TRUE(run.becameVisible);
  const RECT work = WorkArea();
  EXPECT_GE(run.window.left, work.left);
  EXPECT_GE(run.window.top, work.top);
  EXPECT_LE(run.window.right, work.right);
  EXPECT_LE(run.window.bottom, work.bottom);
}

TEST(NoticeWindow, ThePageClosesItWithTheMarker) {
  auto browser = std::make_unique<FakeBrowser>();
  bool cancelled = false;
  browser->afterNavigate = [&](NoticeBrowserEvents& events, HWND) {
    cancelled = events.OnBeforeNavigate("http://127.0.0.1:1/notice/close?zelto_action=close");
  };
  const NoticeRun run = RunNotice(std::move(browser));
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(cancelled);
}

TEST(NoticeWindow, EndsUnshownWhenNoControlCanShowThePage) {
  for (bool create : {false, true}) {
    auto browser = std::make_unique<FakeBrowser>();
    browser->canCreate = create;
    browser->canNavigate = false;
    const NoticeRun run = RunNotice(std::move(browser));
    EXPECT_EQ(run.result, CNoticeDlg::kNoBrowser) << create;
    EXPECT_FALSE(run.becameVisible) << create;
  }
}

}  // namespace
}  // namespace edms
