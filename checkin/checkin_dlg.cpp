#include "checkin_dlg.h"

#include <commctrl.h>

#include <optional>
#include <utility>

#include "common/text_format.h"
#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/encoding.h"
#include "common/filename.h"
#include "common/working_copy.h"
#include "common/win/checkout_record.h"
#include "common/win/command_line.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"
#include "common/win/window_search.h"
#include "common/win/progress.h"
#include "resource.h"
#include "upload.h"

namespace edms::checkin {
namespace {

constexpr int kNoteLimit = 200;
constexpr int kRadios[] = {IDC_SAME_VERSION, IDC_MINOR_VERSION, IDC_MAJOR_VERSION};

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(win::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

CZTCheckInDlg::CZTCheckInDlg(HINSTANCE instance, std::string appType)
    : CDialogBase(instance, IDD_ZTCHECKIN_DIALOG), appType_(std::move(appType)) {}

void CZTCheckInDlg::Message(const std::string& text) {
  win::ShowMessage(hwnd(), text, win::LoadStringLang(instance(), IDS_INFORMATION));
}

bool CZTCheckInDlg::OnInitDialog() {
  SetProgramIcon(appType_, IDI_MAIN, IDI_ALTERNATIVE);
  args_ = win::ProgramArgumentString();
  SetItemText(IDC_DOC_NAME, LastPathComponent(HexDecodeUtf8(Arg(args_, arg::kFilePath))));
  SendDlgItemMessageW(hwnd(), IDC_NOTE, EM_LIMITTEXT, kNoteLimit, 0);

  oid_ = Arg(args_, arg::kOid);
  // Without an object id the record path would name the CheckOuts key itself.
  if (!win::IsUsableObjectId(oid_)) {
    Message(win::LoadStringLang(instance(), IDS_NO_OBJECT_ID));
    End(IDCANCEL);
    return true;
  }

  std::optional<win::CheckOutRecord> record = win::ReadCheckOutRecord(oid_);
  std::string localPath = record ? record->localPath : std::string();
  if (!FileExists(localPath)) {
    Message(win::LoadStringLang(instance(), IDS_NO_LOCAL_COPY));
    End(IDCANCEL);
    return true;
  }

  VersionRuleInput rules;
  rules.versionNo = Arg(args_, arg::kVersionNo);
  rules.isCurrent = Arg(args_, arg::kIsCurrent);
  rules.userId = Arg(args_, arg::kUserId);
  rules.creatorId = Arg(args_, arg::kCreatorId);
  rules.immutable = record->immutable.empty() ? "FALSE" : record->immutable;
  ApplyChoices(ChooseVersions(rules));
  return true;
}

void CZTCheckInDlg::ApplyChoices(const VersionChoiceSet& set) {
  auto show = [this](int id, bool visible) {
    ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE);
  };
  show(IDC_SAME_VERSION, set.offerSame);
  show(IDC_SAME_LABEL, set.offerSame);
  show(IDC_MINOR_VERSION, set.offerMinor);
  show(IDC_MINOR_LABEL, set.offerMinor);
  show(IDC_MAJOR_VERSION, set.offerMajor);
  show(IDC_MAJOR_LABEL, set.offerMajor);
  show(IDC_NOTE_NOT_CURRENT, set.note == VersionNote::kNotCurrent);
  show(IDC_NOTE_NOT_CREATOR, set.note == VersionNote::kNotCreator);
  show(IDC_NOTE_IMMUTABLE, set.note == VersionNote::kImmutable);
  if (set.offerSame) SetItemText(IDC_SAME_VERSION, set.sameCaption);
  if (set.offerMinor) SetItemText(IDC_MINOR_VERSION, set.minorCaption);
  if (set.offerMajor) SetItemText(IDC_MAJOR_VERSION, set.majorCaption);
  switch (set.checked) {
    case VersionChoice::kSame: CheckOnly(IDC_SAME_VERSION); break;
    case VersionChoice::kMinor: CheckOnly(IDC_MINOR_VERSION); break;
    case VersionChoice::kMajor: CheckOnly(IDC_MAJOR_VERSION); break;
  }
}

void CZTCheckInDlg::CheckOnly(int radioId) {
  for (int id : kRadios) CheckDlgButton(hwnd(), id, id == radioId ? BST_CHECKED : BST_UNCHECKED);
}

bool CZTCheckInDlg::OnCommand(int id, int notifyCode, HWND control) {
  switch (id) {
    case IDC_SAME_VERSION:
    case IDC_MINOR_VERSION:
    case IDC_MAJOR_VERSION:
      if (notifyCode == BN_CLICKED && !busy_) CheckOnly(id);
      return true;
    case IDOK:
      OnOK();
      return true;
    case IDCANCEL:
      // Closing mid-upload would leave the attempt without its window.
      if (busy_) return true;
      End(IDCANCEL);
      return true;
    default:
      return CDialogBase::OnCommand(id, notifyCode, control);
  }
}

void CZTCheckInDlg::SetBusy(bool busy) {
  busy_ = busy;
  for (int id : {IDOK, IDC_SAME_VERSION, IDC_MINOR_VERSION, IDC_MAJOR_VERSION, IDC_NOTE}) {
    EnableItem(id, !busy);
  }
}

void CZTCheckInDlg::PumpMessages() {
  // A bounded handful per chunk keeps the window painted without starving the upload.
  MSG msg;
  for (int i = 0; i < 16 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void CZTCheckInDlg::OnOK() {
  // The upload lets window messages through; a second OK meanwhile must not start another.
  if (busy_) return;

  if (win::FindWindowWithTitleContaining(WorkingCopyMark(oid_), hwnd())) {
    Message(win::LoadStringLang(instance(), IDS_CLOSE_EDITOR));
    return;
  }

  int chosen = IsDlgButtonChecked(hwnd(), IDC_SAME_VERSION) == BST_CHECKED    ? IDC_SAME_VERSION
               : IsDlgButtonChecked(hwnd(), IDC_MINOR_VERSION) == BST_CHECKED ? IDC_MINOR_VERSION
                                                                              : IDC_MAJOR_VERSION;
  std::string args = args_ + "&" + std::string(arg::kNewVersion) + "=" + ItemText(chosen);
  std::string note = ItemText(IDC_NOTE);

  SetBusy(true);
  HWND bar = Item(IDC_PROGRESS);
  UploadHooks hooks;
  hooks.progress = [bar](int percent) { win::SetProgress(bar, percent); };
  hooks.pump = [this] { PumpMessages(); };
  CheckInOutcome outcome = RunCheckIn(instance(), args, note, hooks);
  SetBusy(false);

  exitCode_ = outcome.result.code;
  if (outcome.result.ok()) {
    if (outcome.copyKept) {
      Message(FillPlaceholder(win::LoadStringLang(instance(), IDS_COPY_KEPT), outcome.localPath));
    }
    End(IDOK);
    return;
  }
  Message(outcome.result.message);
}

}  // namespace edms::checkin
