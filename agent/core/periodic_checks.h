// The two server questions behind the main window's timers: how many notices the user has not
// read (GETNEWMSGCOUNT) and whether a newer agent is offered (CHECKUPDATE). Both are asked on
// a thread of their own, so a slow or absent server never freezes the tray and its menus; the
// answer comes back to the window as a posted message. Failures stay silent to the user: the
// result code only decides that nothing is shown.
#pragma once
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent/core/worker_queue.h"

namespace edms {

// Result codes of both checks.
enum CheckResult : int {
  kCheckOk = 0,
  kCheckRefused = -1,         // XRS_RTNCODE other than "00"
  kCheckInvalidUrl = 1,       // the adaptor URL cannot be split; nothing was sent
  kCheckInternetFailure = 3,  // WinInet failed
  kCheckOtherFailure = 4,
};

// What both requests are made of, copied on the window thread.
struct CheckInputs {
  std::string adaptorUrl;
  std::string user;
  std::string appType;
  std::string appVersion;
};

struct CheckAnswer {
  enum class Kind { Notices, Update };
  Kind kind = Kind::Notices;
  int result = kCheckOtherFailure;
  uint64_t count = 0;   // Notices: the unread count
  std::string version;  // Update: the offered version
  uint64_t size = 0;    // Update: the installer's bytes; 0 when nothing is offered
};

// One request each, on the calling thread (bounded by the quick commands' time limits).
CheckAnswer CheckNewMessages(const CheckInputs& inputs);
CheckAnswer CheckForUpdate(const CheckInputs& inputs);

class PeriodicChecks {
 public:
  // Answers are announced to `window` by posting `doneMessage`.
  PeriodicChecks(HWND window, UINT doneMessage);

  // Queues one check; false when it could not be queued.
  bool Ask(CheckAnswer::Kind kind, CheckInputs inputs);

  // The answers that arrived since the last call, oldest first.
  std::vector<CheckAnswer> TakeAnswers();

 private:
  const HWND window_;
  const UINT doneMessage_;
  std::mutex mutex_;
  std::vector<CheckAnswer> answers_;
  WorkerQueue queue_{8};  // last: its thread ends (after its running request) before the rest goes
};

}  // namespace edms
