#include "working_documents_dlg.h"

#include <utility>

#include "common/checked_in_copies.h"
#include "common/program_names.h"
#include "common/requests.h"
#include "common/text_format.h"
#include "common/working_copy.h"
#include "common/win/checked_in_copies.h"
#include "common/win/checkout_record.h"
#include "common/win/client_config.h"
#include "common/win/command_line.h"
#include "common/win/exchange.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/process.h"
#include "common/win/program_result.h"
#include "common/win/system_error.h"
#include "common/win/text.h"
#include "common/win/trace.h"
#include "common/win/window_search.h"
#include "file_icons.h"
#include "resource.h"

namespace edms::workingdocs {
namespace {

// Posted from the dialog's initialisation: the list loads once the window shows.
constexpr UINT kLoadMessage = WM_APP + 1;
constexpr int kActionButtons[] = {IDC_CHECKIN, IDC_CANCEL_CHECKOUT, IDC_EDIT};

struct Column {
  UINT textId;
  int width;
};
// The version column is wide enough for "1.2,CURRENT *": the edits mark must not be cut off.
constexpr Column kColumns[] = {
    {IDS_COLUMN_DOCUMENT, 200}, {IDS_COLUMN_VERSION, 110}, {IDS_COLUMN_NOTE, 265}, {IDS_COLUMN_OWNER, 100}};

void SetCell(HWND list, int row, int column, const std::string& utf8) {
  std::wstring text = win::Widen(utf8);
  ListView_SetItemText(list, row, column, text.data());
}

// The working copy on this computer moved from the stamp its check-out recorded.
bool CopyHoldsEdits(const CheckOutRow& row) {
  // Reading never creates a record key, whatever identifier the server sent.
  const std::optional<win::CheckOutRecord> record = win::ReadCheckOutRecord(row.documentId);
  return record && HoldsUncheckedEdits(record->stamp, win::GetFileStamp(record->localPath));
}

bool CanRead(const std::string& path) {
  if (path.empty()) return false;
  win::UniqueKernelHandle file(CreateFileW(win::Widen(path).c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

}  // namespace

CZTWorkingDocumentsDlg::CZTWorkingDocumentsDlg(HINSTANCE instance, std::string appType)
    : CDialogBase(instance, IDD_ZTWORKINGDOCUMENTS_DIALOG), appType_(std::move(appType)) {}

std::string CZTWorkingDocumentsDlg::Text(UINT id) const { return win::LoadStringLang(instance(), id); }

void CZTWorkingDocumentsDlg::Message(const std::string& text) {
  win::ShowMessage(hwnd(), text, Text(IDS_INFORMATION));
}

bool CZTWorkingDocumentsDlg::OnInitDialog() {
  win::AddSystemMenuItem(hwnd(), Text(IDS_ABOUTBOX), IDM_ABOUTBOX);
  SetProgramIcon(appType_, IDI_MAIN, IDI_ALTERNATIVE);
  args_ = win::ProgramArgumentString();
  own_ = ReadListProgramValues(args_);
  InitList();
  UpdateButtons();
  PostMessageW(hwnd(), kLoadMessage, 0, 0);
  return true;
}

void CZTWorkingDocumentsDlg::InitList() {
  HWND list = Item(IDC_LIST);
  // The template gives the list LVS_SHAREIMAGELISTS: these lists belong to the system.
  const SystemImageLists images = GetSystemImageLists();
  ListView_SetImageList(list, images.small, LVSIL_SMALL);
  ListView_SetImageList(list, images.large, LVSIL_NORMAL);
  ListView_SetExtendedListViewStyle(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  int index = 0;
  for (const Column& column : kColumns) {
    std::wstring text = win::Widen(Text(column.textId));
    LVCOLUMNW lv{};
    lv.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    lv.fmt = LVCFMT_LEFT;
    lv.cx = column.width;
    lv.pszText = text.data();
    lv.iSubItem = index;
    ListView_InsertColumn(list, index++, &lv);
  }
}

void CZTWorkingDocumentsDlg::OnDestroy() {
  HWND list = Item(IDC_LIST);
  ListView_SetImageList(list, nullptr, LVSIL_SMALL);
  ListView_SetImageList(list, nullptr, LVSIL_NORMAL);
}

bool CZTWorkingDocumentsDlg::LoadList() {
  const win::ExchangeOutcome outcome =
      win::PostForm(own_.adaptorUrl, Command::GetCheckOutList, {own_.userId, own_.shareName});
  win::ProgramResult result = win::ResultOfExchange(
      outcome, win::kResultRefused, {Text(IDS_INVALID_URL), Text(IDS_UNKNOWN_ERROR)});
  if (!result.ok()) {
    win::Trace("list request failed with " + std::to_string(result.code));
    Message(result.message.empty() ? Text(IDS_UNKNOWN_ERROR) : result.message);
    return false;
  }
  size_t skipped = 0;
  ShowRows(ParseCheckOutList(outcome.reply.codeDesc, &skipped));
  if (skipped > 0) Message(FillPlaceholder(Text(IDS_ROWS_SKIPPED), std::to_string(skipped)));
  return true;
}

void CZTWorkingDocumentsDlg::ShowRows(std::vector<CheckOutRow> rows) {
  // The same document is selected again, wherever it now stands: acting on whatever row took
  // its place could cancel another document's check-out.
  const int selected = SelectedRow();
  const std::string keep = selected >= 0 ? rows_[static_cast<size_t>(selected)].documentId : std::string();

  HWND list = Item(IDC_LIST);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  rows_ = std::move(rows);
  bool anyEdits = false;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const CheckOutRow& row = rows_[i];
    const bool edits = CopyHoldsEdits(row);
    anyEdits = anyEdits || edits;
    std::wstring name = win::Widen(row.documentName);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(i);
    item.pszText = name.data();
    item.iImage = FileIconIndex(row.documentName);
    const int at = ListView_InsertItem(list, &item);
    SetCell(list, at, 1, VersionColumnText(row, edits));
    SetCell(list, at, 2, row.note);
    SetCell(list, at, 3, OwnerColumnText(row));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  ShowWindow(Item(IDC_EDITS_LEGEND), anyEdits ? SW_SHOW : SW_HIDE);

  if (const std::optional<size_t> again = RowOfDocument(rows_, keep)) {
    const int row = static_cast<int>(*again);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetSelectionMark(list, row);
    ListView_EnsureVisible(list, row, FALSE);
  }
  UpdateButtons();
}

void CZTWorkingDocumentsDlg::Refresh() {
  if (!LoadList()) return;
  SetFocus(Item(IDC_LIST));
}

int CZTWorkingDocumentsDlg::SelectedRow() const {
  const int row = ListView_GetNextItem(Item(IDC_LIST), -1, LVNI_SELECTED);
  return row >= 0 && static_cast<size_t>(row) < rows_.size() ? row : -1;
}

void CZTWorkingDocumentsDlg::UpdateButtons() {
  const bool enable = !busy_ && SelectedRow() >= 0;
  for (int id : kActionButtons) EnableItem(id, enable);
}

void CZTWorkingDocumentsDlg::SetBusy(bool busy) {
  busy_ = busy;
  EnableItem(IDC_LIST, !busy);
  EnableItem(IDC_REFRESH, !busy);
  UpdateButtons();
  EnableWindow(hwnd(), busy ? FALSE : TRUE);
}

void CZTWorkingDocumentsDlg::RunForSelectedRow(const char* program, ArgumentsFor arguments, UINT editorOpenText) {
  const int selected = SelectedRow();
  if (busy_ || selected < 0) return;
  const CheckOutRow row = rows_[static_cast<size_t>(selected)];

  std::string why;
  const std::optional<std::string> args = arguments(row, own_, why);
  if (!args) {
    win::Trace("not passed on: " + why);
    Message(Text(IDS_ROW_NOT_PASSED_ON));
    return;
  }
  // Editors show the working copy's name, which carries the document's mark.
  if (win::FindWindowWithTitleContaining(WorkingCopyMark(row.documentId), hwnd())) {
    Message(Text(editorOpenText));
    return;
  }

  const std::string path = win::GetAgentFolder() + "\\" + program;
  SetBusy(true);
  win::UniqueKernelHandle process = win::StartProgram("open", path, win::QuoteArgument(*args), SW_SHOWNORMAL);
  if (!process) {
    const DWORD error = GetLastError();
    SetBusy(false);
    Message(FillPlaceholder(Text(IDS_START_FAILED), path + "\n" + win::DescribeError(error)));
    return;
  }
  // The window keeps painting while the program runs; its exit code tells the list nothing
  // that the server's list will not.
  win::WaitForExitCodeDispatching(process.get());
  SetBusy(false);
  SetForegroundWindow(hwnd());
  Refresh();
}

void CZTWorkingDocumentsDlg::Edit() {
  const int selected = SelectedRow();
  if (busy_ || selected < 0) return;
  const std::optional<win::CheckOutRecord> record = win::ReadCheckOutRecord(rows_[static_cast<size_t>(selected)].documentId);
  const std::string path = record ? record->localPath : std::string();
  if (!CanRead(path)) {
    Message(Text(IDS_NO_LOCAL_COPY));
    return;
  }
  if (const DWORD error = win::OpenWithShell(path, SW_SHOWNORMAL)) {
    Message(FillPlaceholder(Text(IDS_OPEN_FAILED), path + "\n" + win::DescribeError(error)));
  }
}

void CZTWorkingDocumentsDlg::OpenCheckedInCopies() {
  if (busy_) return;
  // The folder ZTCheckIn keeps the copies in: the configuration's, whatever the list was given.
  const std::optional<std::string> folder = CheckedInFolder(win::LoadCheckedInSettings().workFolder);
  DWORD error = ERROR_PATH_NOT_FOUND;
  if (folder && (error = win::MakeCheckedInFolder(*folder)) == ERROR_SUCCESS) {
    error = win::OpenWithShell(*folder, SW_SHOWNORMAL);
  }
  if (error != ERROR_SUCCESS) {
    win::Trace("checked-in copies not opened: error " + std::to_string(error));
    Message(FillPlaceholder(Text(IDS_CHECKED_IN_NOT_OPENED),
                            folder.value_or(kCheckedInFolderName) + "\n" + win::DescribeError(error)));
  }
}

bool CZTWorkingDocumentsDlg::OnCommand(int id, int notifyCode, HWND control) {
  switch (id) {
    case IDC_REFRESH:
      if (!busy_) Refresh();
      return true;
    case IDC_CHECKIN:
      RunForSelectedRow(kCheckInProgram, &CheckInArguments, IDS_CLOSE_EDITOR_CHECKIN);
      return true;
    case IDC_CANCEL_CHECKOUT:
      RunForSelectedRow(kCancelProgram, &CancelArguments, IDS_CLOSE_EDITOR_CANCEL);
      return true;
    case IDC_EDIT:
      Edit();
      return true;
    case IDC_CHECKED_IN:
      OpenCheckedInCopies();
      return true;
    case IDOK:
      // Enter does not close the list.
      return true;
    case IDCANCEL:
      if (!busy_) End(IDCANCEL);
      return true;
    default:
      return CDialogBase::OnCommand(id, notifyCode, control);
  }
}

bool CZTWorkingDocumentsDlg::OnNotify(NMHDR* header, LRESULT& /*result*/) {
  if (header->idFrom != IDC_LIST) return false;
  switch (header->code) {
    case NM_CLICK:
    case NM_SETFOCUS:
    case LVN_ITEMCHANGED:
      UpdateButtons();
      return false;
    case NM_DBLCLK:
      Edit();
      return true;
    default:
      return false;
  }
}

bool CZTWorkingDocumentsDlg::OnMessage(UINT msg, WPARAM wp, LPARAM, INT_PTR& result) {
  if (msg == kLoadMessage) {
    LoadList();
    result = TRUE;
    return true;
  }
  if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == IDM_ABOUTBOX) {
    win::ShowPlainDialog(instance(), IDD_ABOUTBOX, hwnd());
    result = TRUE;
    return true;
  }
  return false;
}

}  // namespace edms::workingdocs
