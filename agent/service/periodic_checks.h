// The two server questions behind the main window's timers: how many notices the user has not
// read (GETNEWMSGCOUNT) and whether a newer agent is offered (CHECKUPDATE). Both are asked on
// a thread of their own, so a slow or absent server never freezes the tray and its menus; the
// window learns that an answer is ready through a callback. Failures stay silent to the user: the
// result code only decides that nothing is shown.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "agent/service/worker_queue.h"
#include "common/win/program_result.h"

namespace edms {

// Both checks answer with the exit codes every program shares (win::ResultOfExchange): 0,
// -1 for a refusal, 1 for an adaptor URL that cannot be split (nothing was sent), 3 when
// WinInet failed, 4 otherwise.
inline constexpr int kCheckOk = win::kResultOk;

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
  int result = win::kResultOtherFailure;
  uint64_t count = 0;   // Notices: the unread count
  std::string version;  // Update: the offered version
  uint64_t size = 0;    // Update: the installer's bytes; 0 when nothing is offered
};

// One request each, on the calling thread (bounded by the quick commands' time limits).
CheckAnswer CheckNewMessages(const CheckInputs& inputs);
CheckAnswer CheckForUpdate(const CheckInputs& inputs);

class PeriodicChecks {
 public:
  // `announce` runs on the checks' thread whenever an answer is ready; it must not wait.
  explicit PeriodicChecks(std::function<void()> announce);

  // Queues one check; false when it could not be queued.
  bool Ask(CheckAnswer::Kind kind, CheckInputs inputs);

  // The answers that arrived since the last call, oldest first.
  std::vector<CheckAnswer> TakeAnswers();

 private:
  const std::function<void()> announce_;
  std::mutex mutex_;
  std::vector<CheckAnswer> answers_;
  WorkerQueue queue_{8};  // last: its thread ends (after its running request) before the rest goes
};

}  // namespace edms
