// The exclusion-list and IP-filter dialogs: lists 130/135 and entries 118/136. The lists edit a
// copy of their table and swap it in after every change, so capture uses each change at once.
#include <windows.h>
// windows.h first
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/win32/dialogs.h"
#include "base/dbglog.h"
#include "base/text.h"
#include "filters/filter_edit.h"
#include "platform/platform.h"
#include "resources/resource.h"

namespace qvx {

namespace {

struct Column {
  const char* title;
  int width;
};
const Column kExclusionColumns[] = {{"No.", 30},
                                    {"State", 40},
                                    {"Surveillance conditions", 80},
                                    {"Term of validity", 120},
                                    {"Useful range", 80},
                                    {"Monitor path", 280}};
const Column kIpColumns[] = {{"No.", 30},
                             {"State", 40},
                             {"Surveillance conditions", 80},
                             {"Term of validity", 120},
                             {"IPaddres", 180}};

// One list dialog's state. Only one of each is open at a time (they are modal).
struct ListDialog {
  FilterKind kind;
  const Column* columns;
  int ncolumns;
  const char* list_name;
  int list_id;
  int entry_dialog;
  DLGPROC entry_proc;
  void** view;  // where the context record keeps the list's handle
  FilterTable table;
  HWND list;
  FilterTable opened{};  // the table in force when the dialog opened, put back by Cancel
};
ListDialog g_exclusion{FilterKind::kExclusion,
                       kExclusionColumns,
                       6,
                       "IDC_USRLIST",
                       IDC_USRLIST,
                       IDD_NORINFO_SET,
                       NorInfoSetDlg,
                       &data.hExclusionListView,
                       {},
                       nullptr};
ListDialog g_ip{FilterKind::kIpAddress,
                kIpColumns,
                5,
                "IDC_USRLIST2",
                IDC_USRLIST2,
                IDD_IPFILTER_SET,
                IP_FilterSetDlg,
                &data.hIpFilterListView,
                {},
                nullptr};

// What an entry dialog appends to.
FilterTable* g_entry_table = nullptr;

std::string ItemText(HWND hDlg, int id) {
  char buf[1024] = {};
  GetDlgItemTextA(hDlg, id, buf, sizeof buf);
  return buf;
}

void Caution(HWND hDlg, const std::string& text) {
  platform().ShowMessageBox(hDlg, text, "Cautions", MB_ICONEXCLAMATION);
}

void ShowRows(ListDialog& d) {
  SendMessageA(d.list, LVM_DELETEALLITEMS, 0, 0);
  for (int i = 0; i < d.table.No; ++i) {
    std::vector<std::string> cells = FilterRowTexts(d.kind, d.table, i);
    LVITEMA it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = i;
    it.lParam = i;
    it.pszText = const_cast<char*>(cells[0].c_str());
    SendMessageA(d.list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
    for (size_t c = 1; c < cells.size(); ++c) {
      LVITEMA sub{};
      sub.iSubItem = static_cast<int>(c);
      sub.pszText = const_cast<char*>(cells[c].c_str());
      SendMessageA(d.list, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&sub));
    }
  }
  // Each column as wide as given, or wider where its title or a cell would be cut.
  for (int c = 0; c < d.ncolumns; ++c) {
    SendMessageA(d.list, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE_USEHEADER);
    const LRESULT title = SendMessageA(d.list, LVM_GETSTRINGWIDTHA, 0,
                                       reinterpret_cast<LPARAM>(d.columns[c].title)) +
                          16;  // the header's margins
    LRESULT width = SendMessageA(d.list, LVM_GETCOLUMNWIDTH, c, 0);
    if (width < title) width = title;
    if (width < d.columns[c].width) width = d.columns[c].width;
    SendMessageA(d.list, LVM_SETCOLUMNWIDTH, c, width);
  }
}

void ShowMenu(HWND hDlg, const ListDialog& d) {
  HMENU menu = GetMenu(hDlg);
  auto enable = [&](int id, bool on) {
    EnableMenuItem(menu, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  };
  enable(IDM_FILTER_ADD, d.table.No < kFilterEntries);
  for (int id : {IDM_FILTER_DEL, IDM_FILTER_ENABLE, IDM_FILTER_DISABLE}) enable(id, d.table.No > 0);
  DrawMenuBar(hDlg);
}

// The edited copy goes into force and on screen.
void Changed(HWND hDlg, ListDialog& d) {
  FilterTableSwapIn(d.kind, d.table);
  ShowRows(d);
  ShowMenu(hDlg, d);
}

std::vector<int> SelectedRows(HWND list) {
  std::vector<int> rows;
  for (int i = -1;
       (i = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;)
    rows.push_back(i);
  return rows;
}

void InitList(HWND hDlg, ListDialog& d) {
  FilterTableGet(d.kind, &d.table);
  d.opened = d.table;
  RECT rc;
  GetClientRect(hDlg, &rc);
  // The list fills the dialog above its OK button.
  const int height = rc.bottom - 30;
  d.list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, d.list_name,
                           WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_AUTOARRANGE, 0, 0,
                           rc.right, height > 190 ? height : 190, hDlg,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(d.list_id)),
                           static_cast<HINSTANCE>(hInst), nullptr);
  LRESULT ex = SendMessageA(d.list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
  ex |= LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;
  SendMessageA(d.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, ex);
  for (int i = 0; i < d.ncolumns; ++i) {
    LVCOLUMNA col{};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = LVCFMT_LEFT;
    col.cx = d.columns[i].width;
    col.pszText = const_cast<char*>(d.columns[i].title);
    col.iSubItem = i;
    SendMessageA(d.list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
  }
  *d.view = d.list;
  ShowRows(d);
  ShowMenu(hDlg, d);
}

INT_PTR ListProc(ListDialog& d, HWND hDlg, UINT message, WPARAM wParam) {
  if (message == WM_INITDIALOG) {
    InitList(hDlg, d);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDM_FILTER_ADD:
      if (d.table.No >= kFilterEntries) return TRUE;
      if (DialogBoxParamA(static_cast<HINSTANCE>(hInst), MAKEINTRESOURCEA(d.entry_dialog), hDlg,
                          d.entry_proc, reinterpret_cast<LPARAM>(&d.table)) == 0)
        Changed(hDlg, d);
      return TRUE;
    case IDM_FILTER_DEL:
      FilterDeleteRows(&d.table, SelectedRows(d.list));
      Changed(hDlg, d);
      return TRUE;
    case IDM_FILTER_ENABLE:
    case IDM_FILTER_DISABLE:
      FilterSetValid(d.kind, &d.table, SelectedRows(d.list), LOWORD(wParam) == IDM_FILTER_ENABLE);
      Changed(hDlg, d);
      return TRUE;
    case IDOK:
      if (!FilterTableSave(d.kind, d.table, FilterFilePath(d.kind))) {
        platform().ShowMessageBox(hDlg, "Preservation of information went wrong.", "ERROR",
                                  MB_ICONSTOP);
        return TRUE;
      }
      EndDialog(hDlg, 0);
      return TRUE;
    case IDCANCEL:
      // Escape or the close box: every change since the dialog opened is undone. A change left in
      // force but never saved would filter until the next start, and then silently no more.
      FilterTableSwapIn(d.kind, d.opened);
      EndDialog(hDlg, 1);
      return TRUE;
    default:
      return FALSE;
  }
}

const int kDateBoxes[6] = {IDC_SET_S_YEAR, IDC_SET_S_MON, IDC_SET_S_DAY,
                           IDC_SET_E_YEAR, IDC_SET_E_MON, IDC_SET_E_DAY};
const int kOctets[4] = {IDC_SET_OCTET1, IDC_SET_OCTET2, IDC_SET_OCTET3, IDC_SET_OCTET4};

void EnableTerm(HWND hDlg, bool on) {
  for (int id : kDateBoxes) EnableWindow(GetDlgItem(hDlg, id), on);
}

// Years are listed from 2007 to ten years ahead, and any other four-digit year may be typed.
void InitEntry(HWND hDlg, LPARAM lParam) {
  g_entry_table = reinterpret_cast<FilterTable*>(lParam);
  CheckRadioButton(hDlg, IDC_SET_INDEFINITE, IDC_SET_TERM, IDC_SET_INDEFINITE);
  CheckRadioButton(hDlg, IDC_SET_EXCLUSION, IDC_SET_SURVEILLANCE, IDC_SET_EXCLUSION);
  const LocalTime now = platform().Now();
  for (int b = 0; b < 2; ++b) {
    HWND year = GetDlgItem(hDlg, kDateBoxes[b * 3]);
    HWND mon = GetDlgItem(hDlg, kDateBoxes[b * 3 + 1]);
    HWND day = GetDlgItem(hDlg, kDateBoxes[b * 3 + 2]);
    SendMessageA(year, CB_LIMITTEXT, 4, 0);
    for (int y = 2007; y <= now.year + 10; ++y)
      SendMessageA(year, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(y).c_str()));
    for (int m = 1; m <= 12; ++m)
      SendMessageA(mon, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(m).c_str()));
    for (int d = 1; d <= 31; ++d)
      SendMessageA(day, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(d).c_str()));
    SetWindowTextA(year, std::to_string(now.year).c_str());
    SendMessageA(year, CB_SETCURSEL, now.year - 2007, 0);
    SendMessageA(mon, CB_SETCURSEL, now.month - 1, 0);
    SendMessageA(day, CB_SETCURSEL, now.day - 1, 0);
  }
  EnableTerm(hDlg, false);
  SendDlgItemMessageA(hDlg, IDC_SET_PATH, EM_LIMITTEXT, 258, 0);
  for (int id : kOctets) SendDlgItemMessageA(hDlg, id, EM_LIMITTEXT, 3, 0);
}

FilterEntryFields EntryFields(HWND hDlg) {
  FilterEntryFields f;
  f.term = IsDlgButtonChecked(hDlg, IDC_SET_TERM) == BST_CHECKED;
  std::string* dates[6] = {&f.sYear, &f.sMon, &f.sDay, &f.eYear, &f.eMon, &f.eDay};
  for (int i = 0; i < 6; ++i) *dates[i] = ItemText(hDlg, kDateBoxes[i]);
  f.KanshiJogaiInfoFlg = IsDlgButtonChecked(hDlg, IDC_SET_SURVEILLANCE) == BST_CHECKED ? 1 : 0;
  return f;
}

INT_PTR EntryProc(FilterKind kind, HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitEntry(hDlg, lParam);
      return TRUE;
    case WM_COMMAND:
      break;
    default:
      return FALSE;
  }
  switch (LOWORD(wParam)) {
    case IDC_SET_TERM:
    case IDC_SET_INDEFINITE:
      EnableTerm(hDlg, IsDlgButtonChecked(hDlg, IDC_SET_TERM) == BST_CHECKED);
      return TRUE;
    case IDC_SET_BROWSE: {
      char folder[MAX_PATH];
      if (GetOpenFolderName(hDlg, "c:\\", folder, sizeof folder) == 0) {
        std::string path = folder;
        if (path.empty() || path.back() != '\\') path += '\\';
        SetDlgItemTextA(hDlg, IDC_SET_PATH, path.c_str());
      }
      return TRUE;
    }
    case IDOK: {
      FilterEntryFields f = EntryFields(hDlg);
      if (kind == FilterKind::kExclusion) {
        f.path = ItemText(hDlg, IDC_SET_PATH);
      } else {
        for (int i = 0; i < 4; ++i) f.octet[i] = ItemText(hDlg, kOctets[i]);
      }
      const std::string refused = FilterEntryCheck(kind, f);
      if (!refused.empty()) {
        Caution(hDlg, refused);
        return TRUE;
      }
      if (kind == FilterKind::kExclusion && platform().IsDirectory(f.path)) {
        const INT_PTR match =
            DialogBoxParamA(static_cast<HINSTANCE>(hInst), MAKEINTRESOURCEA(IDD_NORINFO_CHK), hDlg,
                            NorInfoChkDlg, 0);
        if (match != 1 && match != 2) return TRUE;  // condition dialog closed: nothing added
        f.MatchKind = static_cast<int>(match);
      }
      if (g_entry_table == nullptr || !FilterEntryAppend(kind, g_entry_table, f)) {
        Caution(hDlg, "The list holds 20 entries already.");
        return TRUE;
      }
      EndDialog(hDlg, 0);
      return TRUE;
    }
    case IDCANCEL:
      EndDialog(hDlg, 1);
      return TRUE;
    default:
      return FALSE;
  }
}

