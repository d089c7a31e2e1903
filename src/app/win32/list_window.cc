// The list of the main window as an administrator works with it: rows drawn on demand from the
// access records, column sort, quick filter, find, copy, context menu, CSV export, and the column
// widths and window place kept in Quorvix.ini.
#include <windows.h>
// windows.h first
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/listview.h"
#include "app/win32/win32_view.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "platform/platform.h"
#include "resources/resource.h"
#include "tracking/access_data.h"

namespace qvx {

namespace {

constexpr const char* kLayoutSection = "Window";
constexpr int kPathColumn = 12;

bool g_setting_filter_text = false;  // the program itself writes the filter box

std::string WindowText(HWND w) {
  const int n = GetWindowTextLengthA(w);
  std::string s(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  GetWindowTextA(w, &s[0], n + 1);
  s.resize(std::strlen(s.c_str()));
  return s;
}

std::string IniPath() {
  char path[1024] = {};
  return QVX_IniFileName(path, sizeof path) ? std::string(path) : std::string();
}

INT_PTR CALLBACK FindProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dlg, DWLP_USER, lParam);
      const auto* text = reinterpret_cast<const std::string*>(lParam);
      SetDlgItemTextA(dlg, IDC_FIND_TEXT, text->c_str());
      SendDlgItemMessageA(dlg, IDC_FIND_TEXT, EM_SETSEL, 0, -1);
      SetFocus(GetDlgItem(dlg, IDC_FIND_TEXT));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto* text = reinterpret_cast<std::string*>(GetWindowLongPtrA(dlg, DWLP_USER));
        *text = WindowText(GetDlgItem(dlg, IDC_FIND_TEXT));
        EndDialog(dlg, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dlg, 0);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// Puts text (in the ANSI code page) on the clipboard as Unicode and ANSI text.
bool SetClipboardText(HWND owner, const std::string& text) {
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  HGLOBAL w = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(wide) * sizeof(wchar_t));
  HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!w || !a) {
    if (w) GlobalFree(w);
    if (a) GlobalFree(a);
    return false;
  }
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, static_cast<wchar_t*>(GlobalLock(w)), wide);
  GlobalUnlock(w);
  std::memcpy(GlobalLock(a), text.c_str(), text.size() + 1);
  GlobalUnlock(a);
  if (!OpenClipboard(owner)) {
    GlobalFree(w);
    GlobalFree(a);
    return false;
  }
  EmptyClipboard();
  if (!SetClipboardData(CF_UNICODETEXT, w)) GlobalFree(w);
  if (!SetClipboardData(CF_TEXT, a)) GlobalFree(a);
  CloseClipboard();
  return true;
}

}  // namespace

std::vector<int> Win32View::SelectedRows() {
  std::vector<int> rows;
  int i = -1;
  while ((i = static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0)
    rows.push_back(i);
  return rows;
}

void Win32View::SelectOnly(int row) {
  LVITEMA it{};
  it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  it.state = 0;
  SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&it));
  if (row < 0) return;
  it.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&it));
  // Shift+arrows and shift+click extend from here.
  SendMessageA(list_, LVM_SETSELECTIONMARK, 0, row);
  SendMessageA(list_, LVM_ENSUREVISIBLE, row, FALSE);
}

void Win32View::OnListRefresh() {
  refresh_posted_ = false;  // what comes from now on posts again
  TakeInRows();
}

void Win32View::OnListRefreshPosted() {
  rows_waiting_ = false;
  TakeInRows();
  SetTimer(hwnd_, kListRefreshTimerId, kListRefreshGapMs, nullptr);
}

void Win32View::OnListRefreshGapEnd() {
  KillTimer(hwnd_, kListRefreshTimerId);
  refresh_posted_ = false;  // what comes from now on posts again
  // Rows that came during the gap posted nothing (Notify sets rows_waiting_ before it looks at
  // refresh_posted_, so a row is either seen here or posts a refresh of its own).
  if (rows_waiting_.load() && !refresh_posted_.exchange(true)) OnListRefreshPosted();
}

