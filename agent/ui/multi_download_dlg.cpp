#include "agent/ui/multi_download_dlg.h"

#include <shlobj.h>

#include <atomic>
#include <type_traits>
#include <utility>

#include "agent/resource.h"
#include "agent/service/refusal_text.h"
#include "common/encoding.h"
#include "common/win/handles.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/name_rule.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms {
namespace {

constexpr UINT_PTR kCountdownTimer = 0;
constexpr UINT kCountdownMs = 1000;

enum Column { kNameColumn, kProgressColumn, kResultColumn, kDocIdColumn, kPageIdColumn };

std::atomic<bool> closeAfterTransfer{true};

std::string Text(UINT id) { return win::LoadStringLang(GetModuleHandleW(nullptr), id); }

std::string Trimmed(std::string text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

bool CloseAfterTransfer() { return closeAfterTransfer; }

// A row's Progress cell as the transfer's sink: phases and percents, redrawn at once, and
// only when the percent changes.
class CMultiDownloadDlg::RowProgress : public TransferHost {
 public:
  RowProgress(CMultiDownloadDlg& dialog, int row) : dialog_(dialog), row_(row) {}
  void OnPhase(UINT textId) override { Show(Text(textId), 0); }
  void OnPercent(int percent) override {
    if (percent != shown_) Show({}, percent);
  }
  bool Aborted() const override { return dialog_.aborted_; }

 private:
  void Show(const std::string& phase, int percent) {
    shown_ = percent;
    dialog_.list_.SetCellText(row_, kProgressColumn, ProgressCellText(phase, percent));
    dialog_.list_.RedrawRow(row_);
  }

  CMultiDownloadDlg& dialog_;
  int row_;
  int shown_ = -1;
};

CMultiDownloadDlg::CMultiDownloadDlg(HINSTANCE instance, MultiDownloadSetup setup)
    : CDialogBase(instance, IDD_MULTI_DOWNLOAD), setup_(std::move(setup)) {}

bool CMultiDownloadDlg::OnInitDialog() {
  SetProgramIcon(setup_.appType, IDR_MAINFRAME, IDR_MAINFRAME_EDMS);
  SetItemText(IDC_DOWNLOAD_FOLDER, setup_.downloadFolder);
  CheckDlgButton(hwnd(), IDC_CLOSE_AFTER_TRANSFER, closeAfterTransfer ? BST_CHECKED : BST_UNCHECKED);

  list_.Attach(Item(IDC_DOWNLOAD_LIST));
  list_.InsertColumn(kNameColumn, L"File name", LVCFMT_LEFT, 300);
  list_.InsertColumn(kProgressColumn, L"Progress", LVCFMT_LEFT, 274);
  list_.InsertColumn(kResultColumn, L"Result", LVCFMT_RIGHT, 0);
  list_.InsertColumn(kDocIdColumn, L"Doc ID", LVCFMT_RIGHT, 0);
  list_.InsertColumn(kPageIdColumn, L"Page ID", LVCFMT_RIGHT, 0);
  for (const std::string& item : setup_.items) AddRow(item);

  SetForegroundWindow(hwnd());
  return true;
}

// Rows the agent will not send are failed from the start, so the user sees why before Start.
void CMultiDownloadDlg::AddRow(const std::string& text) {
  Row row{ParseDownloadItem(text), {}};
  if (!row.item.complete) {
    row.refusal = Text(IDS_ITEM_INCOMPLETE);
  } else {
    row.refusal = RefusalText(win::CheckFileName(row.item.SaveName()));
  }
  // An incomplete item has no name: what the page sent stands in for it.
  const int index = list_.AppendRow(SanitizeUtf8(row.item.complete ? row.item.name : text));
  // Before any run the cell is just "0 %"; a run's cells start with the (empty) phase.
  list_.SetCellText(index, kProgressColumn, row.refusal.empty() ? "0 %" : FailedCellText(row.refusal));
  list_.SetCellText(index, kDocIdColumn, SanitizeUtf8(row.item.documentId));
  list_.SetCellText(index, kPageIdColumn, SanitizeUtf8(row.item.pageId));
  rows_.push_back(std::move(row));
}

bool CMultiDownloadDlg::OnCommand(int id, int notifyCode, HWND) {
  switch (id) {
    case IDC_DOWNLOAD_START:
      OnStart();
      return true;
    case IDC_DOWNLOAD_BROWSE:
      BrowseFolder();
      return true;
    case IDC_DOWNLOAD_FOLDER:
      if (notifyCode == EN_CHANGE) {
        const std::string folder = Trimmed(ItemText(IDC_DOWNLOAD_FOLDER));
        if (!folder.empty() && folder != setup_.downloadFolder) {
          setup_.downloadFolder = folder;
          if (setup_.saveFolder) setup_.saveFolder(folder);
        }
      }
      return true;
    case IDC_CLOSE_AFTER_TRANSFER:
      closeAfterTransfer = IsDlgButtonChecked(hwnd(), IDC_CLOSE_AFTER_TRANSFER) == BST_CHECKED;
      return true;
    case IDC_START_AUTOMATICALLY:
      // The choice is this window's alone: a page's later DO_DOWNLOAD never starts by itself.
      StopCountdown();
      if (IsDlgButtonChecked(hwnd(), IDC_START_AUTOMATICALLY) == BST_CHECKED && !running_) {
        countdown_.Arm();
        SetTimer(hwnd(), kCountdownTimer, kCountdownMs, nullptr);
      }
      return true;
    case IDOK:
    case IDCANCEL:
      return true;  // Esc does not close the window; Enter presses Start, the default button
    default:
      return false;
  }
}

bool CMultiDownloadDlg::OnTimer(UINT_PTR id) {
  if (id != kCountdownTimer) return false;
  switch (countdown_.Tick()) {
    case Countdown::Step::kShow:
      SetItemText(IDC_COUNTDOWN, countdown_.Text());
      break;
    case Countdown::Step::kStart:
      OnStart();
      break;
    case Countdown::Step::kNone:
      StopCountdown();
      break;
  }
  return true;
}

void CMultiDownloadDlg::StopCountdown() {
  countdown_.Stop();
  KillTimer(hwnd(), kCountdownTimer);
  SetItemText(IDC_COUNTDOWN, {});
}

void CMultiDownloadDlg::OnStart() {
  // Start ends the countdown, so a run it would begin later never follows or nests in this one.
  StopCountdown();
  if (running_) return;
  std::string folder = Trimmed(ItemText(IDC_DOWNLOAD_FOLDER));
  if (folder.empty()) folder = setup_.downloadFolder;
  if (folder.empty()) {
    win::ShowMessage(hwnd(), Text(IDS_NO_DOWNLOAD_FOLDER), Text(IDS_INFORMATION), MB_OK | MB_ICONEXCLAMATION, false);
    return;
  }
  SetItemText(IDC_DOWNLOAD_FOLDER, folder);
  StartTransfers(folder);
}

void CMultiDownloadDlg::StartTransfers(const std::string& folder) {
  running_ = true;
  aborted_ = false;
  for (int id : {IDC_DOWNLOAD_FOLDER, IDC_DOWNLOAD_BROWSE, IDC_DOWNLOAD_START}) EnableItem(id, false);
  for (size_t row = 0; row < rows_.size(); ++row) {
    if (!rows_[row].refusal.empty()) continue;
    list_.SetCellText(static_cast<int>(row), kProgressColumn, ProgressCellText({}, 0));
    list_.RedrawRow(static_cast<int>(row));
  }
  bool failed = false;
  for (size_t row = 0; row < rows_.size(); ++row) {
    if (!RunRow(static_cast<int>(row), folder)) failed = true;
  }
  for (int id : {IDC_DOWNLOAD_FOLDER, IDC_DOWNLOAD_BROWSE, IDC_DOWNLOAD_START}) EnableItem(id, true);
  running_ = false;
  win::Trace("download run ended" + std::string(failed ? " with failed rows" : ""));
  if (closeAfterTransfer && !failed) End(0);
}

bool CMultiDownloadDlg::RunRow(int row, const std::string& folder) {
  const Row& r = rows_[static_cast<size_t>(row)];
  if (!r.refusal.empty()) return false;
  TransferRequest request;
  request.adaptorUrl = setup_.adaptorUrl;
  request.values = DownloadValues(r.item.documentId, r.item.pageId, setup_.userId);
  request.folder = folder;
  request.name = r.item.SaveName();
  request.freeName = true;
  request.maxBytes = setup_.maxDownloadBytes;
  request.abortCode = kTransferRowAborted;
  RowProgress progress(*this, row);
  const TransferResult result = DoOpen(request, progress);
  list_.SetCellText(row, kProgressColumn,
                    result.code == kTransferOk ? ProgressCellText({}, 100) : FailedCellText(result.text));
  list_.RedrawRow(row);
  return result.code == kTransferOk;
}

void CMultiDownloadDlg::BrowseFolder() {
  const std::wstring title = win::Widen(Text(IDS_CHOOSE_FOLDER));
  BROWSEINFOW browse{};
  browse.hwndOwner = hwnd();
  browse.lpszTitle = title.c_str();
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  const win::UniqueCoTaskMem<std::remove_pointer_t<PIDLIST_ABSOLUTE>> chosen(SHBrowseForFolderW(&browse));
  if (!chosen) return;
  std::wstring path(32768, L'\0');
  if (SHGetPathFromIDListEx(chosen.get(), path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
    path.resize(wcsnlen(path.c_str(), path.size()));
    SetItemText(IDC_DOWNLOAD_FOLDER, win::Narrow(path));
  }
}

bool CMultiDownloadDlg::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case WM_MEASUREITEM:
      result = list_.OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return result != FALSE;
    case WM_DRAWITEM:
      result = list_.OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return result != FALSE;
    case WM_CLOSE:
      // While rows run, closing stops them: the current one after its read, the rest at once.
      if (running_) {
        aborted_ = true;
      } else {
        End(0);
      }
      result = TRUE;
      return true;
    case WM_SETCURSOR:
      if (!running_) return false;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, TRUE);
      result = TRUE;
      return true;
    default:
      return false;
  }
}

void CMultiDownloadDlg::OnDestroy() { KillTimer(hwnd(), kCountdownTimer); }

}  // namespace edms
