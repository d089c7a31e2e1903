// The main window of Quorvix.exe: its dialog procedure and the view it drives. WinMain and any
// other host (a benchmark of the list) start it the same way.
#pragma once

#include <windows.h>

#include "app/win32/win32_view.h"

namespace qvx {

// The view of the one main window.
Win32View& QVX_MainView();

// Runs the main window (dialog IDD_MAIN) until it ends; QVX_StartUp has run. With
// start_capture the window starts capture as soon as it is up (a replay).
void QVX_RunMainWindow(HINSTANCE instance, bool start_capture);

}  // namespace qvx
