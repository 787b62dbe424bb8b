// One check-in attempt: the working copy goes to the server as the body of a CHECKIN
// request; on success the copy and its check-out record are removed.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace edms::checkin {

// The check-in result, which is also the program's exit code.
enum CheckInResult : int {
  kAccepted = 0,
  kRefused = -1,
  kInvalidUrl = 1,
  kCannotOpenFile = 2,
  kNetworkFailure = 3,
  kOtherFailure = 4,
  kRecordUnreadable = 5,
};

struct CheckInOutcome {
  int result = kOtherFailure;
  std::string errorText;  // what the dialog shows for a result other than 0
  bool copyKept = false;  // accepted, but the working copy could not be deleted (in use)
  std::string localPath;  // the working copy
};

struct UploadHooks {
  std::function<void(int percent)> progress;  // 0..100
  std::function<void()> pump;                 // lets the window repaint between chunks
};

// Largest piece of the working copy written at once.
inline constexpr size_t kUploadChunk = 196608;

// `args` is the argument string with NEW_VERSION appended; `note` the version note.
// The working copy is streamed from disk, never held whole.
CheckInOutcome RunCheckIn(HINSTANCE instance, const std::string& args, const std::string& note,
                          const UploadHooks& hooks);

}  // namespace edms::checkin
