// The main window's procedure: the list, the status bar and the menu commands of Quorvix.exe.
#include "app/win32/main_window.h"

#include <commctrl.h>

#include "accesslog/log_writer.h"
#include "app/controller.h"
#include "resources/resource.h"

namespace qvx {

namespace {

Win32View g_view;
bool g_start_capture = false;

INT_PTR CALLBACK QVX_Dlg_Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_INITDIALOG:
      g_view.Attach(hWnd);
      if (QVX_OnInitDialog(g_view)) {
        // The first WM_SIZE came before the list existed: fit it to the window now.
        RECT rc;
        GetClientRect(hWnd, &rc);
        g_view.Resize(rc.right - rc.left, rc.bottom - rc.top);
        // A replay starts at once; its rows stay in the window after the file's end.
        if (g_start_capture) g_view.PostCommand(kIdmStart);
      }
      return 0;
    case WM_SIZE:
      g_view.Resize(LOWORD(lParam), HIWORD(lParam));
      if (g_view.status()) SendMessageA(g_view.status(), WM_SIZE, wParam, lParam);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
      mmi->ptMinTrackSize.x = 0;
      mmi->ptMinTrackSize.y = 0;
      return 0;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      if (hdr->hwndFrom == g_view.list() && hdr->code == NM_DBLCLK) QVX_OpenSelectedPath();
      LRESULT result = 0;
      if (g_view.OnListNotify(hdr, &result)) {
        SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return 0;
    }
    case WM_TIMER:
      if (wParam == static_cast<WPARAM>(kTimerId)) {
        QVX_OnTimer();
        QVX_ShowCaptureState();
        // The window shows the writer's state in the status bar; the kernel log hears it too.
        QVX_LogWriterNotices();
      } else if (wParam == static_cast<WPARAM>(kListRefreshTimerId)) {
        g_view.OnListRefreshGapEnd();
      }
      return 0;
    case WM_COMMAND:
      if (!g_view.OnListCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
        QVX_OnCommand(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
    case 0x12: {  // WM_QUIT posted to the dialog
      // A dialog of the window (Find, Export, a message box, the settings) runs its own loop
      // inside the window's: the window cannot end before it does. Each is cancelled and the
      // close comes again once their loops have returned.
      static int attempts = 0;
      if (g_view.CancelOwnedDialogs(attempts) > 0) {
        ++attempts;
        PostMessageA(hWnd, uMsg, wParam, lParam);
        return 1;
      }
      attempts = 0;
      g_view.SaveLayout();
      QVX_OnClose();
      return 1;
    }
    default:
      if (uMsg == kMsgListRefresh) {
        g_view.OnListRefreshPosted();
      } else if (uMsg == kMsgStatusText) {
        g_view.OnStatusText();
      } else if (uMsg == kMsgForeground) {
        SetForegroundWindow(hWnd);
      } else if (uMsg == kMsgToTray) {
        QVX_OnToTray();
      }
      return 0;
  }
}

}  // namespace

Win32View& QVX_MainView() { return g_view; }

void QVX_RunMainWindow(HINSTANCE instance, bool start_capture) {
  g_start_capture = start_capture;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QVX_Dlg_Proc, 0);
}

}  // namespace qvx
