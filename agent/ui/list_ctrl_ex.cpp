#include "agent/ui/list_ctrl_ex.h"

#include <shellapi.h>

#include <cstdlib>

#include "common/ascii.h"
#include "common/download_item.h"
#include "common/filename.h"
#include "common/win/text.h"

namespace edms {
namespace {

constexpr COLORREF kFailedColour = RGB(255, 0, 0);
constexpr UINT kOneLine = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;

HIMAGELIST SystemImageList(UINT size) {
  SHFILEINFOW info{};
  return reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoW(L".txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | size));
}

int Luminance(COLORREF c) { return (GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114) / 1000; }

void Fill(HDC dc, const RECT& box, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
}

void DrawClipped(HDC dc, const RECT& clip, const RECT& box, const std::wstring& text, COLORREF colour, UINT format) {
  if (clip.right <= clip.left) return;
  SaveDC(dc);
  IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
  SetTextColor(dc, colour);
  RECT r = box;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
  RestoreDC(dc, -1);
}

}  // namespace

void CListCtrlEx::Attach(HWND list) {
  list_ = list;
  windowText_ = GetSysColor(COLOR_WINDOWTEXT);
  window_ = GetSysColor(COLOR_WINDOW);
  highlightText_ = GetSysColor(COLOR_HIGHLIGHTTEXT);
  highlight_ = GetSysColor(COLOR_HIGHLIGHT);
  activeBorder_ = GetSysColor(COLOR_ACTIVEBORDER);
  buttonFace_ = GetSysColor(COLOR_BTNFACE);
  // The bar is drawn in the border colour with the text in the window colour over it. Themes
  // whose border is as light as the window (Wine's is white) would hide both: the selection
  // colours take their place there.
  barFill_ = activeBorder_;
  barText_ = window_;
  if (std::abs(Luminance(activeBorder_) - Luminance(window_)) < 48) {
    barFill_ = highlight_;
    barText_ = highlightText_;
  }
  smallIcons_ = SystemImageList(SHGFI_SMALLICON);
  SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(smallIcons_));
  SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(SystemImageList(SHGFI_LARGEICON)));
  // The list measured its rows before its owner could answer: a size change makes it ask again.
  RECT box{};
  GetWindowRect(list_, &box);
  WINDOWPOS position{};
  position.hwnd = list_;
  position.cx = box.right - box.left;
  position.cy = box.bottom - box.top;
  position.flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  SendMessageW(list_, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&position));
}

