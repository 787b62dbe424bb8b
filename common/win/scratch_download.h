// A reply body written into a file of its own beside the target, which takes the target's
// name only when committed: a failed or stopped transfer never leaves a truncated file under
// the real name and never destroys a file that was there before. Whatever was not committed
// is deleted when the object goes away. Every program's download goes through here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/transfer_verdict.h"
#include "common/win/early_flush.h"
#include "common/win/exchange.h"
#include "common/win/handles.h"

namespace edms::win {

class ScratchDownload : public BodySink {
 public:
  // Called after every block written: bytes so far and the announced size.
  using Progress = std::function<void(uint64_t written, uint64_t size)>;

  // `maxBytes`: the administrator's cap on a file (0: none). Whatever the cap, a file larger
  // than the target disk's free space less kFreeSpaceMargin is refused before it is created.
  ScratchDownload(std::string targetPath, size_t blockSize, Progress progress = {}, uint64_t maxBytes = 0);
  static constexpr uint64_t kFreeSpaceMargin = 64ull << 20;
  ~ScratchDownload() override;
  ScratchDownload(const ScratchDownload&) = delete;
  ScratchDownload& operator=(const ScratchDownload&) = delete;

  size_t BlockSize() const override { return blockSize_; }
  // Reads XRS_FILESIZE and creates the scratch file; Fail when the size is no byte count
  // (badSize), too large for the cap or the disk (tooLarge), or the file cannot be created
  // (createFailed).
  Step OnReply(const ServerReply& reply, const std::string& rawHeaders) override;
  // Writes the block; Fail when the write fails, Stop once the announced size is reached.
  Step OnBlock(const char* data, size_t size, uint64_t received) override;

  // Flushes and closes the scratch file. False when that failed (the data may be lost).
  bool Close();
  // Closes the scratch file and judges the transfer by the exchange that filled it.
  TransferVerdict CloseAndJudge(const ExchangeOutcome& outcome);

  enum class CommitOutcome { kDone, kTaken, kFailed };
  // Closes the file and moves it onto `path`, which must be in the target's folder. Without
  // `replaceExisting` a file already at `path` is left alone: kTaken, and the scratch file
  // stays for another name. kFailed deletes the scratch file.
  CommitOutcome CommitTo(const std::string& path, bool replaceExisting);
  // CommitTo(the target path, replacing what is there); true when done.
  bool Commit() { return CommitTo(path_, true) == CommitOutcome::kDone; }
  // Closes and deletes the scratch file.
  void Discard();

  bool created() const { return created_; }
  bool createFailed() const { return createFailed_; }
  bool badSize() const { return badSize_; }
  enum class TooLarge { kNo, kForTheCap, kForTheDisk };
  TooLarge tooLarge() const { return tooLarge_; }
  uint64_t maxBytes() const { return maxBytes_; }
  uint64_t freeBytes() const { return freeBytes_; }  // what the disk had free, once asked
  uint64_t size() const { return size_; }
  const std::string& targetPath() const { return path_; }
  uint64_t written() const { return written_; }

 private:
  std::string path_;
  size_t blockSize_;
  std::wstring scratchPath_;
  Progress progress_;
  UniqueKernelHandle file_;
  std::unique_ptr<EarlyFlush> earlyFlush_;  // after file_: stopped before the file is closed
  bool created_ = false;
  bool createFailed_ = false;
  bool badSize_ = false;
  TooLarge tooLarge_ = TooLarge::kNo;
  uint64_t maxBytes_ = 0;
  uint64_t freeBytes_ = 0;
  bool committed_ = false;
  uint64_t size_ = 0;
  uint64_t written_ = 0;
};

// What the user is told of a download refused as too large: `capText` ("%s" the file's size,
// "%s" the cap) or `diskText` ("%s" the size, "%s" the folder, "%s" what the disk has free),
// the sizes written short.
std::string TooLargeText(const ScratchDownload& download, const std::string& folder, const std::string& capText,
                         const std::string& diskText);

}  // namespace edms::win
