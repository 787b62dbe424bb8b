// The agent's check-out cycle: ZTCheckOut, the editor, then ZTCheckIn or ZTCheckOutCancel,
// each outcome replied to the page that asked for it.
#pragma once
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/service/websocket_client.h"
#include "common/checkout_cycle.h"
#include "common/program_names.h"

namespace edms {

class RunningCycles;

// One CHECKOUT, owned by its action thread. The client is held for the thread's whole run,
// so the object stays valid after the page has gone (replies to it are then dropped).
struct CheckOutTask {
  CheckOutValues values;
  CheckOutArguments arguments;
  std::string agentFolder;
  std::shared_ptr<WebsocketClient> client;
  RunningCycles* cycles = nullptr;  // told the working copy once it is known; may be null
};

// What the cycle does to the system; the defaults are the real operations. Tests replace them.
struct DocumentActions {
  // Starts a program of the agent's folder with the quoted argument string; its exit code
  // or -1.
  std::function<int(const std::string& program, const std::string& parameters)> runProgram;
  // The LocalPath of the document's check-out record; empty when there is none.
  std::function<std::string(const std::string& documentId)> localPath;
  // Whether the document's check-out record exists (a cancel that worked removed it).
  std::function<bool(const std::string& documentId)> recordExists;
  std::function<std::optional<FileStamp>(const std::string& path)> fileStamp;
  std::function<DWORD(const std::string& path)> openDocumentAndWait;
  // Whether an editor still has the document: a process holds the file open or a window
  // names it.
  std::function<bool(const std::string& path)> documentInUse;
  // Returns once the document is no longer in use.
  std::function<void(const std::string& path)> waitWhileInUse;
  // Notes that the cycle cancelled the check-out of a copy it found unchanged: an editor that
  // saves it later is found by the agent's start-up check.
  std::function<void(const std::string& documentId, const std::string& path)> noteCancelled;
  // Tells the user that the document at `path` could not be opened.
  std::function<void(DWORD error, const std::string& path)> showEditorError;
  // Tells the user why a check-out cannot start on this computer (the installation's fault,
  // not the page's). Must not wait for the user: the caller may be an I/O thread.
  std::function<void(const std::string& text)> showRefusal;
  // Brings the editor of a working copy to the front (a second CHECKOUT of its document).
  // Must not wait long: the caller may be an I/O thread.
  std::function<void(const std::string& workingCopy)> bringEditorForward;
  // The pause between ZTCheckOut's end and reading its record.
  std::chrono::milliseconds settle{2000};
  // How long a copy must stay unchanged and unused after its editor ended before the cycle
  // cancels: an editor that hands the document to an instance already running may take that
  // long to show it.
  std::chrono::milliseconds editorSettle{3000};
};

// The real operations; what the user is told goes to `tell`, which must not wait.
DocumentActions SystemDocumentActions(std::function<void(const std::string& text)> tell);

// What the user is told when a working copy cannot be opened: its type and, in words, why
// (a type that no program opens is said so whatever code the shell gave), with the code.
std::string EditorErrorText(DWORD error, const std::string& path);

// The whole cycle on the calling thread; the replies go to task.client in their order:
// "CHECKOUT_FAIL"; or "CHECKOUT_SUCCESS" then one of "EDIT_FAIL", "CHECKIN_SUCCESS",
// "CHECKIN_FAIL", "CANCEL_SUCCESS", "CANCEL_FAIL". A missing check-out record is a document
// that cannot be opened: the cancel program runs and the reply is "EDIT_FAIL". The cancel
// counts as done only when ZTCheckOutCancel (whose exit code is always 0) ended with 0 and
// the record is gone. Never throws.
void RunCheckOutTask(const CheckOutTask& task, const DocumentActions& actions);

// At most this many check-out cycles run at once.
inline constexpr std::size_t kMaxCycles = 8;

// The check-out cycles running now, one per document at the most. A cycle's thread is never
// joined: it ends on its own when its last program has; this is where the agent (and a test)
// can see them go. Document ids are compared as the registry and the file system compare
// them, without regard to ASCII case.
class RunningCycles {
 public:
  explicit RunningCycles(std::size_t limit = kMaxCycles) : limit_(limit) {}
  enum class Claim { kStarted, kSameDocument, kTooMany };
  Claim Add(const std::string& documentId);
  void Remove(const std::string& documentId);
  void SetWorkingCopy(const std::string& documentId, const std::string& path);
  // The working copy of the document's running cycle; empty before it is known or when no
  // cycle of that document runs.
  std::string WorkingCopyOf(const std::string& documentId) const;
  std::size_t count() const;
  // Waits until no cycle runs; false when `bound` ran out first.
  bool WaitNone(std::chrono::milliseconds bound) const;

 private:
  const std::size_t limit_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<std::string, std::string> running_;  // lower-cased document id -> working copy
};

// The agent's one set of cycles.
RunningCycles& AgentCycles();

// Checks the CHECKOUT parameter and the values it is combined with; on refusal replies
// "CHECKOUT_FAIL" at once and starts nothing. `userId` is the login text of the connection
// that sent the command. An empty user id, AdaptorURL or WorkFolder also tells the user what
// is missing; a document whose cycle already runs brings that cycle's editor forward; more
// than kMaxCycles at once are refused. Otherwise runs the cycle on a thread of its own,
// counted in `cycles` until it ends. False when refused (or no thread could be made, also
// replied). Never waits.
// `openableTypes` is the configuration's OpenableTypes: a working copy of another type is
// refused (and the user told) before anything is fetched, since its editor opens by itself.
bool StartCheckOutTask(const std::shared_ptr<WebsocketClient>& client, const std::string& arg2,
                       const std::string& userId, const std::string& adaptorUrl, const std::string& workFolder,
                       DocumentActions actions, RunningCycles& cycles = AgentCycles(),
                       const std::string& openableTypes = {});

}  // namespace edms
