#include "common/win/side_streams.h"

#include <windows.h>
#include <shlobj.h>

#include "common/filename.h"
#include "common/win/handles.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

constexpr size_t kMaxMetaBytes = 1024 * 1024;

// The sharing of the runtime's fopen "r": others may keep reading and writing.
UniqueKernelHandle OpenForReading(const std::wstring& path) {
  return UniqueKernelHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

void SignalStream(const std::string& docPath, std::string_view streamName) {
  // A bare name (the agent passes one) would address a file of the current folder.
  if (!IsAbsolutePath(docPath)) return;
  std::string full = docPath;
  full += streamName;
  UniqueKernelHandle stream = OpenForReading(Widen(full));
  // Opening is the whole signal; the handle closes here.
}

void NotifyShellAttributes(const std::string& docPath) {
  if (!IsAbsolutePath(docPath)) return;
  std::wstring wide = Widen(docPath);
  SHChangeNotify(SHCNE_ATTRIBUTES, SHCNF_PATHW, wide.c_str(), nullptr);
}

bool DeleteLockFile(const std::string& docPath) {
  if (!IsAbsolutePath(docPath)) return false;
  return DeleteFileW(Widen(docPath + ".lock").c_str()) != FALSE;
}

std::optional<std::string> ReadMetaStream(const std::string& path) {
  if (path.empty()) return std::nullopt;
  UniqueKernelHandle file = OpenForReading(Widen(path));
  if (!file) return std::nullopt;

  std::string raw;
  char chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    raw.append(chunk, got);
    if (raw.size() > kMaxMetaBytes) return std::nullopt;
  }

  if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  // Round trip through UTF-16 so that what leaves here is valid UTF-8.
  return Narrow(Widen(text));
}

}  // namespace edms::win
