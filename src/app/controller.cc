#include "app/controller.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "accesslog/access_log.h"
#include "accesslog/log_writer.h"
#include "accesslog/rotation.h"
#include "app/listview.h"
#include "app/option_dialog.h"
#include "app/tables.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_control.h"
#include "capture/capture_hooks.h"
#include "filters/exclusion.h"
#include "filters/ip_filter.h"
#include "names/hosts.h"
#include "names/nbt.h"
#include "platform/platform.h"
#include "wire/smb_command_table.h"

namespace qvx {

DATA data;
void* hStatusBer = nullptr;
std::recursive_mutex g_critSec;

namespace {

View* g_view = nullptr;
bool g_view_clear_latch = false;  // list clearing at ViewRefreshTime
bool WinPcapResetFlg = false;     // daily restart at ResetTime

void* Owner() { return g_view ? g_view->MainWindow() : nullptr; }

// ---- Jobs of the one-second timer ----

void ViewRefreshJob(const LocalTime& now) {
  if (now.minute == OptionInfo.ViewRefreshTime) {
    if (!g_view_clear_latch) {
      g_view->DeleteAllRows();
      g_view_clear_latch = true;
    }
  } else {
    g_view_clear_latch = false;
  }
}

// Stops a running capture. While it waits for the capture thread the window still answers what
// other threads send it, which may close the program: false then, and nothing more may be done.
bool StopCapture() {
  if (data.LoggingFlg == 1) QVX_Stop_Logging(data);
  return g_view != nullptr;
}

void DailyRestartJob(const LocalTime& now) {
  if (now.hour != OptionInfo.ResetTime) {
    WinPcapResetFlg = false;
    return;
  }
  if (WinPcapResetFlg) return;
  const bool running = data.LoggingFlg == 1;
  QVX_ELOG("QVX_I02-040 QVX_LogThread[%d][%ld] : QVX_StartandStop_Logging WinPcap停止\r\n");
  if (running && !StopCapture()) return;
  QVX_ELOG("QVX_I02-041 QVX_LogThread[%d][%ld] : QVX_StartandStop_Logging WinPcap起動\r\n");
  if (running) QVX_Start_Logging(data);
  g_view->DeleteAllRows();
  WinPcapResetFlg = true;
}

// ---- Menu commands ----

void OpenAccessLog() {
  const int r = QVX_OpenAccessLogFile();
  if (r >= 32) return;
  char text[128];
  std::snprintf(text, sizeof text, "ログファイルが開けません:エラー コード = %d", r);
  ScMessageBox(Owner(), text, "Error", kMbIconStop);
  QVX_ELOG("QVX_E02-012 QVX_Dlg_Proc[%d][%ld] : ログファイルが開けません:エラー コード = %d\r\n",
           r);
}

void ToggleCheck(int id) { g_view->SetMenuCheck(id, !g_view->MenuChecked(id)); }

}  // namespace

View* QVX_View() { return g_view; }

void QVX_ShowCaptureState() {
  if (!g_view) return;
  // The checks say what capture does, not what was last asked: a failed start shows Stop, and
  // so does a capture that ended on its own.
  const bool running = data.LoggingFlg == 1;
  g_view->SetMenuCheck(kIdmStart, running);
  g_view->SetMenuCheck(kIdmStop, !running);
  QVX_StatusLogFlag();
  QVX_StatusCapture();
}

int QVX_OpenAccessLogFile() {
  int r = g_view->ShellOpen(LogPathBase);
  if (r >= 32) return r;
  char cmd[600];
  std::snprintf(cmd, sizeof cmd, "NOTEPAD %s", LogPathBase);
  return g_view->RunCommand(cmd);
}

bool QVX_OnInitDialog(View& view) {
  g_view = &view;
  // A new window has not restarted capture today yet.
  WinPcapResetFlg = false;
  // 1. The debug log, created before the configuration is read.
  if (OptionInfo.NonEventWriteLogFlg != 1 && DbgLogCreate()) QVX_DBG();

  // 2-3. Version line (opens the kernel and event logs) and the "SC" option.
  nCmdLineOptSc = 0;
  DiagLogLine(DiagLog::kKernel, 0, "QVX_I02-001 QVX_Dlg_Proc[%d][%ld] : %s\r\n", __LINE__,
              platform().LastError(), kVersionText);
  DiagLogLine(DiagLog::kEvent, 0, "QVX_I02-001 QVX_Dlg_Proc[%d][%ld] : %s\r\n", __LINE__,
              platform().LastError(), kVersionText);
  if (std::strcmp(szCmdLineOpt, "SC") == 0) {
    QVX_KLOG("QVX_I02-001 QVX_Dlg_Proc[%d][%ld] : SC オプション \r\n");
    nCmdLineOptSc = 1;
  }

  // 4-5. Configuration, tables, command-table options.
  QVX_ReadOptionInfo(Owner());
  if (!QVX_AllocTables()) {
    // Running on without tables would track nothing while looking as if it worked.
    QVX_KLOG("QVX_E02-009 QVX_Dlg_Proc[%d][%ld] : 管理テーブルの確保に失敗しました。\r\n");
    QVX_FreeTables();
    ScMessageBox(Owner(),
                 "The management tables could not be allocated: the capacities in Quorvix.ini "
                 "need more memory than there is. The program ends.",
                 "Error", kMbIconStop);
    QVX_EndProgram(data);
    return false;
  }
  QVX_ApplyCommandTableOptions(OptionInfo);

  // 6. The name-query command (a failed check leaves the option on).
  QVX_NbtstatCommandCheck(Owner());

  // 7-8.
  if (nCmdLineOptSc == 1) platform().SleepMs(OptionInfo.ServiceTaskWait);
  nAccessKindFlg = (OptionInfo.SMB == 1 ? 1 : 0) + (OptionInfo.API == 1 ? 2 : 0);

  // 9. Status bar.
  view.CreateStatusBar();
  char status[64];
  std::snprintf(status, sizeof status, "Login：%lu", 0ul);
  view.SetStatusText(0, status);
  QVX_StatusLogFlag();

  // 10. Tray window.
  view.SetUpTray();

  // 11. Access log.
  QVX_AccessLogStartUp(Owner());

  // 12-13.
  view.SetMenuCheck(kIdmStop, true);
  view.SetMenuCheck(kIdmStart, false);
  StartTime = static_cast<time_t>(platform().Now().t);
  // Before the automatic address is replaced by the machine's own.
  OptionRememberConfiguredAddress(OptionInfo.IpAddress);
  QVX_Init_Dlg(view.MainWindow(), data);

  // 14. List view.
  if (!view.CreateListView()) {
    ScMessageBox(Owner(), "List display setting failure", "Error", kMbIconStop);
    QVX_KLOG("QVX_E02-004 QVX_Dlg_Proc[%d][%ld] : リスト表示設定失敗。\r\n");
    QVX_EndProgram(data);
    return false;
  }

  // 15.
  if (OptionInfo.StartTask == 1) {
    view.AddTrayIcon();
    OptionInfo.TrayIconFlg = 1;
  }

  // 16-17. The exclusion list and the IP filter of the current directory.
  const std::string cwd = platform().CurrentDirectory();
  QVX_ExclusionStartup(Owner(), cwd.c_str());
  QVX_IpFilterStartup(Owner(), cwd.c_str());

  // 18. The host file of the current directory.
  QVX_HostsReadAtStartUp(Owner());

  // 19.
  if (OptionInfo.AutoStart == 1) {
    QVX_KLOG("QVX_I02-011 QVX_Dlg_Proc[%d][%ld] : 自動起動フラグON。\r\n");
    view.PostCommand(kIdmStart);
  }

  // 20-21. The lock exists for the life of the process; the timer is the shell's.
  QVX_KLOG(
      "QVX_I02-021 QVX_Dlg_Proc[%d][%ld] : InitializeCriticalSection init START (g_critSec)\r\n");
  QVX_KLOG(
      "QVX_I02-022 QVX_Dlg_Proc[%d][%ld] : InitializeCriticalSection init END (g_critSec)\r\n");
  // The files' writer thread: capture only queues their lines (durable in batches when
  // LogFileSelect says so).
  QVX_LogWriter().Start(OptionInfo.LogFileSelect != 0);
  view.StartTimer();
  return true;
}

void QVX_OnTimer() {
  if (!g_view) return;
  LocalTime now = platform().Now();
  ViewRefreshJob(now);
  DailyRestartJob(now);
  QVX_LogRotationTick(now);
  // After the rotation job (both run on the writer, in order), so that a file it just switched
  // is not taken for a replaced one.
  QVX_LogWriter().Post([] { QVX_AccessLogCheckFile(); });
  QVX_AccessLogLossNotice(Owner());
  QVX_CaptureShowLostLines(QVX_AccessLogLinesLost());
}

void QVX_OnForeground() {
  if (g_view) g_view->BringToFront();
}

void QVX_OnToTray() {
  g_view->ShowMainWindow(false);
  g_view->AddTrayIcon();
  OptionInfo.TrayIconFlg = 1;
}

void QVX_OpenSelectedPath() {
  int row = g_view->SelectedRow();
  if (row < 0) return;
  char path[512];
  std::snprintf(path, sizeof path, "%s", g_view->CellText(row, 12).c_str());
  size_t n = std::strlen(path);
  if (n > 0 && path[n - 1] == ' ') path[n - 1] = '\0';
  g_view->ShellOpen(path);
}

void QVX_OnCommand(int id) {
  if (!g_view) return;
  switch (id) {
    // Start and Stop each do what they say: a Stop after a failed Start stays stopped, and a
    // second Start leaves a running capture alone.
    case kIdmStart:
      if (data.LoggingFlg != 1) QVX_Start_Logging(data);
      QVX_ShowCaptureState();
      break;
    case kIdmStop:
      if (StopCapture()) {
        g_view->DeleteAllRows();
        QVX_ShowCaptureState();
      }
      break;
    case kIdmWinPcapRestart: {
      // Restarts a running capture; a stopped one stays stopped.
      const bool running = data.LoggingFlg == 1;
      QVX_ELOG("QVX_I77-031 QVX_LogThread[%d][%ld] : QVX_StartandStop_Logging WinPcap停止\r\n");
      if (running && !StopCapture()) break;
      g_view->DeleteAllRows();
      QVX_ELOG("QVX_I02-032 QVX_LogThread[%d][%ld] : QVX_StartandStop_Logging WinPcap起動\r\n");
      if (running) QVX_Start_Logging(data);
      QVX_ShowCaptureState();
      break;
    }
    case kIdmHostsRead:
      QVX_HostsReadCommand(Owner(), g_view->AskOpenFile().c_str());
      break;
    case kIdmEnd:
      g_view->PostClose();
      break;
    case kIdmSurveillance:
      g_view->RunDialog(kDlgSurveillance);
      break;
    case kIdmIpFilter:
      g_view->RunDialog(kDlgIpFilter);
      break;
    case kIdmOption:
      g_view->RunDialog(kDlgOption);
      break;
    case kIdmReNew:
      QVX_ReNewIniFile(Owner(), LogPathBase);
      break;
    case kIdmLogViewer:
      OpenAccessLog();
      break;
    case kIdmTrayIconSet:
      g_view->AddTrayIcon();
      OptionInfo.TrayIconFlg = 1;
      break;
    case kIdmTrayIconDel:
      g_view->RemoveTrayIcon();
      OptionInfo.TrayIconFlg = 0;
      break;
    case kIdmTrayIconInput:
      g_view->AddTrayIcon();
      OptionInfo.TrayIconFlg = 1;
      g_view->ShowMainWindow(false);
      break;
    case kIdmScrollEnd:
      ToggleCheck(kIdmScrollEnd);
      OptionInfo.ScrollEndFlg = g_view->MenuChecked(kIdmScrollEnd) ? 1 : 0;
      break;
    case kIdmTopWindow:
      ToggleCheck(kIdmTopWindow);
      OptionInfo.TopWindowFlg = g_view->MenuChecked(kIdmTopWindow) ? 1 : 0;
      g_view->SetTopmost(OptionInfo.TopWindowFlg == 1);
      break;
    case kIdmReference:
      QVX_OpenSelectedPath();
      break;
    case kIdmUpdate:
      g_view->ShellOpen(kUpdatePage);
      break;
    case kIdmVersion:
      g_view->RunDialog(kDlgVersion);
      break;
    default:
      break;
  }
}

void QVX_OnClose() {
  if (!g_view) return;
  // 1.
  g_view->RemoveTrayIcon();
  // 2. Stops capture and joins the capture thread before anything below is freed.
  QVX_EndProgram(data);
  // The writer writes and flushes what capture queued; the access log closes after it, so no
  // line is lost.
  QVX_LogWriter().Stop();
  QVX_AccessLogClose();
  // 3-4.
  QVX_ELOG("QVX_I02-022 QVX_Dlg_Proc[%d][%ld] : KillTimer START\r\n");
  g_view->StopTimer();
  QVX_ELOG("QVX_I02-022 QVX_Dlg_Proc[%d][%ld] : KillTimer END\r\n");
  platform().SleepMs(OptionInfo.ServiceTaskWait);
  // 5.
  QVX_ELOG("QVX_I02-022 QVX_Dlg_Proc[%d][%ld] : free START\r\n");
  QVX_FreeTables();
  // 6.
  QVX_ELOG("QVX_I02-022 QVX_Dlg_Proc[%d][%ld] : DeleteCriticalSection init START\r\n");
  QVX_ELOG("QVX_I02-023 QVX_Dlg_Proc[%d][%ld] : DeleteCriticalSection init END\r\n");
  QVX_ELOG("QVX_I02-024 QVX_Dlg_Proc[%d][%ld] : CloseHandle END\r\n");
  // 7.
  DbgLogCloseAll();
  g_view = nullptr;
}

}  // namespace qvx
