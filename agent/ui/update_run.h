// The update question and run on a window thread of their own, so the main window's thread
// never runs a transfer inside a modal loop: the tray and its menus stay live while an update
// downloads. One at a time; the main window learns that it ended by `doneMessage`.
#pragma once
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>

#include "agent/service/self_update.h"

namespace edms {

class CUpdateRun {
 public:
  // `testHold`: tests only, how long a run holds its downloaded installer before the checks.
  CUpdateRun(HINSTANCE instance, HWND mainWindow, UINT doneMessage,
             std::chrono::milliseconds testHold = std::chrono::milliseconds(0));
  CUpdateRun(const CUpdateRun&) = delete;
  CUpdateRun& operator=(const CUpdateRun&) = delete;

  // With an offer (size > 0): the question, and after Yes the run into `workFolder`. Without
  // one: the "latest version" message of a check asked for from the menu. False when a run is
  // open already or no thread could be made.
  bool Start(const UpdateOffer& offer, const std::string& workFolder);

  // True from Start until the thread has posted `doneMessage`.
  bool Open() const;
  // Brings the run's window (its question, transfer or message) to the front.
  void BringForward() const;
  // The agent is exiting: nothing more is told or started, an open box ends as No, the
  // transfer stops. Waits for the thread at most `bound`; false when it is still running.
  bool Stop(std::chrono::milliseconds bound);

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the thread
};

}  // namespace edms
