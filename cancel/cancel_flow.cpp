#include "cancel_flow.h"

#include <optional>

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

std::string Arg(const std::string& args, const char* key) {
  return FindArgument(args, key).value_or(std::string());
}

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
  in.adaptorUrl = Arg(args, "ADAPTOR_URL");
  in.oid = Arg(args, "OID");
  in.versionNo = Arg(args, "VERSION_NO");
  in.userId = Arg(args, "USER_ID");
  in.password = Arg(args, "PASSWORD");
  in.docPath = HexDecodeUtf8(Arg(args, "FILE_PATH"));
  return in;
}

CancelResult RunCancel(HINSTANCE instance, const CancelInputs& in,
                       const std::function<void(int)>& progress) {
  CancelResult result;
  progress(0);
  if (!SplitAdaptorUrl(in.adaptorUrl)) {
    result.code = 1;
    result.message = win::LoadStringLang(instance, IDS_INVALID_URL);
    return result;
  }

  progress(5);
  win::ExchangeOutcome outcome =
      win::PostForm(in.adaptorUrl, Command::CheckOutCancel,
                    {in.oid, in.versionNo, in.userId, in.password});
  progress(15);
  using Kind = win::ExchangeOutcome::Kind;
  switch (outcome.kind) {
    case Kind::Ok:
      result.code = 0;
      break;
    case Kind::Refused:
      result.code = -1;
      result.message = outcome.message;
      break;
    case Kind::InvalidUrl:
      result.code = 1;
      result.message = win::LoadStringLang(instance, IDS_INVALID_URL);
      break;
    case Kind::InternetFailure:
      result.code = 3;
      result.message = outcome.message;
      break;
    case Kind::OtherFailure:
      result.code = 4;
      result.message = win::LoadStringLang(instance, IDS_UNKNOWN_ERROR);
      break;
  }

  for (int position = 15; position < 100; ++position) progress(position);
  Sleep(100);
  if (result.code == 0) Complete(in, result);
  return result;
}

}  // namespace edms::cancel
