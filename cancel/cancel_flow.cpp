#include "cancel_flow.h"

#include <optional>

#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/encoding.h"
#include "common/requests.h"
#include "common/url.h"
#include "common/win/checkout_record.h"
#include "common/win/exchange.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/side_streams.h"
#include "common/win/text.h"
#include "resource.h"

namespace edms::cancel {
namespace {

// True when no other handle is open on the file: opening it without sharing fails as soon
// as an editor (or anyone) holds it.
bool NobodyHasOpen(const std::wstring& path) {
  win::UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

// After the server released the check-out: side stream, shell, record, working copy.
void Complete(const CancelInputs& in, CancelResult& result) {
  win::SignalStream(in.docPath, win::kNotifyStream);
  win::NotifyShellAttributes(in.docPath);

  std::optional<win::CheckOutRecord> record = win::ReadCheckOutRecord(in.oid);
  if (!record) return;
  win::DeleteCheckOutRecord(in.oid);
  if (record->localPath.empty()) return;
  std::wstring path = win::Widen(record->localPath);
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  // A copy still open in an editor stays where it is; the user closes it and it is an
  // ordinary file from then on.
  if (!NobodyHasOpen(path)) return;
  if (!DeleteFileW(path.c_str())) result.copyNotDeleted = record->localPath;
}

}  // namespace

CancelInputs ReadCancelInputs(const std::string& args) {
  CancelInputs in;
  in.adaptorUrl = Arg(args, arg::kAdaptorUrl);
  in.oid = Arg(args, arg::kOid);
  in.versionNo = Arg(args, arg::kVersionNo);
  in.userId = Arg(args, arg::kUserId);
  in.password = Arg(args, arg::kPassword);
  in.docPath = HexDecodeUtf8(Arg(args, arg::kFilePath));
  return in;
}

CancelResult RunCancel(HINSTANCE instance, const CancelInputs& in,
                       const std::function<void(int)>& progress) {
  CancelResult result;
  progress(0);
  const win::ResultTexts texts{win::LoadStringLang(instance, IDS_INVALID_URL),
                               win::LoadStringLang(instance, IDS_UNKNOWN_ERROR)};
  if (!SplitAdaptorUrl(in.adaptorUrl)) {
    result.result = {win::kResultInvalidUrl, texts.invalidUrl};
    return result;
  }

  progress(5);
  win::ExchangeOutcome outcome =
      win::PostForm(in.adaptorUrl, Command::CheckOutCancel, {in.oid, in.versionNo, in.userId, in.password});
  progress(15);
  result.result = win::ResultOfExchange(outcome, win::kResultRefused, texts);

  for (int position = 15; position < 100; ++position) progress(position);
  Sleep(100);
  if (result.result.ok()) Complete(in, result);
  return result;
}

}  // namespace edms::cancel
