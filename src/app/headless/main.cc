// quorvix: the Linux build without a window. Monitors a Samba server's traffic live.
//
//   quorvix [--home DIR] [OPTION [KERNEL_LOG]]
//
// OPTION "SC" suppresses message boxes (here: console notices of the main window and capture
// control). SIGINT/SIGTERM end the program through the shutdown sequence; SIGHUP restarts capture.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/controller.h"
#include "app/headless/console_view.h"
#include "app/startup.h"
#include "platform/platform.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_restart = 0;

void OnStop(int) { g_stop = 1; }
void OnHangUp(int) { g_restart = 1; }

// Files that live beside the executable live in --home instead.
class HomePlatform : public qvx::PlatformWrapper {
 public:
  HomePlatform(qvx::Platform* target, std::string home)
      : PlatformWrapper(target), home_(std::move(home)) {}
  std::string ExecutablePath() override { return home_ + "/quorvix"; }

 private:
  std::string home_;
};

void Usage() {
  std::fprintf(stderr,
               "usage: quorvix [--home DIR] [OPTION [KERNEL_LOG]]\n"
               "  --home DIR   keep Quorvix.ini, Quorvix.log and QVXkernel/ in DIR\n"
               "  OPTION       SC: no message boxes\n"
               "  KERNEL_LOG   full path of the kernel log\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "quorvix: unknown option %s\n", a.c_str());
      Usage();
      return 2;
    } else {
      args.push_back(argv[i]);
    }
  }

  std::unique_ptr<HomePlatform> home_platform;
  if (!home.empty()) {
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    home_platform = std::make_unique<HomePlatform>(&qvx::NativePlatform(), home);
    qvx::SetPlatform(home_platform.get());
  }

  if (!qvx::QVX_StartUp(static_cast<int>(args.size()), args.data())) return 0;

  struct sigaction sa {};
  sa.sa_handler = OnStop;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = OnHangUp;
  sigaction(SIGHUP, &sa, nullptr);

  qvx::ConsoleView view(stdout);
  if (!qvx::QVX_OnInitDialog(view)) return 0;

  // The message loop: posted commands at once, the timer on every new wall-clock second.
  int64_t last_tick = qvx::platform().Now().t;
  for (;;) {
    int id;
    bool close = g_stop != 0;
    while (!close && view.TakeCommand(&id)) {
      if (id == qvx::ConsoleView::kCloseCommand)
        close = true;
      else
        qvx::QVX_OnCommand(id);
    }
    if (close) break;
    if (g_restart) {
      g_restart = 0;
      qvx::QVX_OnCommand(qvx::kIdmWinPcapRestart);
    }
    int64_t now = qvx::platform().Now().t;
    if (now != last_tick) {
      last_tick = now;
      qvx::QVX_OnTimer();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  qvx::QVX_OnClose();
  return 0;
}
