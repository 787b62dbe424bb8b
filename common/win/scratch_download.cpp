#include "common/win/scratch_download.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "common/win/text.h"
#include "common/win/trace.h"
#include "common/filename.h"
#include "common/text_format.h"
#include "common/transfer_verdict.h"

namespace edms::win {

ScratchDownload::ScratchDownload(std::string targetPath, size_t blockSize, Progress progress, uint64_t maxBytes)
    : path_(std::move(targetPath)),
      blockSize_(std::max<size_t>(blockSize, 1)),
      progress_(std::move(progress)),
      maxBytes_(maxBytes) {}

ScratchDownload::~ScratchDownload() {
  if (!committed_) Discard();
}

ScratchDownload::Step ScratchDownload::OnReply(const ServerReply& reply, const std::string&) {
  const std::optional<uint64_t> announced = ParseAnnouncedSize(reply.fileSize);
  if (!announced) {
    Trace("\t\tdoOpen:XRS_FILESIZE is no byte count: '" + reply.fileSize + "'");
    badSize_ = true;
    return Step::Fail;
  }
  size_ = *announced;
  Trace("\t\tdoOpen:Downloading............ " + path_ + ":" + std::to_string(size_) + ".");
  if (maxBytes_ != 0 && size_ > maxBytes_) {
    Trace("\t\tdoOpen:larger than MaxDownloadBytes " + std::to_string(maxBytes_));
    tooLarge_ = TooLarge::kForTheCap;
    return Step::Fail;
  }
  const std::string folder = ParentFolder(path_);
  ULARGE_INTEGER available{};
  if (GetDiskFreeSpaceExW(Widen(folder.empty() ? std::string(".") : folder + "\\").c_str(), &available, nullptr,
                          nullptr)) {
    freeBytes_ = available.QuadPart;
    if (size_ > freeBytes_ || freeBytes_ - size_ < kFreeSpaceMargin) {
      Trace("\t\tdoOpen:larger than the disk's free space " + std::to_string(freeBytes_));
      tooLarge_ = TooLarge::kForTheDisk;
      return Step::Fail;
    }
  }

  // A name of our own beside the target, so the final move is a rename. Its length is fixed
  // whatever the target's: any name the name rule lets through can be written.
  char pid[16];
  std::snprintf(pid, sizeof pid, "%08lx", static_cast<unsigned long>(GetCurrentProcessId()));
  for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, ".~zt%s-%02d.part", pid, attempt);
    scratchPath_ = Widen(JoinPath(folder, name));
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

TransferVerdict ScratchDownload::CloseAndJudge(const ExchangeOutcome& outcome) {
  TransferFacts facts;
  facts.badSize = badSize_;
  facts.closed = Close();
  facts.written = written_;
  facts.announced = size_;
  facts.stopped = outcome.stopped;
  facts.contentLength = ContentLength(outcome.rawHeaders);
  facts.bodyBytes = outcome.bodyBytes;
  return JudgeTransfer(facts);
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

std::string TooLargeText(const ScratchDownload& download, const std::string& folder, const std::string& capText,
                         const std::string& diskText) {
  const std::string size = ShortByteSize(download.size());
  if (download.tooLarge() == ScratchDownload::TooLarge::kForTheCap) {
    return FillPlaceholders(capText, {size, ShortByteSize(download.maxBytes())});
  }
  return FillPlaceholders(diskText, {size, folder, ShortByteSize(download.freeBytes())});
}

}  // namespace edms::win
