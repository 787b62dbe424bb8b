#include "agent/ui/window_threads.h"

#include <windows.h>
#include <objbase.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/win/detached_thread.h"
#include "common/win/trace.h"

namespace edms {
namespace {

constexpr std::chrono::seconds kCloseBound{30};
constexpr std::chrono::milliseconds kCloseRetry{250};

BOOL CALLBACK CloseShown(HWND window, LPARAM) {
  if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

struct WindowThreads::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t count = 0;
  std::set<DWORD> threadIds;
};

WindowThreads::WindowThreads() : state_(std::make_shared<State>()) {}

WindowThreads::~WindowThreads() { CloseAll(kCloseBound); }

bool WindowThreads::CloseAll(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::unique_lock<std::mutex> lock(state_->mutex);
  while (state_->count > 0) {
    const std::vector<DWORD> ids(state_->threadIds.begin(), state_->threadIds.end());
    lock.unlock();
    // Again and again: the first close of a running multi-file window only aborts its run,
    // and a view may follow its window with a message.
    for (DWORD id : ids) EnumThreadWindows(id, CloseShown, 0);
    lock.lock();
    if (std::chrono::steady_clock::now() >= deadline) {
      win::Trace("a window thread does not end: left behind");
      return false;
    }
    state_->changed.wait_for(lock, kCloseRetry, [this] { return state_->count == 0; });
  }
  return true;
}

bool WindowThreads::Start(std::function<void()> body) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->count >= kMaxWindowThreads) return false;
    ++state_->count;
  }
  const bool started = win::StartDetachedThread([state = state_, body = std::move(body)]() mutable {
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->threadIds.insert(GetCurrentThreadId());
    }
    // The shell (folder browsing, opening a document, file icons) wants a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    try {
      body();
    } catch (const std::exception& e) {
      win::Trace(std::string("window thread failed: ") + e.what());
    } catch (...) {
      win::Trace("window thread failed");
    }
    body = nullptr;
    if (SUCCEEDED(com)) CoUninitialize();
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->threadIds.erase(GetCurrentThreadId());
      --state->count;
    }
    state->changed.notify_all();
  });
  if (!started) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      --state_->count;
    }
    state_->changed.notify_all();
    win::Trace("no window thread");
    return false;
  }
  return true;
}

std::size_t WindowThreads::count() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->count;
}

bool WindowThreads::WaitNone(std::chrono::milliseconds bound) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, bound, [this] { return state_->count == 0; });
}

}  // namespace edms
