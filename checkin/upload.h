// One check-in attempt: the working copy goes to the server as the body of a CHECKIN
// request; on success its check-out record is removed and the copy is kept in the work
// folder's "Checked in" folder (deleted when KeepCheckedInDays is 0).
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "common/win/program_result.h"

namespace edms::checkin {

// The check-in result, which is also the program's exit code: 0 accepted, -1 refused by the
// server, 1 invalid URL, 2 the working copy cannot be opened, 3 network failure, 4 any other
// failure (also a copy that could not be read to its end), 5 the check-out record cannot be
// read. `result.message` is what the dialog shows for anything but 0.
struct CheckInOutcome {
  win::ProgramResult result{win::kResultOtherFailure, {}};
  bool copyKept = false;  // accepted, but the working copy is in use and stayed where it was
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
