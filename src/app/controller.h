// The main window controller: initialisation, the one-second timer, menu commands and shutdown.
// Both shells (Win32 dialog procedure, headless loop) drive it through these calls.
#pragma once

#include "accesslog/rotation.h"
#include "base/data.h"
#include "base/view.h"

namespace qvx {

// Menu 115 command identifiers.
enum MenuId : int {
  kIdmStart = 40046,
  kIdmStop = 40023,
  kIdmWinPcapRestart = 40058,
  kIdmHostsRead = 40051,
  kIdmEnd = 40021,
  kIdmSurveillance = 40044,
  kIdmIpFilter = 40057,
  kIdmOption = 40019,
  kIdmReNew = 40049,
  kIdmLogViewer = 40033,
  kIdmTrayIconSet = 40040,
  kIdmTrayIconDel = 40041,
  kIdmTrayIconInput = 40048,
  kIdmScrollEnd = 40050,
  kIdmTopWindow = 40037,
  kIdmReference = 40042,
  kIdmUpdate = 40035,
  kIdmVersion = 40034,
};

inline constexpr int kDlgMain = 105;
inline constexpr int kDlgOption = 116;
inline constexpr int kDlgVersion = 128;
inline constexpr int kDlgSurveillance = 130;
inline constexpr int kDlgIpFilter = 135;
inline constexpr int kTimerId = 100;
inline constexpr int kTimerPeriodMs = 1000;
inline constexpr unsigned kMsgForeground = 0x8064;
inline constexpr unsigned kMsgToTray = 0x8066;

inline constexpr const char* kVersionText = "Version 1.73 FP1";
inline constexpr const char* kWindowTitle = "Quorvix Redoduza 1.73 FP1";
inline constexpr const char* kUpdatePage = "https://quorvix.example/redoduza/download";

extern DATA data;
extern void* hStatusBer;

// WM_INITDIALOG. Returns false when the program must end (the tables could not be allocated or
// the list view could not be made); the kernel log says why.
bool QVX_OnInitDialog(View& view);
// WM_TIMER, id 100: one tick at local time now.
void QVX_OnTimer();
// WM_COMMAND from menu 115.
void QVX_OnCommand(int id);
// WM_CLOSE: the shutdown sequence.
void QVX_OnClose();
// Private messages 0x8064 / 0x8066.
void QVX_OnForeground();
void QVX_OnToTray();
// Double-click on the list / "Reference": opens the selected record's path.
void QVX_OpenSelectedPath();

// Opens the access log with the shell's "open" verb, else with Notepad. The last result: 32 or
// more on success.
int QVX_OpenAccessLogFile();


}  // namespace qvx
