#include "checkout/checkout_flow.h"

#include <windows.h>
#include <wininet.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "checkout/agent_service.h"
#include "checkout/download_file.h"
#include "checkout/editor.h"
#include "checkout/resource.h"
#include "common/arguments.h"
#include "common/encoding.h"
#include "common/filename.h"
#include "common/url.h"
#include "common/win/checkout_record.h"
#include "common/win/exchange.h"
#include "common/win/internet_error.h"
#include "common/win/side_streams.h"
#include "common/working_copy.h"

namespace edms::checkout {
namespace {

using Kind = win::ExchangeOutcome::Kind;

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The Content-Length the reply announced; nullopt when it announced none (chunked or
// closed-delimited bodies).
std::optional<uint64_t> ContentLength(const std::string& rawHeaders) {
  size_t start = 0;
  while (start < rawHeaders.size()) {
    size_t end = rawHeaders.find("\r\n", start);
    if (end == std::string::npos) end = rawHeaders.size();
    std::string_view line(rawHeaders.data() + start, end - start);
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsNoCase(line.substr(0, colon), "Content-Length")) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      if (!value.empty() && value.front() >= '0' && value.front() <= '9') {
        return ParseFileSize(value);
      }
      return std::nullopt;
    }
    start = end + 2;
  }
  return std::nullopt;
}

// Judges the exchange and the transfer. The body file is still uncommitted here.
CheckOutResult Judge(const win::ExchangeOutcome& outcome, WorkingCopyDownload& download,
                     CheckOutHost& host) {
  switch (outcome.kind) {
    case Kind::InvalidUrl:
      return {kInvalidUrl, host.Text(IDS_INVALID_URL)};
    case Kind::InternetFailure:
      return {kInternetFailure, outcome.message};
    case Kind::Refused:
      return {kRefused, outcome.reply.codeDesc};
    case Kind::OtherFailure:
      if (download.createFailed()) return {kCannotOpenFile, host.Text(IDS_CANNOT_OPEN_FILE)};
      return {kOtherFailure, host.Text(IDS_UNKNOWN_ERROR)};
    case Kind::Ok:
      break;
  }
  if (!download.Close()) return {kOtherFailure, host.Text(IDS_UNKNOWN_ERROR)};
  if (download.written() == download.size()) return {kCheckedOut, {}};
  // A body that ends before the length its own reply announced was cut off by the
  // network: the peer went away, which is an internet failure, not a short document.
  std::optional<uint64_t> announced = ContentLength(outcome.rawHeaders);
  if (!outcome.stopped && announced && outcome.bodyBytes < *announced) {
    return {kInternetFailure, win::InternetErrorMessage(ERROR_INTERNET_CONNECTION_ABORTED)};
  }
  return {kSizeMismatch, host.Text(IDS_NETWORK_ERROR)};
}

// The steps after a complete download, in the order whatever serves the document path
// expects them.
void Complete(const CheckOutArguments& args, const std::string& docPath,
              const std::string& workingCopy, CheckOutResult& result, CheckOutHost& host) {
  // Without a document path the signals would land on files of the current directory.
  if (!docPath.empty()) {
    win::SignalStream(docPath, win::kNotifyStream);
    win::NotifyShellAttributes(docPath);
    Sleep(100);
    win::DeleteLockFile(docPath);
  }
  win::CheckOutRecord record{args.pageId, workingCopy, args.versionNo, args.isImmutable};
  if (!win::WriteCheckOutRecord(args.oid, record)) {
    result = {kCannotOpenRegistry, host.Text(IDS_CANNOT_OPEN_REGISTRY)};
  }
  SignalAgentService();
  if (result.code == kCheckedOut && args.WantsEditor()) StartEditor(workingCopy, host);
}

CheckOutResult Run(const CheckOutArguments& args, CheckOutHost& host) {
  host.ShowProgress(0);
  if (!SplitAdaptorUrl(args.adaptorUrl)) return {kInvalidUrl, host.Text(IDS_INVALID_URL)};

  const std::string docPath = args.DocumentPath();
  // A name that would leave the work folder is refused before the server hears of it.
  std::optional<std::string> workingCopy =
      WorkingCopyPath(args.workFolder, LastPathComponent(docPath), args.oid);
  if (!workingCopy) return {kCannotOpenFile, host.Text(IDS_CANNOT_OPEN_FILE)};

  int shown = -1;
  WorkingCopyDownload download(*workingCopy, [&](uint64_t written, uint64_t size) {
    int percent = ProgressPercent(written, size);
    // Every block still lets the window handle a message; the bar moves when it changes.
    host.ShowProgress(percent == shown ? -1 : percent);
    shown = percent;
  });
  win::ExchangeOutcome outcome =
      win::PostForm(args.adaptorUrl, Command::CheckOut,
                    {args.oid, args.pageId, args.versionNo, args.userId, args.password},
                    &download);
  CheckOutResult result = Judge(outcome, download, host);

  // A short file stays where the user expects it; anything cut off by a failure goes.
  if (result.code == kCheckedOut || result.code == kSizeMismatch) {
    if (!download.Commit() && result.code == kCheckedOut) {
      result = {kCannotOpenFile, host.Text(IDS_CANNOT_OPEN_FILE)};
    }
  } else {
    download.Discard();
  }

  host.ShowProgress(100);
  Sleep(100);
  if (result.code == kCheckedOut) Complete(args, docPath, *workingCopy, result, host);
  return result;
}

}  // namespace

CheckOutArguments CheckOutArguments::Parse(std::string_view s) {
  auto get = [s](std::string_view key) { return FindArgument(s, key).value_or(std::string()); };
  CheckOutArguments a;
  a.adaptorUrl = get("ADAPTOR_URL");
  a.oid = get("OID");
  a.pageId = get("PAGE_ID");
  a.versionNo = get("VERSION_NO");
  a.userId = get("USER_ID");
  a.password = get("PASSWORD");
  a.workFolder = get("WORK_FOLDER");
  a.filePath = get("FILE_PATH");
  a.invokeEditor = get("INVOKE_EDITOR");
  a.isImmutable = get("IS_IMMUTABLE");
  return a;
}

std::string CheckOutArguments::DocumentPath() const { return HexDecodeUtf8(filePath); }

std::string CheckOutArguments::DocumentName() const { return LastPathComponent(DocumentPath()); }

bool CheckOutArguments::WantsEditor() const { return !EqualsNoCase(invokeEditor, "FALSE"); }

CheckOutResult RunCheckOut(const CheckOutArguments& args, CheckOutHost& host) {
  try {
    return Run(args, host);
  } catch (...) {
    return {kOtherFailure, host.Text(IDS_UNKNOWN_ERROR)};
  }
}

}  // namespace edms::checkout
