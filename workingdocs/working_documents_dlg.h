// The list of the user's check-outs, one row per document version, and what can be done with
// the selected one: check it in, cancel its check-out, open its working copy.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <vector>

#include "common/checkout_list.h"
#include "common/win/dialog.h"
#include "common/working_documents.h"

namespace edms::workingdocs {

class CZTWorkingDocumentsDlg : public win::CDialogBase {
 public:
  CZTWorkingDocumentsDlg(HINSTANCE instance, std::string appType);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;
  void OnDestroy() override;

 private:
  using ArgumentsFor = std::optional<std::string> (*)(const CheckOutRow&, const ListProgramValues&, std::string&);

  void InitList();
  // Asks the server for the list and shows it; on failure tells the user and keeps the rows.
  bool LoadList();
  void ShowRows(std::vector<CheckOutRow> rows);
  void Refresh();
  // Starts `program` from this program's folder for the selected row and waits for it, then
  // refreshes. Nothing starts while the document is open in an editor (`editorOpenText`).
  void RunForSelectedRow(const char* program, ArgumentsFor arguments, UINT editorOpenText);
  void Edit();
  // Opens the work folder's "Checked in" folder in the shell (created when missing); a box
  // says when it cannot be.
  void OpenCheckedInCopies();
  int SelectedRow() const;
  void UpdateButtons();
  void SetBusy(bool busy);
  std::string Text(UINT id) const;
  void Message(const std::string& text);

  std::string appType_;
  std::string args_;
  ListProgramValues own_;
  std::vector<CheckOutRow> rows_;  // row i of the list shows rows_[i]
  bool busy_ = false;              // a started program runs: the window takes no commands
};

}  // namespace edms::workingdocs
