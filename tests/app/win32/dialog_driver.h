// Drives a real dialog of Quorvix.exe inside the test process, as a user's clicks and keys
// arrive: the dialog is created from the program's own resources with its own procedure, shown,
// and sent the messages its controls send.
#pragma once

#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <string>

#include "base/dbglog.h"

namespace qvx::test {

inline HWND OpenDialog(int id, DLGPROC proc, LPARAM param) {
  hInst = GetModuleHandleA(nullptr);
  HWND dlg =
      CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, proc, param);
  if (dlg) {
    ShowWindow(dlg, SW_SHOW);
    SetForegroundWindow(dlg);
  }
  return dlg;
}

inline void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

inline void Click(HWND dlg, int id) {
  SendDlgItemMessageA(dlg, id, BM_CLICK, 0, 0);
  Pump();
}

inline void Command(HWND dlg, int id) {
  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  Pump();
}

inline void SetText(HWND dlg, int id, const char* text) { SetDlgItemTextA(dlg, id, text); }

inline std::string Text(HWND dlg, int id) {
  char buf[1024] = {};
  GetDlgItemTextA(dlg, id, buf, sizeof buf);
  return buf;
}

inline bool Checked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }

inline void Select(HWND dlg, int id, int index) {
  SendDlgItemMessageA(dlg, id, CB_SETCURSEL, index, 0);
}

// A modeless dialog that ended itself is hidden; one still open is visible.
// The text of a list view's cell as the control gives it (a virtual list asks its owner).
inline std::string ListCell(HWND list, int row, int column) {
  char text[1024] = {};
  LVITEMA it{};
  it.iSubItem = column;
  it.pszText = text;
  it.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&it));
  return text;
}

inline bool StillOpen(HWND dlg) { return IsWindow(dlg) && IsWindowVisible(dlg); }

}  // namespace qvx::test