int CALLBACK SHBrowseProc(HWND hWnd, UINT uMsg, LPARAM, LPARAM lpData) {
  if (uMsg == BFFM_INITIALIZED) SendMessageA(hWnd, BFFM_SETSELECTIONA, TRUE, lpData);
  return 0;
}

}  // namespace

INT_PTR CALLBACK NorInfoDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
  return ListProc(g_exclusion, hDlg, message, wParam);
}

INT_PTR CALLBACK IP_FilterDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
  return ListProc(g_ip, hDlg, message, wParam);
}

INT_PTR CALLBACK NorInfoSetDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
  return EntryProc(FilterKind::kExclusion, hDlg, message, wParam, lParam);
}

INT_PTR CALLBACK IP_FilterSetDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
  return EntryProc(FilterKind::kIpAddress, hDlg, message, wParam, lParam);
}

INT_PTR CALLBACK NorInfoChkDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    CheckRadioButton(hDlg, IDC_CHK_FOLDER_ONLY, IDC_CHK_FOLDER_BELOW, IDC_CHK_FOLDER_ONLY);
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDOK) {
    EndDialog(hDlg, IsDlgButtonChecked(hDlg, IDC_CHK_FOLDER_BELOW) == BST_CHECKED ? 2 : 1);
    return TRUE;
  }
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(hDlg, 0);
    return TRUE;
  }
  return FALSE;
}

