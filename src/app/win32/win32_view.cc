#include "app/win32/win32_view.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "app/controller.h"
#include "app/listview.h"
#include "app/tray.h"
#include "app/win32/dialogs.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "resources/resource.h"

namespace qvx {
namespace {

struct Column {
  const char* title;
  int width;
  int align;  // 0 left, 1 right
};

// Wide enough for "YYYY/MM/DD hh:mm:ss", an address and a user; the MAC and SMB columns start
// narrow and the path takes whatever width the window has left.
const Column kColumns[] = {
    {"Access Time", 135, 0}, {"Action", 55, 0},     {"TreeID", 60, 1},      {"Login Name", 90, 0},
    {"Client(IP)", 95, 0},   {"Server(IP)", 95, 0}, {"Client(MAC)", 25, 0}, {"Server(MAC)", 25, 0},
    {"SMB Cmd", 25, 0},      {"SMB Info", 25, 0},   {"Size", 60, 1},        {"Operation", 65, 0},
    {"Path", 300, 0},
};
constexpr int kPathColumn = 12;
// The narrowest the path column gets, in pixels at 96 dpi: a share folder and a file name stay
// readable however wide the fitted columns before it came out.
constexpr int kPathMinWidth = 300;

int PathMinWidth(HWND w) {
  int dpi = 96;
  if (HDC dc = GetDC(w)) {
    dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(w, dc);
  }
  return MulDiv(kPathMinWidth, dpi > 0 ? dpi : 96, 96);
}

INT_PTR CALLBACK VersionProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hDlg, 0);
    return TRUE;
  }
  return msg == WM_INITDIALOG;
}

UINT g_taskbar_created = 0;  // the shell's "TaskbarCreated" message

}  // namespace

LRESULT CALLBACK SmallIconMenuProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgTrayCallback) {
    QVX_OnTrayMouse(static_cast<unsigned>(lParam));
  } else if (message == WM_COMMAND) {
    QVX_OnTrayCommand(LOWORD(wParam));
  } else if (g_taskbar_created != 0 && message == g_taskbar_created) {
    QVX_OnTaskbarCreated();
  } else if (message == WM_CREATE) {
    g_taskbar_created = RegisterWindowMessageA("TaskbarCreated");
  } else {
    return DefWindowProcA(hWnd, message, wParam, lParam);
  }
  return 1;
}

bool Win32View::SetUpTray() {
  HINSTANCE inst = static_cast<HINSTANCE>(hInst);
  HICON icon = LoadIconA(inst, MAKEINTRESOURCEA(IDI_MAIN));
  HICON small = static_cast<HICON>(
      LoadImageA(inst, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  HMENU menu = LoadMenuA(inst, MAKEINTRESOURCEA(IDR_TRAYMENU));
  if (!icon || !small || !menu) return false;
  tray_menu_ = GetSubMenu(menu, 0);
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));

  char title[256] = {};
  char tips[256] = {};
  LoadStringA(inst, IDS_TITLE, title, sizeof title);
  LoadStringA(inst, IDS_TRAY_TIP, tips, sizeof tips);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = SmallIconMenuProc;
  wc.hInstance = inst;
  wc.hIcon = icon;
  wc.hIconSm = small;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
  wc.lpszClassName = title;
  if (!RegisterClassExA(&wc)) return false;
  tray_ = CreateWindowExA(WS_EX_TOOLWINDOW, title, tips, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 100, 100, nullptr, nullptr, inst, nullptr);
  if (!tray_) return false;
  ShowWindow(tray_, SW_HIDE);

  icon_.cbSize = sizeof icon_;
  icon_.hWnd = tray_;
  icon_.uID = 1;
  icon_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon_.uCallbackMessage = kMsgTrayCallback;
  icon_.hIcon = small;
  snprintf(icon_.szTip, sizeof icon_.szTip, "%s", tips);
  return true;
}

void Win32View::AddTrayIcon() {
  if (!tray_) return;
  // Already up: refresh it instead.
  if (!Shell_NotifyIconA(NIM_ADD, &icon_)) Shell_NotifyIconA(NIM_MODIFY, &icon_);
}

void Win32View::RemoveTrayIcon() {
  if (tray_) Shell_NotifyIconA(NIM_DELETE, &icon_);
}

void Win32View::ShowTrayMenu() {
  if (!tray_ || !tray_menu_) return;
  POINT pt;
  GetCursorPos(&pt);
  // The menu closes when the user clicks elsewhere only if its owner is in the foreground.
  SetForegroundWindow(tray_);
  TrackPopupMenu(tray_menu_, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, pt.x, pt.y, 0, tray_, nullptr);
  PostMessageA(tray_, WM_NULL, 0, 0);
}

