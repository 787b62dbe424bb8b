#include "checkout/checkout_flow.h"

#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>
#include <vector>

#include "checkout/agent_service.h"
#include "checkout/editor.h"
#include "checkout/resource.h"
#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/ascii.h"
#include "common/encoding.h"
#include "common/filename.h"
#include "common/text_format.h"
#include "common/url.h"
#include "common/win/checkout_record.h"
#include "common/win/client_config.h"
#include "common/win/exchange.h"
#include "common/win/internet_error.h"
#include "common/win/internet_mark.h"
#include "common/win/process.h"
#include "common/win/scratch_download.h"
#include "common/win/side_streams.h"
#include "common/working_copy.h"

namespace edms::checkout {
namespace {

using Kind = win::ExchangeOutcome::Kind;

// Reads never wait for more than the link brings in a moment (the exchange paces them); on a
// fast link they grow to this, so the per-call cost under Wine stops mattering.
constexpr size_t kBlockSize = 1024 * 1024;

// Judges the exchange and the transfer. The body file is still uncommitted here.
win::ProgramResult Judge(const win::ExchangeOutcome& outcome, win::ScratchDownload& download, CheckOutHost& host) {
  if (outcome.kind == Kind::OtherFailure && download.createFailed()) {
    return {win::kResultCannotOpenFile, host.Text(IDS_CANNOT_OPEN_FILE)};
  }
  if (outcome.kind == Kind::OtherFailure && download.tooLarge() != win::ScratchDownload::TooLarge::kNo) {
    return {win::kResultCannotOpenFile, win::TooLargeText(download, ParentFolder(download.targetPath()),
                                                          host.Text(IDS_TOO_LARGE_FOR_CAP),
                                                          host.Text(IDS_TOO_LARGE_FOR_DISK))};
  }
  const win::ResultTexts texts{host.Text(IDS_INVALID_URL), host.Text(IDS_UNKNOWN_ERROR)};
  const std::string networkError = host.Text(IDS_NETWORK_ERROR);
  if (outcome.kind == Kind::OtherFailure && download.badSize()) return {win::kResultShortBody, networkError};
  const win::ProgramResult result = win::ResultOfExchange(outcome, win::kResultFileRefused, texts);
  if (!result.ok()) return result;
  return win::ResultOfTransfer(download.CloseAndJudge(outcome), texts, networkError);
}

// The steps after a complete download, in the order whatever serves the document path
// expects them.
void Complete(const CheckOutArguments& args, const std::string& docPath,
              const std::string& workingCopy, win::ProgramResult& result, CheckOutHost& host) {
  // Only a full document path has a side stream and a lock file to speak of (the agent
  // passes a bare name, which would resolve against the current folder).
  if (IsAbsolutePath(docPath)) {
    win::SignalStream(docPath, win::kNotifyStream);
    win::NotifyShellAttributes(docPath);
    Sleep(100);
    win::DeleteLockFile(docPath);
  }
  // The copy as the check-out leaves it: a later stamp means edits only this computer has.
  win::CheckOutRecord record{args.pageId, workingCopy, args.versionNo, args.isImmutable,
                             win::GetFileStamp(workingCopy)};
  if (!win::WriteCheckOutRecord(args.oid, record)) {
    result = {win::kResultRegistryFailure, host.Text(IDS_CANNOT_OPEN_REGISTRY)};
  }
  SignalAgentService();
  if (result.ok() && args.WantsEditor()) StartEditor(workingCopy, host);
}

// True when a file stands at the working copy's place that only this computer has: no
// record speaks for it, or it changed since the check-out that made it.
bool CopyHoldsUncheckedEdits(const std::string& oid, const std::string& workingCopy) {
  if (!win::GetFileStamp(workingCopy)) return false;
  const std::optional<win::CheckOutRecord> record = win::ReadCheckOutRecord(oid);
  if (!record || !EqualsIgnoreCase(record->localPath, workingCopy)) return true;
  return win::MayHoldUncheckedEdits(*record);
}

win::ProgramResult Run(const CheckOutArguments& args, CheckOutHost& host) {
  host.ShowProgress(0);
  if (!SplitAdaptorUrl(args.adaptorUrl)) return {win::kResultInvalidUrl, host.Text(IDS_INVALID_URL)};

  const std::string docPath = args.DocumentPath();
  // A name that would leave the work folder is refused before the server hears of it.
  std::optional<std::string> workingCopy =
      WorkingCopyPath(args.workFolder, LastPathComponent(docPath), args.oid);
  if (!workingCopy) return {win::kResultCannotOpenFile, host.Text(IDS_CANNOT_OPEN_FILE)};
  // Edits not yet checked in are never overwritten: the copy stays as it is, the server is
  // not asked, and the user is told where the copy is and what to do with it.
  if (CopyHoldsUncheckedEdits(args.oid, *workingCopy)) {
    return {win::kResultUncheckedEdits, FillPlaceholder(host.Text(IDS_UNCHECKED_EDITS), *workingCopy)};
  }

  int shown = -1;
  const win::ProgramSettings settings = win::LoadProgramSettings(false);
  win::ScratchDownload download(
      *workingCopy, kBlockSize,
      [&](uint64_t written, uint64_t size) {
        int percent = ProgressPercent(written, size);
        // Every block still lets the window handle a message; the bar moves when it changes.
        host.ShowProgress(percent == shown ? -1 : percent);
        shown = percent;
      },
      settings.maxDownloadBytes);
  win::ExchangeOutcome outcome =
      win::PostForm(args.adaptorUrl, Command::CheckOut,
                    {args.oid, args.pageId, args.versionNo, args.userId, args.password},
                    &download);
  win::ProgramResult result = Judge(outcome, download, host);

  // A short file stays where the user expects it; anything cut off by a failure goes.
  if (result.ok() || result.code == win::kResultShortBody) {
    if (!download.Commit() && result.ok()) {
      result = {win::kResultCannotOpenFile, host.Text(IDS_CANNOT_OPEN_FILE)};
    }
    // A copy checked out to be edited carries no internet mark unless the administrator wants
    // one: an editor's protected view would keep the user from editing it.
    if (result.ok() && settings.markWorkingCopies) win::MarkFromInternet(*workingCopy, args.adaptorUrl);
  } else {
    download.Discard();
  }

  // The bar is drawn at once; there is no reason to hold the user up to look at it.
  host.ShowProgress(100);
  if (result.ok()) Complete(args, docPath, *workingCopy, result, host);
  return result;
}

}  // namespace

CheckOutArguments CheckOutArguments::Parse(std::string_view s) {
  CheckOutArguments a;
  a.adaptorUrl = Arg(s, arg::kAdaptorUrl);
  a.oid = Arg(s, arg::kOid);
  a.pageId = Arg(s, arg::kPageId);
  a.versionNo = Arg(s, arg::kVersionNo);
  a.userId = Arg(s, arg::kUserId);
  a.password = Arg(s, arg::kPassword);
  a.workFolder = Arg(s, arg::kWorkFolder);
  a.filePath = Arg(s, arg::kFilePath);
  a.invokeEditor = Arg(s, arg::kInvokeEditor);
  a.isImmutable = Arg(s, arg::kIsImmutable);
  return a;
}

std::string CheckOutArguments::DocumentPath() const { return HexDecodeUtf8(filePath); }

std::string CheckOutArguments::DocumentName() const { return LastPathComponent(DocumentPath()); }

bool CheckOutArguments::WantsEditor() const { return !EqualsIgnoreCase(invokeEditor, "FALSE"); }

win::ProgramResult RunCheckOut(const CheckOutArguments& args, CheckOutHost& host) {
  try {
    return Run(args, host);
  } catch (...) {
    return {win::kResultOtherFailure, host.Text(IDS_UNKNOWN_ERROR)};
  }
}

}  // namespace edms::checkout
