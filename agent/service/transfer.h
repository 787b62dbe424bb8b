// The agent's one transfer procedure (doOpen) for the single-file window, each row of the
// multi-file window and the self-update: one DOWNLOAD or DOWNLOADUPDATE exchange whose body
// becomes a file, with progress, cancellation between reads and a result code with its text.
//
// It runs on the calling window's own thread and dispatches that thread's messages after
// every read, so the window repaints and its Cancel is seen. Reads take what the connection
// has ready, up to kReadSize. The body goes to a scratch file beside the target that takes
// the target's name only when the transfer is complete: a failed or aborted transfer leaves
// nothing behind.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/requests.h"
#include "common/win/program_result.h"

namespace edms {

// The exit codes every program shares (common/win/program_result.h), and the two of a Cancel.
enum TransferCode : int {
  kTransferOk = win::kResultOk,
  kTransferInvalidUrl = win::kResultInvalidUrl,        // "Invalid URL."
  kTransferCannotCreate = win::kResultCannotOpenFile,  // "Can not create file."
  kTransferInternet = win::kResultInternetFailure,     // the internet layer's own text
  kTransferOther = win::kResultOtherFailure,           // "Unknown error occured."
  kTransferShort = win::kResultShortBody,              // "Network error occured.": not the bytes XRS_FILESIZE announced
  kTransferRefused = win::kResultFileRefused,          // the server's decoded XRS_CODEDESC
  kTransferAborted = -10,                              // "Aborted by user." (single file, update)
  kTransferRowAborted = 5,                             // "Aborted by user." (a row of the multi-file window)
};

// As the check-out's: under Wine every read and the message pump after it cost a trip through
// the kernel, and 256 KiB reads held the window a third below it. A slow link's reads stay
// small (the pacer), so the window still answers at once.
inline constexpr std::size_t kReadSize = 1024 * 1024;

// Candidates tried by the free-name choice before the row fails.
inline constexpr int kMaxNameCandidates = 1000;

struct TransferRequest {
  std::string adaptorUrl;
  Command command = Command::Download;
  std::vector<std::string> values;  // the command's field values, in its order
  std::string folder;               // the target is folder + "\" + name
  std::string name;
  // Never replace a file: the name becomes the first free candidate (report(2).pdf, ...),
  // chosen before the transfer and again if the name is taken when the file is complete.
  bool freeName = false;
  int abortCode = kTransferAborted;
  // The administrator's cap on the file (MaxDownloadBytes; 0: none beyond the disk's space).
  uint64_t maxBytes = 0;
  // The file gets the "downloaded from the internet" mark (views and downloads; never the
  // update's installer, which the agent starts itself).
  bool markFromInternet = true;
};

struct TransferResult {
  int code = kTransferOther;
  std::string text;      // UTF-8, empty only for kTransferOk ("Unknown error occured." for an empty refusal)
  std::string checksum;  // the decoded XRS_CODEDESC of a "00" reply (the update's MD5)
  std::string path;      // the file written, for kTransferOk
};

// What the calling window does while its transfer runs. Called on the window's thread.
class TransferHost {
 public:
  virtual ~TransferHost() = default;
  // A phase began: IDS_PHASE_CONNECTING, IDS_PHASE_REQUESTING, IDS_PHASE_DOWNLOADING.
  virtual void OnPhase(UINT textId) { (void)textId; }
  // After every read: the whole percent of XRS_FILESIZE received so far.
  virtual void OnPercent(int percent) = 0;
  // Set by the window's Cancel or close; looked at before the transfer and after each read.
  virtual bool Aborted() const = 0;
};

// The DOWNLOAD values for one document: its id, its page, the user and the fixed password
// placeholder the server expects from the agent.
std::vector<std::string> DownloadValues(const std::string& documentId, const std::string& pageId,
                                        const std::string& userId);

// The path of the first candidate of `name` in `folder` that names no existing file (readable
// or not), from candidate `first` on; empty when none of the candidates up to
// kMaxNameCandidates is free. `n` receives the candidate's number.
std::string FreeTargetPath(const std::string& folder, const std::string& name, int first, int& n);

// doOpen. Never throws.
TransferResult DoOpen(const TransferRequest& request, TransferHost& host);

}  // namespace edms