void CListCtrlEx::InsertColumn(int index, const wchar_t* title, int format, int width) {
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(title);
  SendMessageW(list_, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

int CListCtrlEx::AppendRow(const std::string& name) {
  std::wstring text = win::Widen(name);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = RowCount();
  item.pszText = text.data();
  item.iImage = IconIndex(name);
  return static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void CListCtrlEx::SetCellText(int row, int column, const std::string& text) {
  std::wstring wide = win::Widen(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

std::string CListCtrlEx::CellText(int row, int column) const {
  // The list copies at most the buffer's size: grow it until the text fits.
  for (size_t capacity = 256;; capacity *= 4) {
    std::wstring buffer(capacity, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(capacity);
    const auto got = static_cast<size_t>(SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    if (got + 1 < capacity || capacity >= (1u << 20)) {
      buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
      return win::Narrow(buffer);
    }
  }
}

int CListCtrlEx::RowCount() const { return static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }

void CListCtrlEx::RedrawRow(int row) {
  SendMessageW(list_, LVM_REDRAWITEMS, row, row);
  UpdateWindow(list_);
}

int CListCtrlEx::IconIndex(const std::string& name) {
  const NameParts parts = SplitExtension(LastPathComponent(name));
  const std::string key = AsciiLower(parts.extension);
  auto cached = iconByExtension_.find(key);
  if (cached != iconByExtension_.end()) return cached->second;
  // By the attributes alone: the file need not (and usually does not yet) exist.
  SHFILEINFOW info{};
  const std::wstring probe = L"file" + win::Widen(parts.extension);
  SHGetFileInfoW(probe.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                 SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
  iconByExtension_.emplace(key, info.iIcon);
  return info.iIcon;
}

bool CListCtrlEx::OnMeasureItem(MEASUREITEMSTRUCT* measure) {
  if (!list_ || measure->CtlType != ODT_LISTVIEW || measure->CtlID != static_cast<UINT>(GetDlgCtrlID(list_))) {
    return false;
  }
  measure->itemHeight = kRowHeight;
  return true;
}

void CListCtrlEx::DrawProgressCell(HDC dc, RECT box, const std::wstring& text, int percent, bool selected) const {
  Rectangle(dc, box.left, box.top, box.right, box.bottom);
  InflateRect(&box, -1, -1);
  RECT done = box, rest = box;
  done.right = box.left + percent * (box.right - box.left) / 100;
  rest.left = done.right;
  const UINT centred = kOneLine | DT_CENTER;
  if (selected) {
    Fill(dc, done, buttonFace_);
    Fill(dc, rest, window_);
    DrawClipped(dc, box, box, text, windowText_, centred);
    return;
  }
  Fill(dc, done, barFill_);
  Fill(dc, rest, buttonFace_);
  DrawClipped(dc, done, box, text, barText_, centred);
  DrawClipped(dc, rest, box, text, windowText_, centred);
}

bool CListCtrlEx::OnDrawItem(const DRAWITEMSTRUCT* draw) {
  if (!list_ || draw->CtlType != ODT_LISTVIEW || draw->hwndItem != list_) return false;
  HDC dc = draw->hDC;
  const int row = static_cast<int>(draw->itemID);
  SaveDC(dc);
  SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list_, WM_GETFONT, 0, 0)));
  SetBkMode(dc, TRANSPARENT);

  const UINT state = static_cast<UINT>(SendMessageW(list_, LVM_GETITEMSTATE, row, LVIS_DROPHILITED));
  const bool showsSelection = GetFocus() == list_ || (GetWindowLongW(list_, GWL_STYLE) & LVS_SHOWSELALWAYS);
  const bool selected = (state & LVIS_DROPHILITED) || ((draw->itemState & ODS_SELECTED) && showsSelection);
  Fill(dc, draw->rcItem, selected ? highlight_ : window_);
  SetBkMode(dc, TRANSPARENT);

  int left = draw->rcItem.left;
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  for (int index = 0; SendMessageW(list_, LVM_GETCOLUMNW, index, reinterpret_cast<LPARAM>(&column)); ++index) {
    RECT cell{left, draw->rcItem.top, left + column.cx, draw->rcItem.bottom};
    left = cell.right;
    if (column.cx <= 0) continue;
    RECT box = cell;
    InflateRect(&box, -2, -1);
    const std::string text = CellText(row, index);
    const std::wstring wide = win::Widen(text);
    if (IsProgressCell(text)) {
      DrawProgressCell(dc, box, wide, CellPercent(text), selected);
    } else if (IsFailedCell(text)) {
      DrawClipped(dc, box, box, wide, kFailedColour, kOneLine | DT_LEFT);
    } else {
      if (index == 0 && smallIcons_) {
        RECT icon{LVIR_ICON, 0, 0, 0};
        SendMessageW(list_, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&icon));
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        SendMessageW(list_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        const int height = cell.bottom - cell.top;
        const int top = height > 16 ? cell.top + (height - 16) / 2 : cell.top;
        ImageList_Draw(smallIcons_, item.iImage, dc, icon.left, top, ILD_TRANSPARENT);
        box.left = icon.left + 16 + 4;
      }
      DrawClipped(dc, box, box, wide, selected ? highlightText_ : windowText_, kOneLine | DT_LEFT);
    }
  }
  RestoreDC(dc, -1);
  return true;
}

}  // namespace edms