void Win32View::TakeInRows() {
  // Taken before the records are read: a row appended while they are read asks again, for the
  // next take-in, instead of being lost with this one.
  const bool scroll = scroll_wanted_.exchange(false);
  // The selection belongs to records, not to row numbers: rows may move under it.
  const std::vector<int> selected = SelectedRows();
  std::vector<int> records;
  for (int row : selected) records.push_back(model_.RecordAt(row));
  const ListModel::Change ch = model_.Refresh();
  const int count = model_.Count();
  SendMessageA(list_, LVM_SETITEMCOUNT, count, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  if ((ch.rebuilt || ch.dropped) && !selected.empty()) {
    SelectOnly(-1);
    std::vector<int> row_of;
    if (records.size() > 8) {
      row_of.assign(static_cast<size_t>(nListIndex > 0 ? nListIndex : 0), -1);
      for (int r = 0; r < count; ++r) {
        const int rec = model_.RecordAt(r);
        if (rec >= 0 && rec < static_cast<int>(row_of.size())) row_of[static_cast<size_t>(rec)] = r;
      }
    }
    LVITEMA it{};
    it.stateMask = it.state = LVIS_SELECTED;
    for (int rec : records) {
      rec -= ch.dropped;
      if (rec < 0) continue;
      const int row =
          row_of.empty()
              ? model_.RowOf(rec)
              : (rec < static_cast<int>(row_of.size()) ? row_of[static_cast<size_t>(rec)] : -1);
      if (row >= 0) SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&it));
    }
  }
  InvalidateRect(list_, nullptr, FALSE);
  if (!widths_fitted_ && count > 0) FitColumns();
  // Autoscroll follows the newest row until the user selects one; the wish is kept while a row
  // is selected, so that the list catches up once none is.
  if (scroll && OptionInfo.ScrollEndFlg == 1 && count > 0 && model_.sort_column() < 0 &&
      model_.ascending()) {
    if (SelectedRow() < 0)
      SendMessageA(list_, LVM_ENSUREVISIBLE, count - 1, FALSE);
    else
      scroll_wanted_ = true;
  }
}

void Win32View::FitColumns() {
  widths_fitted_ = true;
  for (int c = 0; c < kListColumns; ++c) {
    if (c == kPathColumn) continue;
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE);
    const int items = static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, c, 0));
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE_USEHEADER);
    const int header = static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, c, 0));
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, c, std::max(items, header) + 8);
  }
  RECT rc;
  GetClientRect(hwnd_, &rc);
  Resize(rc.right - rc.left, rc.bottom - rc.top);
}

void Win32View::ShowSortMark() {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0));
  if (!header) return;
  for (int c = 0; c < kListColumns; ++c) {
    HDITEMA hd{};
    hd.mask = HDI_FORMAT;
    SendMessageA(header, HDM_GETITEMA, c, reinterpret_cast<LPARAM>(&hd));
    hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (c == model_.sort_column()) hd.fmt |= model_.ascending() ? HDF_SORTUP : HDF_SORTDOWN;
    SendMessageA(header, HDM_SETITEMA, c, reinterpret_cast<LPARAM>(&hd));
  }
}

bool Win32View::OnListNotify(NMHDR* hdr, LRESULT* result) {
  if (hdr->hwndFrom != list_) return false;
  *result = 0;
  switch (hdr->code) {
    case LVN_GETDISPINFOA: {
      auto* di = reinterpret_cast<NMLVDISPINFOA*>(hdr);
      if ((di->item.mask & LVIF_TEXT) && di->item.pszText && di->item.cchTextMax > 0) {
        const std::string t = model_.Cell(di->item.iItem, di->item.iSubItem);
        lstrcpynA(di->item.pszText, t.c_str(), di->item.cchTextMax);
      }
      return true;
    }
    case LVN_GETDISPINFOW: {
      auto* di = reinterpret_cast<NMLVDISPINFOW*>(hdr);
      if ((di->item.mask & LVIF_TEXT) && di->item.pszText && di->item.cchTextMax > 0) {
        const std::string t = model_.Cell(di->item.iItem, di->item.iSubItem);
        const int n =
            MultiByteToWideChar(CP_ACP, 0, t.c_str(), -1, di->item.pszText, di->item.cchTextMax);
        if (n == 0) di->item.pszText[di->item.cchTextMax - 1] = L'\0';
      }
      return true;
    }
    case LVN_ODFINDITEMA:
    case LVN_ODFINDITEMW:
      *result = -1;
      return true;
    case LVN_COLUMNCLICK:
      model_.SortBy(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
      OnListRefresh();
      ShowSortMark();
      return true;
    case LVN_KEYDOWN: {
      const WORD key = reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey;
      const bool ctrl = GetKeyState(VK_CONTROL) < 0;
      if (ctrl && key == 'C') {
        CopyRows(false);
      } else if (ctrl && key == 'F') {
        Find(true);
      } else if (key == VK_F3) {
        Find(false);
      } else if (ctrl && key == 'A') {
        LVITEMA it{};
        it.stateMask = it.state = LVIS_SELECTED;
        SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&it));
      }
      return true;
    }
    case NM_RCLICK: {
      const auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
      menu_row_ = act->iItem;
      menu_column_ = act->iSubItem;
      ShowContextMenu();
      return true;
    }
    default:
      return false;
  }
}

