// A test program that is also its own child process. Started with one argument beginning
// "EXIT_CODE=", it does what the argument's keys say before the test framework starts, then
// exits with EXIT_CODE: OUT=file (write the argument, UTF-8), WINDOW=title (show a window),
// SLEEP=ms, EDIT=file (append "+", as an editor saving), in that order. Include it in one
// source file of the test program.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/arguments.h"
#include "common/win/text.h"

namespace edms::test {

struct ChildMode {
  ChildMode() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return;
    std::string arg = argc == 2 ? win::Narrow(argv[1]) : std::string();
    LocalFree(argv);
    if (arg.rfind("EXIT_CODE=", 0) != 0) return;
    auto value = [&](const char* key) { return Arg(arg, key); };
    if (!value("OUT").empty()) std::ofstream(win::Widen(value("OUT")).c_str(), std::ios::binary) << arg;
    if (!value("WINDOW").empty()) {
      CreateWindowExW(0, L"Static", win::Widen(value("WINDOW")).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 50,
                      nullptr, nullptr, nullptr, nullptr);
    }
    if (!value("SLEEP").empty()) Sleep(std::stoul(value("SLEEP")));
    if (!value("EDIT").empty()) std::ofstream(win::Widen(value("EDIT")).c_str(), std::ios::binary | std::ios::app) << "+";
    ExitProcess(static_cast<UINT>(std::stoll(value("EXIT_CODE"))));
  }
};
inline ChildMode childMode;

inline std::string SelfPath() {
  wchar_t path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  return win::Narrow(std::wstring(path, n));
}

// A path in %TEMP% that names this process, so parallel runs do not meet.
inline std::string TempPath(const std::string& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return win::Narrow(dir) + "edms-t-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(win::Widen(path).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace edms::test
