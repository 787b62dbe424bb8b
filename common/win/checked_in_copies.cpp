#include "common/win/checked_in_copies.h"

#include "common/filename.h"
#include "common/win/handles.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms::win {
namespace {

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Best effort: a copy whose time stays keeps its own last write, and goes sooner.
void StampNow(const std::string& path) {
  const UniqueKernelHandle file(CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  if (!file || !SetFileTime(file.get(), nullptr, nullptr, &now)) {
    Trace("the kept copy keeps its own last-write time: error " + std::to_string(GetLastError()));
  }
}

}  // namespace

uint64_t NowFileTicks() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}

DWORD MakeCheckedInFolder(const std::string& folder) {
  if (folder.empty()) return ERROR_PATH_NOT_FOUND;
  const std::wstring wide = Widen(folder);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS) return error;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS
                                                                                           : ERROR_DIRECTORY;
}

std::optional<std::string> KeepCheckedInCopy(const std::string& copyPath, const std::string& folder,
                                             const std::string& version, DWORD& error) {
  if ((error = MakeCheckedInFolder(folder)) != ERROR_SUCCESS) return std::nullopt;
  const std::string name = LastPathComponent(copyPath);
  const std::wstring from = Widen(copyPath);
  error = ERROR_INVALID_NAME;
  for (unsigned attempt = 1; attempt <= kCheckedInNameAttempts; ++attempt) {
    const std::optional<std::string> kept = CheckedInCopyName(name, version, attempt);
    if (!kept) return std::nullopt;
    const std::string to = JoinPath(folder, *kept);
    // Without MOVEFILE_REPLACE_EXISTING a name taken meanwhile fails instead of being replaced.
    if (MoveFileExW(from.c_str(), Widen(to).c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
      StampNow(to);
      return to;
    }
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

size_t RemoveExpiredCheckedInCopies(const std::string& folder, uint32_t keepDays, uint64_t now) {
  if (folder.empty()) return 0;
  size_t removed = 0;
  WIN32_FIND_DATAW found{};
  const UniqueFind search(FindFirstFileW(Widen(JoinPath(folder, "*")).c_str(), &found));
  if (!search) return 0;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) continue;
    if (!CheckedInCopyExpired(Ticks(found.ftLastWriteTime), now, keepDays)) continue;
    const std::string path = JoinPath(folder, Narrow(found.cFileName));
    if (DeleteFileW(Widen(path).c_str())) {
      ++removed;
    } else {
      Trace("a kept copy stays (error " + std::to_string(GetLastError()) + "): " + path);
    }
  } while (FindNextFileW(search.get(), &found));
  return removed;
}

}  // namespace edms::win
