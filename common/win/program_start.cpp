#include "common/win/program_start.h"

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

namespace edms::win {

void InitCommonControlsForDialogs() {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
}

SocketsForRun::SocketsForRun() {
  WSADATA wsa{};
  ok_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

SocketsForRun::~SocketsForRun() {
  if (ok_) WSACleanup();
}

}  // namespace edms::win
