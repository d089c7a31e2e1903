// Quorvix.exe: the entry point and the main window procedure.
#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/startup.h"
#include "app/win32/win32_view.h"
#include "base/dbglog.h"
#include "capture/capture_clock.h"
#include "capture/capture_connector.h"
#include "capture/replay.h"
#include "platform/platform.h"
#include "resources/resource.h"

namespace {

qvx::Win32View g_view;
bool g_replay = false;

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
        // A replay starts at once; its rows stay in the window after the file's end.
        if (g_replay) g_view.PostCommand(qvx::kIdmStart);
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
      LRESULT result = 0;
      if (g_view.OnListNotify(hdr, &result)) {
        SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return 0;
    }
    case WM_TIMER:
      if (wParam == static_cast<WPARAM>(qvx::kTimerId)) {
        qvx::QVX_OnTimer();
        qvx::QVX_ShowCaptureState();
      }
      return 0;
    case WM_COMMAND:
      if (!g_view.OnListCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)))
        qvx::QVX_OnCommand(LOWORD(wParam));
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
      qvx::QVX_OnClose();
      return 1;
    }
    default:
      if (uMsg == qvx::kMsgListRefresh) {
        g_view.OnListRefresh();
      } else if (uMsg == qvx::kMsgForeground) {
        SetForegroundWindow(hWnd);
      } else if (uMsg == qvx::kMsgToTray) {
        qvx::QVX_OnToTray();
      }
      return 0;
  }
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
  qvx::hInst = hInstance;
  // __argv holds the ANSI arguments: "--replay FILE" first, then the option and the kernel log.
  std::vector<const char*> args;
  std::string replay;
  for (int i = 1; i < __argc; ++i) {
    if (args.empty() && std::string(__argv[i]) == "--replay" && i + 1 < __argc)
      replay = __argv[++i];
    else
      args.push_back(__argv[i]);
  }

  // Replay: the capture file instead of an adapter, its times as the clock, its server as the
  // machine's address.
  std::unique_ptr<qvx::ReplayPlatform> replay_platform;
  if (!replay.empty()) {
    qvx::ReplayStart start;
    std::string error;
    if (!qvx::ReplayFindStart(replay, &start, &error)) {
      char text[1024];
      std::snprintf(text, sizeof text, "The capture file %s cannot be read: %s", replay.c_str(),
                    error.c_str());
      MessageBoxA(nullptr, text, "Quorvix Redoduza", MB_OK | MB_ICONSTOP);
      return 1;
    }
    replay_platform = std::make_unique<qvx::ReplayPlatform>(
        &qvx::platform(), std::move(start), &qvx::CaptureConnections(), std::string(), false);
    qvx::SetPlatform(replay_platform.get());
    qvx::SetCaptureConnector(&qvx::ReplayConnector(replay));
    g_replay = true;
  }
  // Live, a line carries the capture time of its request, however late it is handled.
  std::unique_ptr<qvx::CaptureClockPlatform> clock_platform;
  if (replay.empty()) {
    clock_platform = std::make_unique<qvx::CaptureClockPlatform>(&qvx::platform());
    qvx::SetPlatform(clock_platform.get());
  }

  if (!qvx::QVX_StartUp(static_cast<int>(args.size()), args.data())) return 0;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, QVX_Dlg_Proc, 0);
  return 0;
}