bool Win32View::CreateListView() {
  HINSTANCE inst = static_cast<HINSTANCE>(hInst);
  // Rows are drawn from the access records when shown (LVN_GETDISPINFO): capture only appends a
  // record and posts one refresh for however many rows came meanwhile.
  list_ =
      CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "IDC_LIST_VIEW",
                      WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                          LVS_SHOWSELALWAYS,
                      0, 0, 800, 480, hwnd_, reinterpret_cast<HMENU>(IDC_LIST_VIEW), inst, nullptr);
  if (!list_) return false;
  filter_label_ =
      CreateWindowExA(0, "STATIC", "Filter:", WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE, 0, 0, 50, 22,
                      hwnd_, reinterpret_cast<HMENU>(IDC_FILTER_LABEL), inst, nullptr);
  filter_ = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 50, 0, 300, 22,
                            hwnd_, reinterpret_cast<HMENU>(IDC_FILTER_EDIT), inst, nullptr);
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(hwnd_, WM_GETFONT, 0, 0));
  if (font) {
    SendMessageA(filter_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageA(filter_label_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  DWORD ex = static_cast<DWORD>(SendMessageA(list_, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  ex |= LVS_EX_GRIDLINES | LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT;
  SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, ex);
  int i = 0;
  for (const Column& c : kColumns) {
    LVCOLUMNA col{};
    col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    col.fmt = c.align == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    col.cx = c.width;
    col.pszText = const_cast<char*>(c.title);
    col.iSubItem = i;
    SendMessageA(list_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
    ++i;
  }
  RestoreLayout();
  return true;
}

// Called from any thread: one refresh waits in the window's queue at a time.
void Win32View::Notify() {
  rows_waiting_ = true;
  if (!refresh_posted_.exchange(true)) PostMessageA(hwnd_, kMsgListRefresh, 0, 0);
}

void Win32View::InsertRow(int, const char*) { Notify(); }
void Win32View::SetCell(int, int, const char*) { Notify(); }

// Only the departed-clients rule deletes single rows: each is counted for the status bar.
void Win32View::DeleteRow(int item) {
  model_.NoteDeleted(item);
  QVX_ListCountPruned(1);
  Notify();
}
void Win32View::DropOldestRows(int n) {
  model_.NoteDropped(n);
  Notify();
}
void Win32View::DeleteAllRows() {
  model_.NoteCleared();
  Notify();
}
void Win32View::RecordsCleared() {
  model_.NoteReset();
  Notify();
}
void Win32View::MakeRowVisible(int) {
  scroll_wanted_ = true;
  Notify();
}

int Win32View::SelectedRow() {
  return static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
}

std::string Win32View::CellText(int item, int subitem) { return model_.Cell(item, subitem); }

void Win32View::CreateStatusBar() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  status_ = CreateWindowExA(
      0, STATUSCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, 0, 0, 0, 0,
      hwnd_, reinterpret_cast<HMENU>(IDC_STATUS_BAR), static_cast<HINSTANCE>(hInst), nullptr);
  hStatusBer = status_;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  LayOutStatus(rc.right - rc.left);
}

namespace {
// Where each part the program writes sits on the bar: login, LOG, then what capture does and the
// counts, and last the long text of the periodic check (part 2), which takes what is left.
constexpr int kStatusSlot[5] = {0, 1, 4, 2, 3};
}  // namespace

void Win32View::LayOutStatus(int width) {
  if (!status_) return;
  int right[5] = {100, 140, 0, 0, -1};
  right[2] = right[1] + (width > 900 ? 420 : 300);
  right[3] = right[2] + 330;
  SendMessageA(status_, SB_SETPARTS, 5, reinterpret_cast<LPARAM>(right));
}

void Win32View::SetStatusText(int part, const char* text) {
  if (part < 0 || part >= 5 || status_ == nullptr) return;
  if (GetWindowThreadProcessId(status_, nullptr) == GetCurrentThreadId()) {
    SendMessageA(status_, SB_SETTEXTA, kStatusSlot[part], reinterpret_cast<LPARAM>(text));
    return;
  }
  // Another thread (capture, the timer's work): a sent message would make it wait until the
  // window has answered. The newest text of each part waits here for the window's thread.
  {
    std::lock_guard<std::mutex> lock(status_lock_);
    status_pending_[part] = text ? text : "";
    status_changed_[part] = true;
  }
  if (!status_posted_.exchange(true)) PostMessageA(hwnd_, kMsgStatusText, 0, 0);
}

void Win32View::OnStatusText() {
  status_posted_ = false;
  std::string texts[5];
  bool changed[5] = {};
  {
    std::lock_guard<std::mutex> lock(status_lock_);
    for (int i = 0; i < 5; ++i) {
      if (!status_changed_[i]) continue;
      texts[i].swap(status_pending_[i]);
      changed[i] = true;
      status_changed_[i] = false;
    }
  }
  for (int i = 0; i < 5; ++i)
    if (changed[i])
      SendMessageA(status_, SB_SETTEXTA, kStatusSlot[i],
                   reinterpret_cast<LPARAM>(texts[i].c_str()));
}

void Win32View::SetMenuCheck(int id, bool checked) {
  CheckMenuItem(GetMenu(hwnd_), id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool Win32View::MenuChecked(int id) {
  return (GetMenuState(GetMenu(hwnd_), id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void Win32View::ShowMainWindow(bool show) {
  if (!show) {
    ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
}

bool Win32View::MainWindowVisible() { return IsWindowVisible(hwnd_) && !IsIconic(hwnd_); }
void Win32View::BringToFront() { SetForegroundWindow(hwnd_); }

void Win32View::SetTopmost(bool topmost) {
  SetWindowPos(hwnd_, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void Win32View::PostMinimizeToTray() {
  PostMessageA(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  PostMessageA(hwnd_, kMsgToTray, 0, 0);
}
void Win32View::PostCommand(int id) { PostMessageA(hwnd_, WM_COMMAND, id, 0); }
void Win32View::PostClose() { PostMessageA(hwnd_, WM_CLOSE, 0, 0); }
void Win32View::StartTimer() { SetTimer(hwnd_, kTimerId, kTimerPeriodMs, nullptr); }
void Win32View::StopTimer() { KillTimer(hwnd_, kTimerId); }
void Win32View::EndMainDialog() { EndDialog(hwnd_, 0); }

int Win32View::ShellOpen(const std::string& path) {
  return static_cast<int>(reinterpret_cast<INT_PTR>(
      ShellExecuteA(hwnd_, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL)));
}

int Win32View::RunCommand(const std::string& command_line) {
  return static_cast<int>(WinExec(command_line.c_str(), SW_SHOW));
}

std::string Win32View::AskOpenFile() {
  char file[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = "All files (*.*)\0*.*\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  return GetOpenFileNameA(&ofn) ? std::string(file) : std::string();
}

void Win32View::RunDialog(int dialog_id) {
  if (dialog_id == IDD_VERSION)
    DialogBoxParamA(static_cast<HINSTANCE>(hInst), MAKEINTRESOURCEA(IDD_VERSION), hwnd_,
                    VersionProc, 0);
  else
    QVX_RunSettingsDialog(hwnd_, dialog_id);
}

void Win32View::WaitForCaptureThread(const std::atomic<bool>& ended) {
  // Only messages sent by other threads are handled here: the capture thread's list and status
  // bar updates get through in their order, while posted commands, input and timer ticks wait in
  // the queue until the command that stops capture has returned.
  while (!ended) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void Win32View::ServeCaptureThread(const std::atomic<bool>& ended, int ms) {
  const DWORD start = GetTickCount();
  while (!ended && GetTickCount() - start < static_cast<DWORD>(ms)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

namespace {
struct OwnedDialogs {
  HWND main;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOwnedDialog(HWND w, LPARAM param) {
  auto* d = reinterpret_cast<OwnedDialogs*>(param);
  char cls[16] = {};
  if (w == d->main || !IsWindowVisible(w) || !GetClassNameA(w, cls, sizeof cls) ||
      std::strcmp(cls, "#32770") != 0)
    return TRUE;
  for (HWND o = GetWindow(w, GW_OWNER); o; o = GetWindow(o, GW_OWNER))
    if (o == d->main) {
      d->found.push_back(w);
      break;
    }
  return TRUE;
}
}  // namespace

int Win32View::CancelOwnedDialogs(int attempts) {
  OwnedDialogs d{hwnd_, {}};
  EnumThreadWindows(GetCurrentThreadId(), CollectOwnedDialog, reinterpret_cast<LPARAM>(&d));
  for (HWND w : d.found) {
    // Cancel first, so that each dialog undoes what it changed; a box without a Cancel button
    // may not take it, and is then ended with no button.
    if (attempts < 10)
      PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    else
      EndDialog(w, 0);
  }
  return static_cast<int>(d.found.size());
}

void Win32View::Resize(int width, int height) {
  constexpr int kFilterHeight = 24;
  if (filter_) {
    MoveWindow(filter_label_, 4, 1, 46, kFilterHeight - 2, TRUE);
    MoveWindow(filter_, 52, 1, width / 2 > 200 ? width / 2 : 200, kFilterHeight - 2, TRUE);
  }
  if (list_) {
    int status_height = 20;
    RECT sr;
    if (status_ && GetWindowRect(status_, &sr) && sr.bottom > sr.top)
      status_height = sr.bottom - sr.top;
    MoveWindow(list_, 0, kFilterHeight, width, height - kFilterHeight - status_height, TRUE);
    // The path column takes the width the other columns leave.
    int others = 0;
    for (int c = 0; c < kListColumns; ++c)
      if (c != kPathColumn)
        others += static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, c, 0));
    int path = width - others - GetSystemMetrics(SM_CXVSCROLL) - 4;
    const int least = PathMinWidth(list_);
    if (path < least) path = least;
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, kPathColumn, MAKELPARAM(path, 0));
  }
  LayOutStatus(width);
}

}  // namespace qvx