int GetOpenFolderName(HWND hWnd, const char* lpszDefaultFolder, char* lpszBuffer,
                      DWORD dwBufferSize) {
  BROWSEINFOA bi{};
  char name[MAX_PATH] = {};
  bi.hwndOwner = hWnd;
  bi.pszDisplayName = name;
  bi.lpszTitle = "フォルダを選択してください";
  bi.ulFlags = BIF_RETURNONLYFSDIRS;
  bi.lpfn = SHBrowseProc;
  bi.lParam = reinterpret_cast<LPARAM>(lpszDefaultFolder);
  LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
  if (pidl == nullptr) return -1;
  char path[MAX_PATH] = {};
  const bool ok = SHGetPathFromIDListA(pidl, path);
  CoTaskMemFree(pidl);
  if (!ok || std::strlen(path) >= dwBufferSize) return -1;
  CopyText(lpszBuffer, dwBufferSize, path);
  return 0;
}

bool QVX_RunSettingsDialog(HWND owner, int dialog_id) {
  DLGPROC proc = dialog_id == IDD_OPTION     ? OptionDlg
                 : dialog_id == IDD_NORINFO  ? NorInfoDlg
                 : dialog_id == IDD_IPFILTER ? IP_FilterDlg
                                             : nullptr;
  if (proc == nullptr) return false;
  DialogBoxParamA(static_cast<HINSTANCE>(hInst), MAKEINTRESOURCEA(dialog_id), owner, proc,
                  reinterpret_cast<LPARAM>(&data));
  return true;
}

}  // namespace qvx
