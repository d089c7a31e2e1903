#include "app/tray.h"

#include <cstdio>

#include "app/controller.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "platform/platform.h"

namespace qvx {

namespace {

void ShowMainWindow(View& view) {
  view.ShowMainWindow(true);
  view.BringToFront();
}

}  // namespace

void QVX_OnTrayMouse(unsigned mouse_message) {
  View* view = QVX_View();
  if (!view) return;
  if (mouse_message == kTrayRButtonDown) {
    view->ShowTrayMenu();
  } else if (mouse_message == kTrayLButtonDblClk) {
    // By what the window is now, not by a flag: "Window Down", the hide command and the capture
    // thread's hide all leave a window that a double click brings back.
    if (view->MainWindowVisible()) {
      view->ShowMainWindow(false);
    } else {
      view->AddTrayIcon();
      ShowMainWindow(*view);
    }
  }
}

void QVX_OnTrayCommand(int id) {
  View* view = QVX_View();
  if (!view) return;
  switch (id) {
    case kIdmTrayOption:
      view->RunDialog(kDlgOption);
      break;
    case kIdmTrayWindowUp:
      view->AddTrayIcon();
      ShowMainWindow(*view);
      break;
    case kIdmTrayWindowDown:
      view->ShowMainWindow(false);
      break;
    case kIdmTrayEnd:
      view->PostClose();
      break;
    case kIdmTrayLogViewer: {
      const int r = QVX_OpenAccessLogFile();
      if (r >= 32) break;
      char text[64];
      std::snprintf(text, sizeof text, "A log file does not open.:Error Code=%d", r);
      ScMessageBox(view->MainWindow(), text, "Error", kMbOk);
      QVX_KLOG(
          "QVX_E14-001 SmallIconMenuProc[%d][%ld] : ログファイルが開けません:エラー コード = "
          "%d\r\n",
          r);
      break;
    }
    default:
      break;
  }
}

void QVX_OnTaskbarCreated() {
  View* view = QVX_View();
  if (view && OptionInfo.TrayIconFlg == 1) view->AddTrayIcon();
}

}  // namespace qvx
