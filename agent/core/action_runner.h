// The agent's check-out cycle: ZTCheckOut, the editor, then ZTCheckIn or ZTCheckOutCancel,
// each outcome replied to the page that asked for it.
#pragma once
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/core/edm_helper_service.h"
#include "common/checkout_cycle.h"

namespace edms {

// One CHECKOUT, owned by its action thread. The client is held for the thread's whole run,
// so the object stays valid after the page has gone (replies to it are then dropped).
struct CheckOutTask {
  CheckOutValues values;
  CheckOutArguments arguments;
  std::string agentFolder;
  std::shared_ptr<WebsocketClient> client;
};

// What the cycle does to the system; the defaults are the real operations. Tests replace them.
struct DocumentActions {
  // Starts a program of the agent's folder with the quoted argument string; its exit code
  // or -1.
  std::function<int(const std::string& program, const std::string& parameters)> runProgram;
  // The LocalPath of the document's check-out record; empty when there is none.
  std::function<std::string(const std::string& documentId)> localPath;
  std::function<std::optional<FileStamp>(const std::string& path)> fileStamp;
  std::function<DWORD(const std::string& path)> openDocumentAndWait;
  // Tells the user that the document could not be opened (modal, topmost).
  std::function<void(DWORD error)> showEditorError;
  // The pause between ZTCheckOut's end and reading its record.
  std::chrono::milliseconds settle{2000};
};

DocumentActions SystemDocumentActions();

// The whole cycle on the calling thread; the replies go to task.client in their order:
// "CHECKOUT_FAIL"; or "CHECKOUT_SUCCESS" then one of "EDIT_FAIL", "CHECKIN_SUCCESS",
// "CHECKIN_FAIL", "CANCEL_SUCCESS", "CANCEL_FAIL". A missing check-out record is a document
// that cannot be opened: the cancel program runs and the reply is "EDIT_FAIL". Never throws.
void RunCheckOutTask(const CheckOutTask& task, const DocumentActions& actions);

// The check-out cycles running now. A cycle's thread is never joined: it ends on its own
// when its last program has; this is where the agent (and a test) can see them go.
class RunningCycles {
 public:
  void Add();
  void Remove();
  std::size_t count() const;
  // Waits until no cycle runs; false when `bound` ran out first.
  bool WaitNone(std::chrono::milliseconds bound) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::size_t count_ = 0;
};

// The agent's one set of cycles.
RunningCycles& AgentCycles();

// Checks the CHECKOUT parameter and the values it is combined with; on refusal replies
// "CHECKOUT_FAIL" at once and starts nothing. Otherwise runs the cycle on a thread of its
// own, counted in `cycles` until it ends. False when refused (or no thread could be made,
// also replied).
bool StartCheckOutTask(const std::shared_ptr<WebsocketClient>& client, const std::string& arg2,
                       const std::string& userId, const std::string& adaptorUrl, const std::string& workFolder,
                       DocumentActions actions = SystemDocumentActions(), RunningCycles& cycles = AgentCycles());

// The program file names in the agent's folder.
inline constexpr char kCheckOutProgram[] = "ZTCheckOut.exe";
inline constexpr char kCheckInProgram[] = "ZTCheckIn.exe";
inline constexpr char kCancelProgram[] = "ZTCheckOutCancel.exe";

}  // namespace edms
