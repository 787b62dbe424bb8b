#include "checkout/download_file.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "common/win/text.h"
#include "common/win/trace.h"
#include "common/working_copy.h"

namespace edms::checkout {

WorkingCopyDownload::WorkingCopyDownload(std::string workingCopyPath, Progress progress)
    : path_(std::move(workingCopyPath)), progress_(std::move(progress)) {}

WorkingCopyDownload::~WorkingCopyDownload() {
  if (!committed_) Discard();
}

WorkingCopyDownload::Step WorkingCopyDownload::OnReply(const ServerReply& reply, const std::string&) {
  size_ = ParseFileSize(reply.fileSize);
  win::Trace("\t\tdoOpen:Downloading............ " + path_ + ":" + std::to_string(size_) + ".");

  // A name of our own beside the working copy: same folder, so the final move is a rename.
  const std::wstring base = win::Widen(path_) + L".~" + std::to_wstring(GetCurrentProcessId());
  for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
    scratchPath_ = base + L"-" + std::to_wstring(attempt) + L".part";
    file_.reset(CreateFileW(scratchPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file_ && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!file_) {
    scratchPath_.clear();
    createFailed_ = true;
    return Step::Fail;
  }
  created_ = true;
  return size_ == 0 ? Step::Stop : Step::Continue;
}

WorkingCopyDownload::Step WorkingCopyDownload::OnBlock(const char* data, size_t size, uint64_t) {
  while (size > 0) {
    DWORD wrote = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!WriteFile(file_.get(), data, chunk, &wrote, nullptr) || wrote == 0) return Step::Fail;
    data += wrote;
    size -= wrote;
    written_ += wrote;
  }
  if (progress_) progress_(written_, size_);
  return written_ < size_ ? Step::Continue : Step::Stop;
}

bool WorkingCopyDownload::Close() {
  if (!file_) return true;
  bool flushed = FlushFileBuffers(file_.get()) != FALSE;
  bool closed = CloseHandle(file_.release()) != FALSE;
  return flushed && closed;
}

bool WorkingCopyDownload::Commit() {
  if (!created_ || committed_) return committed_;
  if (!Close()) {
    Discard();
    return false;
  }
  if (!MoveFileExW(scratchPath_.c_str(), win::Widen(path_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Discard();
    return false;
  }
  committed_ = true;
  return true;
}

void WorkingCopyDownload::Discard() {
  file_.reset();
  if (created_ && !committed_ && !scratchPath_.empty()) DeleteFileW(scratchPath_.c_str());
  created_ = false;
}

}  // namespace edms::checkout
