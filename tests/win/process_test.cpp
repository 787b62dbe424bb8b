#include "common/win/process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/win/handles.h"
#include "common/win/text.h"
#include "common/win/window_search.h"
#include "tests/win/child_process.h"

namespace edms::win {
namespace {

using test::ReadAll;
using test::SelfPath;
using test::TempPath;

// Runs this program as a child with `args` (after "EXIT_CODE=0&").
UniqueKernelHandle StartChild(const std::string& args, DWORD* processId = nullptr) {
  std::wstring command = L"\"" + Widen(SelfPath()) + L"\" \"EXIT_CODE=0&" + Widen(args) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
  CloseHandle(pi.hThread);
  if (processId) *processId = pi.dwProcessId;
  return UniqueKernelHandle(pi.hProcess);
}

// Polls for a window (bounded): the child shows it after its start.
HWND WaitForWindow(const std::string& title) {
  for (int i = 0; i < 200; ++i) {
    if (HWND window = FindWindowWithTitleContaining(title)) return window;
    Sleep(50);
  }
  return nullptr;
}

TEST(RunProgramAndWait, HandsBackTheExitCodeAndOneQuotedArgument) {
  const std::string out = TempPath("args.txt");
  const std::string korean = "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C final";
  for (int code : {0, 3, 255, -2}) {
    DeleteFileW(Widen(out).c_str());
    const std::string args = "EXIT_CODE=" + std::to_string(code) + "&NOTE=" + korean + "&OUT=" + out;
    EXPECT_EQ(RunProgramAndWait("open", SelfPath(), QuoteArgument(args)), code);
    // One argument, blanks and Korean intact: what the started program looks its keys up in.
    EXPECT_EQ(ReadAll(out), args) << code;
  }
  DeleteFileW(Widen(out).c_str());
}

TEST(RunProgramAndWait, MinusOneWhenNothingStarts) {
  EXPECT_EQ(RunProgramAndWait("open", GetAgentFolder() + "\\no-such-program.exe", "\"EXIT_CODE=0\""), -1);
  EXPECT_EQ(RunProgramAndWait("open", "", ""), -1);
}

TEST(WaitForExitCodeDispatching, KeepsTheCallersWindowsAnswering) {
  // A message posted to one of our windows before the wait is handled during it.
  HWND window = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  ASSERT_TRUE(PostMessageW(window, WM_APP + 7, 0, 0));
  UniqueKernelHandle child = StartChild("SLEEP=500");
  ASSERT_TRUE(child);
  EXPECT_EQ(WaitForExitCodeDispatching(child.get()), 0);
  MSG left;
  EXPECT_FALSE(PeekMessageW(&left, window, WM_APP + 7, WM_APP + 7, PM_NOREMOVE)) << "not dispatched during the wait";
  // A quit seen during the wait is not lost.
  child = StartChild("SLEEP=200");
  PostQuitMessage(5);
  EXPECT_EQ(WaitForExitCodeDispatching(child.get()), 0);
  ASSERT_TRUE(PeekMessageW(&left, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(left.wParam, 5u);
  DestroyWindow(window);
}

TEST(GetAgentFolder, IsTheFolderOfTheRunningProgram) {
  const std::string folder = GetAgentFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  const std::string self = SelfPath();
  const std::string name = self.substr(self.rfind('\\') + 1);
  EXPECT_NE(GetFileAttributesW(Widen(folder + "\\" + name).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(GetFileStamp, SeesSizeAndTimeWithSixtyFourBits) {
  const std::string path = TempPath("stamp.bin");
  EXPECT_FALSE(GetFileStamp(path));
  EXPECT_FALSE(GetFileStamp(""));
  {
    UniqueKernelHandle file(
        CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    // 5 GiB + 1: a size whose high 32 bits matter (sparse on the host, so it costs nothing).
    LARGE_INTEGER end;
    end.QuadPart = (5ll << 30) + 1;
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
    FILETIME t{0x12345678u, 0x01D00000u};
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &t));
  }
  auto stamp = GetFileStamp(path);
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->size, (5ull << 30) + 1);
  EXPECT_EQ(stamp->lastWrite, (0x01D00000ull << 32) | 0x12345678u);
  // Held open without sharing by an "editor", the stamp is still read.
  UniqueKernelHandle held(CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  EXPECT_TRUE(GetFileStamp(path));
  held.reset();
  DeleteFileW(Widen(path).c_str());
}

TEST(Processes, RunningUntilTheyEndAndTheirWindowOwnerIsWaitedFor) {
  EXPECT_TRUE(IsProcessRunning(GetCurrentProcessId()));
  const std::string title = "edms-p-" + std::to_string(GetCurrentProcessId()) + " editor";
  DWORD id = 0;
  UniqueKernelHandle child = StartChild("WINDOW=" + title + "&SLEEP=1500", &id);
  ASSERT_TRUE(child);
  EXPECT_TRUE(IsProcessRunning(id));
  HWND window = WaitForWindow(title);
  ASSERT_TRUE(window);
  WaitForWindowOwner(window);
  // Returned only once the owner had ended.
  EXPECT_EQ(WaitForSingleObject(child.get(), 0), WAIT_OBJECT_0);
  EXPECT_FALSE(IsProcessRunning(id));
  // The owner is gone: nothing to wait for, whatever now carries its id.
  WaitForWindowOwner(window);
  // Our own window: never waited for.
  HWND own = CreateWindowExW(0, L"Static", L"own", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  WaitForWindowOwner(own);
  DestroyWindow(own);
}

TEST(FindWindowByText, SearchesDepthFirstByTitleAndClass) {
  const std::string tag = "edms-p-" + std::to_string(GetCurrentProcessId());
  HWND top = CreateWindowExW(0, L"Static", Widen(tag + " Report(42)").c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(top);
  HWND panel = CreateWindowExW(0, L"Static", L"panel", WS_CHILD, 0, 0, 50, 50, top, nullptr, nullptr, nullptr);
  HWND button = CreateWindowExW(0, L"Button", Widen(tag + " inner").c_str(), WS_CHILD, 0, 0, 10, 10, panel, nullptr,
                                nullptr, nullptr);
  ASSERT_TRUE(panel && button);
  struct Case {
    const char* name;
    HWND parent;
    std::string classPart, titlePart;
    HWND skip;
    HWND expected;
  };
  const Case cases[] = {
      {"top level by title", nullptr, "", tag + " Report(42)", nullptr, top},
      {"grandchild by title", nullptr, "", tag + " inner", nullptr, button},
      {"class and title", nullptr, "utto", tag, nullptr, button},
      {"class that does not match", nullptr, "Edit", tag, nullptr, nullptr},
      {"below a parent, the parent itself not counted", top, "", tag, nullptr, button},
      {"nothing to look for", nullptr, "", "", nullptr, nullptr},
      {"a skipped window hides its descendants", nullptr, "", tag + " inner", top, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindWindowByText(c.parent, c.classPart, c.titlePart, c.skip), c.expected) << c.name;
  }
  DestroyWindow(top);
}

}  // namespace
}  // namespace edms::win
