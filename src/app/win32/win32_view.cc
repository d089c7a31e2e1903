#include "app/win32/win32_view.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include "app/controller.h"
#include "app/dbglog.h"
#include "app/win32/dialogs.h"
#include "resources/resource.h"

namespace qvx {
namespace {

struct Column {
  const char* title;
  int width;
  int align;  // 0 left, 1 right
};

const Column kColumns[] = {
    {"Access Time", 120, 0}, {"Action", 80, 0},     {"TreeID", 60, 1},      {"Login Name", 80, 0},
    {"Client(IP)", 80, 0},   {"Server(IP)", 80, 0}, {"Client(MAC)", 25, 0}, {"Server(MAC)", 25, 0},
    {"SMB Cmd", 25, 0},      {"SMB Info", 25, 0},   {"Size", 60, 1},        {"Operation", 45, 0},
    {"Path", 170, 0},
};

INT_PTR CALLBACK VersionProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hDlg, 0);
    return TRUE;
  }
  return msg == WM_INITDIALOG;
}

}  // namespace

bool Win32View::CreateListView() {
  list_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "IDC_LIST_VIEW",
                          WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_AUTOARRANGE, 0, 0,
                          800, 480, hwnd_, reinterpret_cast<HMENU>(IDC_LIST_VIEW),
                          static_cast<HINSTANCE>(hInst), nullptr);
  if (!list_) return false;
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
  return true;
}

void Win32View::InsertRow(int item, const char* text) {
  LVITEMA it{};
  it.mask = LVIF_TEXT | LVIF_PARAM;
  it.iItem = item;
  it.pszText = const_cast<char*>(text);
  it.lParam = item;
  SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

void Win32View::SetCell(int item, int subitem, const char* text) {
  LVITEMA it{};
  it.mask = LVIF_TEXT;
  it.iItem = item;
  it.iSubItem = subitem;
  it.pszText = const_cast<char*>(text);
  SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

void Win32View::DeleteRow(int item) { SendMessageA(list_, LVM_DELETEITEM, item, 0); }
void Win32View::DeleteAllRows() { SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0); }
void Win32View::MakeRowVisible(int item) { SendMessageA(list_, LVM_ENSUREVISIBLE, item, FALSE); }

int Win32View::SelectedRow() {
  return static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, -1, LVNI_SELECTED));
}

std::string Win32View::CellText(int item, int subitem) {
  char buf[512] = {};
  LVITEMA it{};
  it.iSubItem = subitem;
  it.pszText = buf;
  it.cchTextMax = sizeof buf;
  SendMessageA(list_, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&it));
  return buf;
}

void Win32View::CreateStatusBar() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  status_ = CreateWindowExA(
      0, STATUSCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, 0, 0, 0, 0,
      hwnd_, reinterpret_cast<HMENU>(IDC_STATUS_BAR), static_cast<HINSTANCE>(hInst), nullptr);
  hStatusBer = status_;
  int parts[3] = {100, 135, 1024};
  SendMessageA(status_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
}

void Win32View::SetStatusText(int part, const char* text) {
  SendMessageA(status_, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text));
}

void Win32View::SetMenuCheck(int id, bool checked) {
  CheckMenuItem(GetMenu(hwnd_), id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool Win32View::MenuChecked(int id) {
  return (GetMenuState(GetMenu(hwnd_), id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void Win32View::ShowMainWindow(bool show) { ShowWindow(hwnd_, show ? SW_SHOW : SW_HIDE); }
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

void Win32View::Resize(int width, int height) {
  if (list_) MoveWindow(list_, 0, 0, width, height - 20, TRUE);
}

}  // namespace qvx
