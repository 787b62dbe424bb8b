#include "agent/service/transfer.h"

#include <exception>
#include <optional>

#include "agent/resource.h"
#include "common/download_item.h"
#include "common/filename.h"
#include "common/url.h"
#include "common/win/exchange.h"
#include "common/win/internet_mark.h"
#include "common/win/language.h"
#include "common/win/message_pump.h"
#include "common/win/program_result.h"
#include "common/win/scratch_download.h"
#include "common/win/text.h"
#include "common/win/trace.h"
#include "common/working_copy.h"

namespace edms {
namespace {

constexpr char kPasswordPlaceholder[] = "KVMRT";

std::string Text(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

// The window's messages between steps; a quit meant for the thread's own loop waits for it.
void Pump() {
  WPARAM quitCode = 0;
  if (!win::DispatchPendingMessages(quitCode)) PostQuitMessage(static_cast<int>(quitCode));
}

bool Exists(const std::string& path) {
  if (GetFileAttributesW(win::Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  // Only a plain "not there" makes a name free; a file we may not even look at is taken.
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// The body into a scratch file, with the window kept alive between reads.
class TransferSink : public win::ScratchDownload {
 public:
  TransferSink(const std::string& path, TransferHost& host, uint64_t maxBytes)
      : ScratchDownload(path, kReadSize, {}, maxBytes), host_(host) {}

  void OnRequestSent() override {
    host_.OnPhase(IDS_PHASE_REQUESTING);
    Pump();
  }
  Step OnReply(const ServerReply& reply, const std::string& rawHeaders) override {
    checksum = reply.codeDesc;
    host_.OnPhase(IDS_PHASE_DOWNLOADING);
    Pump();
    return ScratchDownload::OnReply(reply, rawHeaders);
  }
  Step OnBlock(const char* data, size_t size, uint64_t received) override {
    const Step step = ScratchDownload::OnBlock(data, size, received);
    if (step == Step::Fail) return step;
    host_.OnPercent(ProgressPercent(written(), this->size()));
    Pump();
    return host_.Aborted() ? Step::Stop : step;
  }

  std::string checksum;

 private:
  TransferHost& host_;
};

// A refusal without a description still tells the user something.
TransferResult Failed(int code, std::string text) {
  TransferResult result;
  result.code = code;
  result.text = text.empty() ? Text(IDS_UNKNOWN_ERROR) : std::move(text);
  return result;
}

// Moves the complete file onto its name: the target itself, or with freeName the first
// candidate still free at this moment (another program may have taken the one chosen).
TransferResult Commit(TransferSink& sink, const TransferRequest& request, std::string target, int n) {
  for (;;) {
    const auto commit = sink.CommitTo(target, !request.freeName);
    if (commit == win::ScratchDownload::CommitOutcome::kDone) break;
    if (commit == win::ScratchDownload::CommitOutcome::kFailed) return Failed(kTransferCannotCreate, Text(IDS_CANNOT_CREATE_FILE));
    target = FreeTargetPath(request.folder, request.name, n + 1, n);
    if (target.empty()) return Failed(kTransferCannotCreate, Text(IDS_CANNOT_CREATE_FILE));
  }
  if (request.markFromInternet) win::MarkFromInternet(target, request.adaptorUrl);
  TransferResult result;
  result.code = kTransferOk;
  result.checksum = sink.checksum;
  result.path = std::move(target);
  return result;
}

TransferResult Run(const TransferRequest& request, TransferHost& host) {
  if (!SplitAdaptorUrl(request.adaptorUrl)) {
    win::Trace("\t\tdoOpen:URL parsing error......" + request.adaptorUrl);
    return Failed(kTransferInvalidUrl, Text(IDS_INVALID_URL));
  }
  int n = 1;
  const std::string target = request.freeName ? FreeTargetPath(request.folder, request.name, 1, n)
                                              : JoinPath(request.folder, request.name);
  if (host.Aborted()) return Failed(request.abortCode, Text(IDS_ABORTED_BY_USER));
  if (request.folder.empty() || target.empty()) return Failed(kTransferCannotCreate, Text(IDS_CANNOT_CREATE_FILE));

  host.OnPhase(IDS_PHASE_CONNECTING);
  Pump();
  TransferSink sink(target, host, request.maxBytes);
  const win::ExchangeOutcome outcome = win::PostForm(request.adaptorUrl, request.command, request.values, &sink);
  if (outcome.kind == win::ExchangeOutcome::Kind::OtherFailure && sink.createFailed()) {
    return Failed(kTransferCannotCreate, Text(IDS_CANNOT_CREATE_FILE));
  }
  if (outcome.kind == win::ExchangeOutcome::Kind::OtherFailure &&
      sink.tooLarge() != win::ScratchDownload::TooLarge::kNo) {
    return Failed(kTransferCannotCreate,
                  win::TooLargeText(sink, request.folder, Text(IDS_TOO_LARGE_FOR_CAP), Text(IDS_TOO_LARGE_FOR_DISK)));
  }
  const win::ResultTexts texts{Text(IDS_INVALID_URL), Text(IDS_UNKNOWN_ERROR)};
  const std::string networkError = Text(IDS_NETWORK_ERROR);
  if (outcome.kind == win::ExchangeOutcome::Kind::OtherFailure && sink.badSize()) {
    return Failed(kTransferShort, networkError);
  }
  const win::ProgramResult exchanged = win::ResultOfExchange(outcome, kTransferRefused, texts);
  if (!exchanged.ok()) return Failed(exchanged.code, exchanged.message);
  if (host.Aborted()) return Failed(request.abortCode, Text(IDS_ABORTED_BY_USER));
  const win::ProgramResult transferred = win::ResultOfTransfer(sink.CloseAndJudge(outcome), texts, networkError);
  if (!transferred.ok()) return Failed(transferred.code, transferred.message);
  return Commit(sink, request, target, n);
}

}  // namespace

std::vector<std::string> DownloadValues(const std::string& documentId, const std::string& pageId,
                                        const std::string& userId) {
  return {documentId, pageId, userId, kPasswordPlaceholder};
}

std::string FreeTargetPath(const std::string& folder, const std::string& name, int first, int& n) {
  for (n = first; n <= kMaxNameCandidates; ++n) {
    std::string path = JoinPath(folder, NameCandidate(name, n));
    if (!Exists(path)) return path;
  }
  return {};
}

TransferResult DoOpen(const TransferRequest& request, TransferHost& host) {
  try {
    return Run(request, host);
  } catch (const std::exception& e) {
    win::Trace(std::string("transfer failed: ") + e.what());
  } catch (...) {
    win::Trace("transfer failed");
  }
  return Failed(kTransferOther, Text(IDS_UNKNOWN_ERROR));
}

}  // namespace edms