void Win32View::ShowContextMenu() {
  POINT pt;
  GetCursorPos(&pt);
  LVHITTESTINFO hit{};
  hit.pt = pt;
  ScreenToClient(list_, &hit.pt);
  // The notification names the cell; where it does not, the point under the cursor does.
  if (menu_row_ < 0 || menu_column_ < 0) {
    SendMessageA(list_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    menu_row_ = hit.iItem;
    menu_column_ = hit.iSubItem;
  }
  if (menu_row_ >= 0 &&
      !(SendMessageA(list_, LVM_GETITEMSTATE, menu_row_, LVIS_SELECTED) & LVIS_SELECTED))
    SelectOnly(menu_row_);
  // The value is taken now: rows that come while the menu is open may move the clicked one.
  menu_value_ = menu_row_ >= 0 && menu_column_ >= 0 ? model_.Cell(menu_row_, menu_column_) : "";
  HMENU menu = LoadMenuA(static_cast<HINSTANCE>(hInst), MAKEINTRESOURCEA(IDR_LISTMENU));
  if (!menu) return;
  HMENU popup = GetSubMenu(menu, 0);
  const UINT rows = menu_row_ >= 0 ? MF_ENABLED : MF_GRAYED;
  EnableMenuItem(popup, IDM_COPY, MF_BYCOMMAND | rows);
  EnableMenuItem(popup, IDM_COPY_PATH, MF_BYCOMMAND | rows);
  EnableMenuItem(popup, IDM_FILTER_VALUE, MF_BYCOMMAND | rows);
  TrackPopupMenu(popup, TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
  DestroyMenu(menu);
}

void Win32View::CopyRows(bool path_only) {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty()) return;
  std::string text;
  if (path_only) {
    for (int row : rows) text += model_.Cell(row, kPathColumn) + "\r\n";
  } else {
    text = model_.Tsv(rows);
  }
  SetClipboardText(hwnd_, text);
}

void Win32View::Find(bool ask) {
  if (ask || find_text_.empty()) {
    std::string text = find_text_;
    if (DialogBoxParamA(static_cast<HINSTANCE>(hInst), MAKEINTRESOURCEA(IDD_FIND), hwnd_, FindProc,
                        reinterpret_cast<LPARAM>(&text)) != 1)
      return;
    find_text_ = text;
  }
  const int row = model_.Find(find_text_, SelectedRow());
  if (row < 0) {
    MessageBeep(MB_ICONINFORMATION);
    SetStatusText(2, ("Not found: " + find_text_).c_str());
    return;
  }
  SelectOnly(row);
  SetFocus(list_);
}

void Win32View::Export() {
  char file[MAX_PATH] = "Quorvix rows.csv";
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = "CSV (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrDefExt = "csv";
  ofn.lpstrTitle = "Export visible rows";
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameA(&ofn)) return;
  const std::string csv = model_.Csv();
  std::FILE* f = std::fopen(file, "wb");
  bool ok = f != nullptr;
  if (f) {
    ok = std::fwrite(csv.data(), 1, csv.size(), f) == csv.size();
    ok = std::fclose(f) == 0 && ok;
  }
  if (!ok) {
    char text[MAX_PATH + 128];
    std::snprintf(text, sizeof text, "The rows could not be written to %s (error %lu).", file,
                  GetLastError());
    MessageBoxA(hwnd_, text, "Export", MB_OK | MB_ICONSTOP);
    return;
  }
  char done[MAX_PATH + 64];
  std::snprintf(done, sizeof done, "Exported %d rows to %s", model_.Count(), file);
  SetStatusText(2, done);
}

