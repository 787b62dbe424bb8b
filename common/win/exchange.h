// One exchange with the EDMS adaptor: an HTTP POST over WinInet, the XRS_ reply fields
// read from the raw reply headers and, for the commands that return a file, the reply body
// handed to the caller block by block. Every sender goes through here.
//
// Each call opens its own session, connection and request and closes them (request, then
// connection, then session) before it returns, whatever the outcome. Nothing throws; the
// outcome says what happened. Calls block the calling thread; a caller on a window thread
// pumps its messages from the sink or progress callback.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/reply.h"
#include "common/requests.h"
#include "common/win/handles.h"

namespace edms::win {

struct ExchangeOutcome {
  enum class Kind {
    Ok,               // XRS_RTNCODE was exactly "00" (and the sink, if any, did not fail)
    InvalidUrl,       // the adaptor URL could not be split; no network activity happened
    InternetFailure,  // WinInet failed at some step up to the end of the reply body
    Refused,          // the server answered with any other XRS_RTNCODE, or none
    OtherFailure,     // a local failure: the sink or upload source failed, bad values
  };
  Kind kind = Kind::OtherFailure;
  ServerReply reply;           // the reply fields, once the headers were read
  std::string rawHeaders;      // the raw reply headers (CR LF separated), for other fields
  std::string message;         // UTF-8: WinInet's own error text, or decoded XRS_CODEDESC
  uint32_t internetError = 0;  // the WinInet / Win32 error code of an InternetFailure
  uint64_t bodyBytes = 0;      // reply body bytes handed to the sink
  bool stopped = false;        // the sink ended the body transfer early (Step::Stop)
};

// Receives the reply of a successful exchange and then its body.
class BodySink {
 public:
  enum class Step {
    Continue,  // read (more of) the body
    Stop,      // read no more; the outcome stays Ok with `stopped` set
    Fail,      // a local failure (e.g. the file write failed): the outcome is OtherFailure
  };
  virtual ~BodySink() = default;
  // Largest block handed to OnBlock. No read waits for more than has come in, or than the
  // recent rate brings in about 50 ms (common/read_pacer.h): a slow link gives small blocks at
  // once (a window's thread answers between them), a fast one blocks of this size.
  virtual size_t BlockSize() const { return 256 * 1024; }
  // Called once the request has been sent, before the reply is waited for.
  virtual void OnRequestSent() {}
  // Called once, only when XRS_RTNCODE is "00", before any body read. A sink that expects
  // an empty body (XRS_FILESIZE 0) returns Stop here so that nothing is read.
  virtual Step OnReply(const ServerReply& reply, const std::string& rawHeaders) = 0;
  // Called for every non-empty block read; `received` includes this block. The end of the
  // body (the peer has nothing more) ends the transfer without a call.
  virtual Step OnBlock(const char* data, size_t size, uint64_t received) = 0;
};

// Form variant (every command but CHECKIN): the body is FormBody(command, values), the
// session options are the command's ConnectionOptions. Without a sink the body is not read.
ExchangeOutcome PostForm(const std::string& adaptorUrl, Command command,
                         const std::vector<std::string>& values, BodySink* sink = nullptr);

// The body of an upload, read front to back.
class UploadSource {
 public:
  virtual ~UploadSource() = default;
  // Reads up to `capacity` bytes into `buffer` and sets `got`. Returns false on a read
  // error. `got` == 0 with true means the source has ended.
  virtual bool Read(char* buffer, size_t capacity, size_t& got) = 0;
};

// A file opened for shared reading, as an upload source.
class FileUploadSource : public UploadSource {
 public:
  explicit FileUploadSource(const std::string& utf8Path);
  bool IsOpen() const { return static_cast<bool>(file_); }
  uint64_t Length() const { return length_; }  // 0 when not open
  bool Read(char* buffer, size_t capacity, size_t& got) override;

 private:
  UniqueKernelHandle file_;
  uint64_t length_ = 0;
};

// Called after each chunk was written: bytes sent so far and the announced total.
using UploadProgress = std::function<void(uint64_t sent, uint64_t total)>;

// Upload variant (CHECKIN): the fields travel as UploadHeaders(command, values), the body is
// exactly `totalLength` bytes of `source`, announced before it is sent (no chunked
// encoding) and written in chunks of at most `chunkSize` bytes. A read error of the source,
// or a source that ends before `totalLength` bytes, ends the attempt as OtherFailure.
ExchangeOutcome PostUpload(const std::string& adaptorUrl, Command command,
                           const std::vector<std::string>& values, UploadSource& source,
                           uint64_t totalLength, size_t chunkSize,
                           const UploadProgress& progress = {});

}  // namespace edms::win
