#include "agent/ui/update_run.h"

#include <objbase.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "agent/resource.h"
#include "agent/ui/update_dlg.h"
#include "agent/ui/update_offer.h"
#include "common/text_format.h"
#include "common/win/detached_thread.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/trace.h"

namespace edms {
namespace {

BOOL CALLBACK ForwardShown(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  SetForegroundWindow(window);
  return FALSE;
}

// Ends a message box of the run as No (or as its only button): a box ends on any of its
// commands, and the question must not be answered Yes by an exiting agent.
BOOL CALLBACK EndBox(HWND window, LPARAM) {
  PostMessageW(window, WM_COMMAND, IDNO, 0);
  return TRUE;
}

}  // namespace

struct CUpdateRun::State {
  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;
  UINT doneMessage = 0;
  std::chrono::milliseconds testHold{0};
  mutable std::mutex mutex;
  std::condition_variable ended;
  bool open = false;
  DWORD threadId = 0;
  CUpdateDlg* dialog = nullptr;  // the transfer's window while it runs
  std::atomic<bool> stopped{false};

  std::string Text(UINT id) const { return win::LoadStringLang(instance, id); }

  void Tell(const std::string& text, UINT icon) {
    if (stopped) return;
    win::ShowMessage(nullptr, text, Text(IDS_INFORMATION), MB_OK | icon, true);
  }

  void Run(const UpdateOffer& offer, const std::string& workFolder) {
    if (offer.size < 1) {
      Tell(FillPlaceholders(Text(IDS_LATEST_VERSION), {offer.installedVersion}), MB_ICONINFORMATION);
      return;
    }
    const bool yes = !stopped && AskToUpdate(instance, nullptr, offer);
    win::Trace(std::string("update question answered ") + (yes ? "yes" : "no"));
    if (!yes || stopped) return;
    UpdateActions actions;
    actions.download = [this, &offer](const TransferRequest& request) -> std::optional<TransferResult> {
      CUpdateDlg dialog(instance, offer.target, request, UpdateCaption(instance, offer.target),
                        offer.installedVersion, offer.offeredVersion);
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopped) return std::nullopt;
        this->dialog = &dialog;
      }
      const INT_PTR shown = dialog.DoModal(nullptr);
      std::lock_guard<std::mutex> lock(mutex);
      this->dialog = nullptr;
      if (shown == -1) return std::nullopt;
      return dialog.result();
    };
    actions.tell = [this](const std::string& text) { Tell(text, MB_ICONEXCLAMATION); };
    actions.stopped = [this] { return stopped.load(); };
    actions.testHold = testHold;
    RunUpdate(offer, workFolder, actions);
  }
};

CUpdateRun::CUpdateRun(HINSTANCE instance, HWND mainWindow, UINT doneMessage, std::chrono::milliseconds testHold)
    : state_(std::make_shared<State>()) {
  state_->instance = instance;
  state_->mainWindow = mainWindow;
  state_->doneMessage = doneMessage;
  state_->testHold = testHold;
}

bool CUpdateRun::Start(const UpdateOffer& offer, const std::string& workFolder) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->open || state_->stopped) return false;
    state_->open = true;
    state_->threadId = 0;
  }
  const bool started = win::StartDetachedThread([state = state_, offer, workFolder] {
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->threadId = GetCurrentThreadId();
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    try {
      state->Run(offer, workFolder);
    } catch (const std::exception& e) {
      win::Trace(std::string("update run failed: ") + e.what());
    }
    if (SUCCEEDED(com)) CoUninitialize();
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->open = false;
      state->threadId = 0;
    }
    state->ended.notify_all();
    PostMessageW(state->mainWindow, state->doneMessage, 0, 0);
  });
  if (!started) {
    win::Trace("no update thread");
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->open = false;
    return false;
  }
  return true;
}

bool CUpdateRun::Open() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->open;
}

void CUpdateRun::BringForward() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->threadId) EnumThreadWindows(state_->threadId, ForwardShown, 0);
}

bool CUpdateRun::Stop(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopped = true;
  if (state_->dialog) state_->dialog->Abort();
  if (state_->threadId) EnumThreadWindows(state_->threadId, EndBox, 0);
  return state_->ended.wait_for(lock, bound, [this] { return !state_->open; });
}

}  // namespace edms
