// test_editor.exe DOCUMENT [--write TEXT]: the editor the end-to-end tests register for a
// test file extension. It writes DOCUMENT + ".opened" holding its command line (UTF-8), so a
// test can see that it was started and with what; with --write it also appends TEXT to the
// document, like a user who edited and saved it. Exit code 0, or 1 when a write failed.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

bool WriteFileText(const std::wstring& path, const std::string& text, bool append) {
  HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, 0, nullptr,
                         append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) &&
            wrote == text.size();
  CloseHandle(h);
  return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 1;
  std::wstring document = argv[1];
  std::wstring edit = (argc >= 4 && std::wstring(argv[2]) == L"--write") ? argv[3] : L"";
  LocalFree(argv);
  bool ok = WriteFileText(document + L".opened", Utf8(GetCommandLineW()), false);
  if (!edit.empty()) ok = WriteFileText(document, Utf8(edit), true) && ok;
  return ok ? 0 : 1;
}
