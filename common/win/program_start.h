// What the short-lived programs set up before their dialog.
#pragma once

namespace edms::win {

// Registers every common-control class the dialogs use (progress bars, trackbars, lists).
void InitCommonControlsForDialogs();

// Windows Sockets for the program's run: started on construction, cleaned up on
// destruction when the start succeeded.
class SocketsForRun {
 public:
  SocketsForRun();
  ~SocketsForRun();
  SocketsForRun(const SocketsForRun&) = delete;
  SocketsForRun& operator=(const SocketsForRun&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

}  // namespace edms::win
