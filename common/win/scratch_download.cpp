#include "common/win/scratch_download.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "common/win/text.h"
#include "common/win/trace.h"
#include "common/working_copy.h"

namespace edms::win {

ScratchDownload::ScratchDownload(std::string targetPath, size_t blockSize, Progress progress)
    : path_(std::move(targetPath)), blockSize_(std::max<size_t>(blockSize, 1)), progress_(std::move(progress)) {}

ScratchDownload::~ScratchDownload() {
  if (!committed_) Discard();
}

ScratchDownload::Step ScratchDownload::OnReply(const ServerReply& reply, const std::string&) {
  size_ = ParseFileSize(reply.fileSize);
  Trace("\t\tdoOpen:Downloading............ " + path_ + ":" + std::to_string(size_) + ".");

  // A name of our own beside the target: same folder, so the final move is a rename.
  const std::wstring base = Widen(path_) + L".~" + std::to_wstring(GetCurrentProcessId());
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
  earlyFlush_ = std::make_unique<EarlyFlush>(file_.get());
  return size_ == 0 ? Step::Stop : Step::Continue;
}

ScratchDownload::Step ScratchDownload::OnBlock(const char* data, size_t size, uint64_t) {
  while (size > 0) {
    DWORD wrote = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!WriteFile(file_.get(), data, chunk, &wrote, nullptr) || wrote == 0) return Step::Fail;
    data += wrote;
    size -= wrote;
    written_ += wrote;
  }
  if (earlyFlush_) earlyFlush_->Wrote(written_);
  if (progress_) progress_(written_, size_);
  return written_ < size_ ? Step::Continue : Step::Stop;
}

bool ScratchDownload::Close() {
  if (!file_) return true;
  if (earlyFlush_) earlyFlush_->Stop();
  bool flushed = FlushFileBuffers(file_.get()) != FALSE;
  bool closed = CloseHandle(file_.release()) != FALSE;
  return flushed && closed;
}

ScratchDownload::CommitOutcome ScratchDownload::CommitTo(const std::string& path, bool replaceExisting) {
  if (committed_) return CommitOutcome::kDone;
  if (!created_) return CommitOutcome::kFailed;
  if (!Close()) {
    Discard();
    return CommitOutcome::kFailed;
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExW(scratchPath_.c_str(), Widen(path).c_str(), flags)) {
    const DWORD error = GetLastError();
    if (!replaceExisting && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return CommitOutcome::kTaken;
    Discard();
    return CommitOutcome::kFailed;
  }
  committed_ = true;
  return CommitOutcome::kDone;
}

void ScratchDownload::Discard() {
  earlyFlush_.reset();
  file_.reset();
  if (created_ && !committed_ && !scratchPath_.empty()) DeleteFileW(scratchPath_.c_str());
  created_ = false;
}

}  // namespace edms::win
