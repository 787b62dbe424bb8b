// The reply body of a check-out, written into the working copy.
//
// The body goes to a scratch file beside the working copy and takes the working copy's name
// only when Commit() is called, so a failed transfer never destroys a copy that was there
// before. Whatever was not committed is deleted when the object goes away.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/win/exchange.h"
#include "common/win/handles.h"

namespace edms::checkout {

class WorkingCopyDownload : public win::BodySink {
 public:
  // Called after every block written: bytes so far and the announced size.
  using Progress = std::function<void(uint64_t written, uint64_t size)>;

  // Under Wine every read costs about 100 us whatever its size: large reads keep a fast link
  // fast, and a slow one still hands over what came at once.
  static constexpr size_t kBlockSize = 1024 * 1024;

  WorkingCopyDownload(std::string workingCopyPath, Progress progress);
  ~WorkingCopyDownload() override;
  WorkingCopyDownload(const WorkingCopyDownload&) = delete;
  WorkingCopyDownload& operator=(const WorkingCopyDownload&) = delete;

  size_t BlockSize() const override { return kBlockSize; }
  // Reads XRS_FILESIZE and creates the scratch file; Fail when it cannot be created.
  Step OnReply(const ServerReply& reply, const std::string& rawHeaders) override;
  // Writes the block; Fail when the write fails, Stop once the announced size is reached.
  Step OnBlock(const char* data, size_t size, uint64_t received) override;

  // Flushes and closes the scratch file. False when that failed (the data may be lost).
  bool Close();
  // Closes the file and moves it onto the working copy path, replacing what was there.
  // False (and the scratch file deleted) when the move failed.
  bool Commit();
  // Closes and deletes the scratch file.
  void Discard();

  bool created() const { return created_; }
  bool createFailed() const { return createFailed_; }
  uint64_t size() const { return size_; }
  uint64_t written() const { return written_; }

 private:
  std::string path_;
  std::wstring scratchPath_;
  Progress progress_;
  win::UniqueKernelHandle file_;
  bool created_ = false;
  bool createFailed_ = false;
  bool committed_ = false;
  uint64_t size_ = 0;
  uint64_t written_ = 0;
};

}  // namespace edms::checkout
