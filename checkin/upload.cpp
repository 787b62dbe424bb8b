#include "upload.h"

#include <optional>
#include <vector>

#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/checked_in_copies.h"
#include "common/encoding.h"
#include "common/requests.h"
#include "common/url.h"
#include "common/win/checked_in_copies.h"
#include "common/win/checkout_record.h"
#include "common/win/client_config.h"
#include "common/win/exchange.h"
#include "common/win/language.h"
#include "common/win/side_streams.h"
#include "common/win/text.h"
#include "common/win/trace.h"
#include "resource.h"

namespace edms::checkin {
namespace {

constexpr ULONGLONG kPumpIntervalMs = 40;

// Tells a read error or a file that shrank under us apart from the exchange's own failures.
class WorkingCopySource : public win::UploadSource {
 public:
  explicit WorkingCopySource(win::FileUploadSource& file) : file_(file) {}
  bool Read(char* buffer, size_t capacity, size_t& got) override {
    bool ok = file_.Read(buffer, capacity, got);
    // The exchange reads only while the announced length is unmet, so nothing read means
    // the file ended early.
    if (!ok || got == 0) failed_ = true;
    return ok;
  }
  bool failed() const { return failed_; }

 private:
  win::FileUploadSource& file_;
  bool failed_ = false;
};

// The server's "accepted" proves nothing about what it stored: unless the site keeps no
// copies, the working copy goes to the work folder's "Checked in" folder, never away.
void PutAwayCopy(const std::string& version, CheckInOutcome& out) {
  if (out.localPath.empty()) return;
  const win::CheckedInSettings settings = win::LoadCheckedInSettings();
  if (settings.keepDays == 0) {
    if (!DeleteFileW(win::Widen(out.localPath).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      out.copyKept = true;
    }
    return;
  }
  const std::optional<std::string> folder = CheckedInFolder(settings.workFolder);
  DWORD error = ERROR_PATH_NOT_FOUND;
  if (folder) {
    if (const std::optional<std::string> kept = win::KeepCheckedInCopy(out.localPath, *folder, version, error)) {
      win::Trace("CheckIn- working copy kept as " + *kept);
      return;
    }
  }
  if (error == ERROR_FILE_NOT_FOUND) return;
  win::Trace("CheckIn- working copy left in place (error " + std::to_string(error) + "): " + out.localPath);
  // Only an editor holding the copy is something the user can act on.
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) out.copyKept = true;
}

// After the server accepted: side streams, working copy, record, shell.
void Complete(const std::string& oid, const std::string& docPath, const std::string& version, CheckInOutcome& out) {
  win::SignalStream(docPath, win::kRefreshStream);
  win::SignalStream(docPath, win::kNotifyStream);
  win::Trace("CheckIn- meta data refreshed.");
  PutAwayCopy(version, out);
  // The server holds the new version now: the record goes even when the copy stayed.
  win::DeleteCheckOutRecord(oid);
  win::NotifyShellAttributes(docPath);
}

}  // namespace

CheckInOutcome RunCheckIn(HINSTANCE instance, const std::string& args, const std::string& note,
                          const UploadHooks& hooks) {
  CheckInOutcome out;
  auto text = [instance](UINT id) { return win::LoadStringLang(instance, id); };
  const std::string adaptorUrl = Arg(args, arg::kAdaptorUrl);
  const std::string oid = Arg(args, arg::kOid);
  const std::string docPath = HexDecodeUtf8(Arg(args, arg::kFilePath));
  const std::string newVersion = Arg(args, arg::kNewVersion);
  const std::vector<std::string> fields = {oid,
                                           Arg(args, arg::kVersionNo),
                                           newVersion,
                                           Arg(args, arg::kUserId),
                                           Arg(args, arg::kPassword),
                                           Arg(args, arg::kShareName),
                                           note};

  std::optional<win::CheckOutRecord> record = win::ReadCheckOutRecord(oid);
  if (!record) {
    out.result = {win::kResultRegistryFailure, text(IDS_RECORD_UNREADABLE)};
    return out;
  }
  out.localPath = record->localPath;

  hooks.progress(0);
  if (!SplitAdaptorUrl(adaptorUrl)) {
    out.result = {win::kResultInvalidUrl, text(IDS_INVALID_URL)};
    return out;
  }

  {
    win::FileUploadSource file(out.localPath);
    if (out.localPath.empty() || !file.IsOpen()) {
      win::Trace("File open error.");
      out.result = {win::kResultCannotOpenFile, text(IDS_CANNOT_OPEN_FILE)};
    } else {
      win::Trace("File opened");
      win::Trace(" Got file size:" + std::to_string(file.Length()));
      const uint64_t total = file.Length();
      WorkingCopySource source(file);
      // Drawing the bar and taking window messages after every chunk costs more than the
      // transfer itself: the bar moves when its percentage changes, messages are taken a
      // few dozen times a second.
      int shown = 0;
      ULONGLONG lastPump = GetTickCount64();
      win::ExchangeOutcome exchange = win::PostUpload(
          adaptorUrl, Command::CheckIn, fields, source, total, kUploadChunk,
          [&](uint64_t sent, uint64_t length) {
            int percent = static_cast<int>(sent * 100 / length);
            if (percent != shown) {
              shown = percent;
              hooks.progress(percent);
            }
            ULONGLONG now = GetTickCount64();
            if (now - lastPump >= kPumpIntervalMs) {
              lastPump = now;
              hooks.pump();
            }
          });
      out.result = win::ResultOfExchange(
          exchange, win::kResultRefused,
          {text(IDS_INVALID_URL), text(source.failed() ? IDS_READ_ERROR : IDS_UNKNOWN_ERROR)});
      if (out.result.ok()) {
        win::Trace("CheckIn-File uploaded");
      } else if (out.result.code == win::kResultInternetFailure) {
        win::Trace("CInternetException occured.");
      } else if (out.result.code == win::kResultOtherFailure) {
        win::Trace("UnknownException occured.");
      }
    }
  }  // the working copy is closed here, before it is deleted

  // The bar is drawn at once; there is no reason to hold the user up to look at it.
  hooks.progress(100);
  if (out.result.ok()) Complete(oid, docPath, newVersion, out);
  return out;
}

}  // namespace edms::checkin
