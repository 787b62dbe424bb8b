#include "cancel_dlg.h"

#include <commctrl.h>

#include <utility>

#include "cancel_flow.h"
#include "common/text_format.h"
#include "common/argument_keys.h"
#include "common/arguments.h"
#include "common/ascii.h"
#include "common/encoding.h"
#include "common/filename.h"
#include "common/win/checkout_record.h"
#include "common/win/command_line.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"
#include "resource.h"

namespace edms::cancel {
namespace {

constexpr UINT_PTR kStartTimer = 1;

}  // namespace

CZTCheckOutCancelDlg::CZTCheckOutCancelDlg(HINSTANCE instance, std::string appType)
    : CDialogBase(instance, IDD_ZTCHECKOUTCANCEL_DIALOG), appType_(std::move(appType)) {}

void CZTCheckOutCancelDlg::Message(const std::string& text, UINT flags) {
  win::ShowMessage(hwnd(), text, win::LoadStringLang(instance(), IDS_INFORMATION), flags);
}

bool CZTCheckOutCancelDlg::OnInitDialog() {
  SetProgramIcon(appType_, IDI_MAIN, IDI_ALTERNATIVE);
  args_ = win::ProgramArgumentString();

  CancelInputs in = ReadCancelInputs(args_);
  SetItemText(IDC_DOC_NAME, LastPathComponent(in.docPath));
  SetItemText(IDC_VERSION, in.versionNo);

  // Without an object id the record path would name the CheckOuts key itself.
  if (!win::IsUsableObjectId(in.oid)) {
    Message(win::LoadStringLang(instance(), IDS_NO_OBJECT_ID));
    End(IDCANCEL);
    return true;
  }

  if (!EqualsIgnoreCase(Arg(args_, arg::kSupressWarning), "TRUE")) {
    int answer = win::ShowMessage(hwnd(), win::LoadStringLang(instance(), IDS_CONFIRM_CANCEL),
                                  win::LoadStringLang(instance(), IDS_INFORMATION),
                                  MB_YESNO | MB_ICONEXCLAMATION);
    if (answer != IDYES) {
      End(IDCANCEL);
      return true;
    }
  }
  SetTimer(hwnd(), kStartTimer, 100, nullptr);
  return true;
}

bool CZTCheckOutCancelDlg::OnTimer(UINT_PTR timerId) {
  if (timerId != kStartTimer) return false;
  KillTimer(hwnd(), kStartTimer);

  HWND bar = Item(IDC_PROGRESS);
  CancelResult result = RunCancel(instance(), ReadCancelInputs(args_), [bar](int position) {
    SendMessageW(bar, PBM_SETPOS, position, 0);
  });
  if (!result.result.ok()) {
    Message(result.result.message);
  } else if (!result.copyNotDeleted.empty()) {
    Message(FillPlaceholder(win::LoadStringLang(instance(), IDS_COPY_NOT_DELETED), result.copyNotDeleted));
  }
  End(IDOK);
  return true;
}

}  // namespace edms::cancel
