// Quorvix.exe: the entry point.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/win32/main_window.h"
#include "base/dbglog.h"
#include "capture/capture_clock.h"
#include "capture/capture_connector.h"
#include "capture/replay.h"
#include "platform/platform.h"

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
  }
  // Live, a line carries the capture time of its request, however late it is handled.
  std::unique_ptr<qvx::CaptureClockPlatform> clock_platform;
  if (replay.empty()) {
    clock_platform = std::make_unique<qvx::CaptureClockPlatform>(&qvx::platform());
    qvx::SetPlatform(clock_platform.get());
  }

  if (!qvx::QVX_StartUp(static_cast<int>(args.size()), args.data())) return 0;
  qvx::QVX_RunMainWindow(hInstance, !replay.empty());
  return 0;
}
