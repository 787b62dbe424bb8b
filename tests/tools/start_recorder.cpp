// start_recorder.exe [ARGUMENT]: stands in for a program that another program starts (the
// working-documents list beside the agent, the default web browser). Each start appends one
// line to <its own path>.calls: its first argument as the program received it, UTF-8. Copy
// it under the name it stands in for. Exit code 0, or 1 when the line could not be written.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring argument = argv && argc >= 2 ? argv[1] : L"";
  if (argv) LocalFree(argv);

  std::wstring self(MAX_PATH, L'\0');
  DWORD got = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (got == 0 || got >= self.size()) return 1;
  self.resize(got);

  HANDLE file = CreateFileW((self + L".calls").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const std::string line = Utf8(argument) + "\n";
  DWORD wrote = 0;
  const bool ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr) && wrote == line.size();
  CloseHandle(file);
  return ok ? 0 : 1;
}
