// The update run after the user said Yes to an offer: the update window downloads the
// installer into the work folder as AppType[version].exe; its MD5 must match the checksum the
// server sent and its version resource must name this system's publisher; then the installer
// is started silently (it closes this agent with its Exit command, replaces the programs,
// keeps the configuration and starts the new agent). Any failure is told in a box and nothing
// is started. Runs on the main window's thread, inside the loops of its own windows.
#pragma once
#include <windows.h>

#include <string>

#include "agent/core/update_offer.h"

namespace edms {

class CUpdateDlg;

// False when the offered version or AppType is not a plain name part: such an offer is
// refused with a debug line, before the user is asked and before anything is downloaded.
bool IsAcceptableOffer(const UpdateOffer& offer);

class CSelfUpdate {
 public:
  explicit CSelfUpdate(HINSTANCE instance) : instance_(instance) {}
  CSelfUpdate(const CSelfUpdate&) = delete;
  CSelfUpdate& operator=(const CSelfUpdate&) = delete;

  // The whole run, its windows owned by `owner`; returns once the installer has started or a
  // failure has been told.
  void Run(HWND owner, const UpdateOffer& offer, const std::string& workFolder);

  bool Running() const { return running_; }
  // The run's window that is open now (the update window or its message box), else null.
  HWND OpenWindow() const;
  // The agent is exiting: the transfer stops, an open box closes, nothing more is done.
  void Stop();

 private:
  void Steps(const UpdateOffer& offer, const std::string& workFolder);
  void Tell(const std::string& text);

  HINSTANCE instance_;
  HWND owner_ = nullptr;
  CUpdateDlg* dialog_ = nullptr;
  bool boxOpen_ = false;
  bool running_ = false;
  bool stopped_ = false;
};

}  // namespace edms
