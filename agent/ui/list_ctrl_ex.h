// The multi-file window's list (an owner-drawn report list view): 20-pixel rows, the file's
// icon before its name, a progress cell ("<text> <n> %") drawn as a bar with the text over it,
// a failed cell ("*" + reason) in red. The owning dialog hands it WM_MEASUREITEM and
// WM_DRAWITEM.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>

namespace edms {

class CListCtrlEx {
 public:
  static constexpr int kRowHeight = 20;

  // Takes over `list` (a report list view with LVS_OWNERDRAWFIXED and LVS_SHAREIMAGELISTS):
  // the system's colours as they are now, the system image lists, and a re-measure of its rows.
  void Attach(HWND list);
  HWND hwnd() const { return list_; }

  void InsertColumn(int index, const wchar_t* title, int format, int width);
  // A row with `name` in column 0 and the system's small icon of its extension; its index.
  int AppendRow(const std::string& name);
  void SetCellText(int row, int column, const std::string& text);
  std::string CellText(int row, int column) const;
  int RowCount() const;
  // Redraws one row now, not at the next paint.
  void RedrawRow(int row);

  // The answers to the owner-draw messages; true when they were for this list.
  bool OnMeasureItem(MEASUREITEMSTRUCT* measure);
  bool OnDrawItem(const DRAWITEMSTRUCT* draw);

 private:
  int IconIndex(const std::string& name);
  void DrawProgressCell(HDC dc, RECT box, const std::wstring& text, int percent, bool selected) const;

  HWND list_ = nullptr;
  HIMAGELIST smallIcons_ = nullptr;  // the system's: never destroyed here
  std::map<std::string, int> iconByExtension_;
  COLORREF windowText_ = 0, window_ = 0, highlightText_ = 0, highlight_ = 0, activeBorder_ = 0, buttonFace_ = 0;
  COLORREF barFill_ = 0, barText_ = 0;  // the done part of a progress cell and its text
};

}  // namespace edms
