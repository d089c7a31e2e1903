// Quorvix.exe: the entry point and the main window procedure.
#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <cstdlib>

#include "app/controller.h"
#include "app/dbglog.h"
#include "app/startup.h"
#include "app/win32/win32_view.h"
#include "resources/resource.h"

namespace {

qvx::Win32View g_view;

}  // namespace

INT_PTR CALLBACK QVX_Dlg_Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_INITDIALOG:
      g_view.Attach(hWnd);
      if (qvx::QVX_OnInitDialog(g_view)) {
        // The first WM_SIZE came before the list existed: fit it to the window now.
        RECT rc;
        GetClientRect(hWnd, &rc);
        g_view.Resize(rc.right - rc.left, rc.bottom - rc.top);
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
      if (hdr->hwndFrom == g_view.list() && hdr->code == NM_DBLCLK) qvx::QVX_OpenSelectedPath();
      return 0;
    }
    case WM_TIMER:
      if (wParam == static_cast<WPARAM>(qvx::kTimerId)) qvx::QVX_OnTimer();
      return 0;
    case WM_COMMAND:
      qvx::QVX_OnCommand(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
    case 0x12:  // WM_QUIT posted to the dialog
      qvx::QVX_OnClose();
      return 1;
    default:
      if (uMsg == qvx::kMsgForeground) {
        SetForegroundWindow(hWnd);
      } else if (uMsg == qvx::kMsgToTray) {
        qvx::QVX_OnToTray();
      }
      return 0;
  }
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
  qvx::hInst = hInstance;
  // __argv holds the ANSI arguments; argument 1 is the option, argument 2 the kernel log.
  if (!qvx::QVX_StartUp(__argc - 1, const_cast<const char* const*>(__argv + 1))) return 0;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QVX_Dlg_Proc, 0);
  return 0;
}
