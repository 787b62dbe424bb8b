// The multi-file download window (dialog 132, "Download"): the items of the download list in
// an owner-drawn list, the target folder, Start, two options and the start countdown. The rows
// are fetched one after the other with the agent's transfer; each shows its progress, or its
// reason in red when it failed or was refused before anything was sent.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "agent/ui/list_ctrl_ex.h"
#include "agent/service/transfer.h"
#include "common/download_item.h"
#include "common/win/dialog.h"

namespace edms {

struct MultiDownloadSetup {
  std::vector<std::string> items;  // download-list items as the page sent them
  std::string userId;              // the user whose page asked
  std::string adaptorUrl;
  std::string downloadFolder;      // DownloadFolder as it stood when the window opened
  std::string appType;
  uint64_t maxDownloadBytes = 0;  // MaxDownloadBytes: the cap on each file (0: the disk's space)
  // Keeps a folder the user typed or picked as DownloadFolder (may block on the registry).
  std::function<void(const std::string& folder)> saveFolder;
};

// Whether a window closes after a run without a failed row: every window of this agent run
// shares the choice (initially on, not stored). "Start transfer automatically." is each
// window's own: ticking it starts that window's countdown.
bool CloseAfterTransfer();

class CMultiDownloadDlg : public win::CDialogBase {
 public:
  CMultiDownloadDlg(HINSTANCE instance, MultiDownloadSetup setup);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  struct Row {
    DownloadItem item;
    std::string refusal;  // why the row is never sent; empty for a row that may run
  };
  class RowProgress;

  void AddRow(const std::string& text);
  void OnStart();
  void StopCountdown();
  void StartTransfers(const std::string& folder);
  bool RunRow(int row, const std::string& folder);
  void BrowseFolder();

  MultiDownloadSetup setup_;
  CListCtrlEx list_;
  std::vector<Row> rows_;
  Countdown countdown_;
  bool running_ = false;
  bool aborted_ = false;
};

}  // namespace edms