bool Win32View::OnListCommand(int id, int code, HWND from) {
  if (from != nullptr && from == filter_) {
    if (code == EN_CHANGE && !g_setting_filter_text) {
      model_.SetFilter(-1, WindowText(filter_));
      OnListRefresh();
    }
    return true;
  }
  switch (id) {
    case IDM_COPY:
      CopyRows(false);
      return true;
    case IDM_COPY_PATH:
      CopyRows(true);
      return true;
    case IDM_FILTER_VALUE: {
      if (menu_row_ < 0 || menu_column_ < 0) return true;
      const std::string value = menu_value_;
      g_setting_filter_text = true;
      SetWindowTextA(filter_, value.c_str());
      g_setting_filter_text = false;
      model_.SetFilter(menu_column_, value);
      OnListRefresh();
      return true;
    }
    case IDM_FILTER_CLEAR:
      g_setting_filter_text = true;
      SetWindowTextA(filter_, "");
      g_setting_filter_text = false;
      model_.SetFilter(-1, "");
      OnListRefresh();
      return true;
    case IDM_FIND:
      Find(true);
      return true;
    case IDM_FIND_NEXT:
      Find(false);
      return true;
    case IDM_EXPORT:
      Export();
      return true;
    default:
      return false;
  }
}

void Win32View::RestoreLayout() {
  const std::string ini = IniPath();
  if (ini.empty()) return;
  char text[512] = {};
  platform().GetProfileString(kLayoutSection, "ColumnWidths", "", text, sizeof text, ini);
  int widths[kListColumns];
  int n = 0;
  for (const char* p = text; *p && n < kListColumns;) {
    char* end = nullptr;
    const long w = std::strtol(p, &end, 10);
    if (end == p || w < 0 || w > 4000) break;
    widths[n++] = static_cast<int>(w);
    p = *end == ',' ? end + 1 : end;
  }
  if (n == kListColumns) {
    for (int c = 0; c < kListColumns; ++c) SendMessageA(list_, LVM_SETCOLUMNWIDTH, c, widths[c]);
    widths_fitted_ = true;
  }
  const int x = platform().GetProfileInt(kLayoutSection, "Left", INT32_MIN, ini);
  const int y = platform().GetProfileInt(kLayoutSection, "Top", INT32_MIN, ini);
  const int w = platform().GetProfileInt(kLayoutSection, "Width", 0, ini);
  const int h = platform().GetProfileInt(kLayoutSection, "Height", 0, ini);
  if (x != INT32_MIN && y != INT32_MIN && w >= 200 && h >= 150) {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(hwnd_, &wp);
    wp.rcNormalPosition = RECT{x, y, x + w, y + h};
    wp.showCmd = IsWindowVisible(hwnd_) ? SW_SHOWNORMAL : SW_HIDE;
    SetWindowPlacement(hwnd_, &wp);
  }
}

void Win32View::SaveLayout() {
  const std::string ini = IniPath();
  if (ini.empty() || !list_) return;
  std::string widths;
  for (int c = 0; c < kListColumns; ++c) {
    if (c) widths += ',';
    widths += std::to_string(SendMessageA(list_, LVM_GETCOLUMNWIDTH, c, 0));
  }
  platform().WriteProfileString(kLayoutSection, "ColumnWidths", widths, ini);
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(hwnd_, &wp)) return;
  const RECT& r = wp.rcNormalPosition;
  platform().WriteProfileString(kLayoutSection, "Left", std::to_string(r.left), ini);
  platform().WriteProfileString(kLayoutSection, "Top", std::to_string(r.top), ini);
  platform().WriteProfileString(kLayoutSection, "Width", std::to_string(r.right - r.left), ini);
  platform().WriteProfileString(kLayoutSection, "Height", std::to_string(r.bottom - r.top), ini);
}

}  // namespace qvx
