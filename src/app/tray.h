// The tray window's handlers: its mouse callback, its pop-up menu (menu 124) and the shell's
// restart. The Win32 shell's window procedure forwards to these; tests drive them directly.
#pragma once

namespace qvx {

// Tray menu 124 command identifiers.
enum TrayMenuId : int {
  kIdmTrayOption = 40026,
  kIdmTrayWindowUp = 40028,
  kIdmTrayWindowDown = 40031,
  kIdmTrayEnd = 40045,
  kIdmTrayLogViewer = 40052,
};

inline constexpr unsigned kMsgTrayCallback = 0x8065;
// The mouse messages the callback carries in lParam.
inline constexpr unsigned kTrayLButtonDblClk = 0x0203;
inline constexpr unsigned kTrayRButtonDown = 0x0204;

// Callback 0x8065: right button down shows the menu; a left double click shows the main window
// when it is hidden and hides it when it is shown.
void QVX_OnTrayMouse(unsigned mouse_message);
// WM_COMMAND from the tray menu.
void QVX_OnTrayCommand(int id);
// The shell ("TaskbarCreated") was restarted: the icon comes back if it was up.
void QVX_OnTaskbarCreated();

}  // namespace qvx
