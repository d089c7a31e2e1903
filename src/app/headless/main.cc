// quorvix: the Linux build without a window. Monitors a Samba server's traffic live.
//
//   quorvix [--config FILE] [--home DIR] [--smb-conf FILE] [--keep-trying] [OPTION [KERNEL_LOG]]
//   quorvix --replay FILE [--sessions FILE] [--config FILE] [--home DIR] [--smb-conf FILE]
//           [OPTION [KERNEL_LOG]]
//   quorvix --version | --help
//
// OPTION "SC" suppresses message boxes (here: console notices of the main window and capture
// control). SIGINT/SIGTERM end the program through the shutdown sequence; SIGHUP reopens the
// access log and the diagnostic logs under their names (after logrotate moved them away) and
// touches nothing else: capture goes on. A run that went wrong (lines lost, a log or the capture
// that could not be opened) ends with status 1 and one console line that says what.
//
// As a service it is right at its defaults: capture starts at start-up and the access log is
// written unless Quorvix.ini says otherwise (the Windows build keeps the specified defaults). An
// installed program (in /usr/sbin and the like) reads /etc/quorvix/Quorvix.ini and writes its
// logs under /var/log/quorvix; a program run where it was built keeps everything beside itself.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accesslog/access_log.h"
#include "accesslog/log_writer.h"
#include "accesslog/rotation.h"
#include "app/controller.h"
#include "app/headless/console_view.h"
#include "app/startup.h"
#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_clock.h"
#include "capture/capture_connector.h"
#include "capture/capture_control.h"
#include "capture/capture_loop.h"
#include "capture/replay.h"
#include "connector/qvx_wpcap_con.h"
#include "export/json_lines.h"
#include "export/syslog_sink.h"
#include "platform/platform.h"
#include "platform/posix/process.h"
#include "platform/posix/samba.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_reopen = 0;

void OnStop(int) { g_stop = 1; }
void OnHangUp(int) { g_reopen = 1; }

// Files that live beside the executable live in --home instead.
class HomePlatform : public qvx::PlatformWrapper {
 public:
  HomePlatform(qvx::Platform* target, std::string home)
      : PlatformWrapper(target), home_(std::move(home)) {}
  std::string ExecutablePath() override { return home_ + "/quorvix"; }

 private:
  std::string home_;
};

#ifndef QVX_PACKAGE_VERSION
#define QVX_PACKAGE_VERSION "0"
#endif

constexpr const char* kInstalledConfig = "/etc/quorvix/Quorvix.ini";
constexpr const char* kInstalledLogDir = "/var/log/quorvix";

void Usage(FILE* to) {
  std::fprintf(
      to,
      "usage: quorvix [--config FILE] [--home DIR] [--smb-conf FILE] [--keep-trying]\n"
      "               [OPTION [KERNEL_LOG]]\n"
      "       quorvix --replay FILE [--sessions FILE] [--config FILE] [--home DIR]\n"
      "               [--smb-conf FILE] [OPTION [KERNEL_LOG]]\n"
      "       quorvix --version | --help\n"
      "Audits the SMB accesses to this Samba server from its network traffic (live, through\n"
      "libpcap) or from a capture file, into a CSV access log.\n"
      "  --config FILE    the configuration to read (default: /etc/quorvix/Quorvix.ini for an\n"
      "                   installed program, else Quorvix.ini beside the program or in --home)\n"
      "  --home DIR       keep Quorvix.ini, Quorvix.log and QVXkernel/ in DIR (default:\n"
      "                   /var/log/quorvix for the logs of an installed program, else the\n"
      "                   folder of the program)\n"
      "  --smb-conf FILE  the Samba configuration the shares are read from\n"
      "                   (default /etc/samba/smb.conf)\n"
      "  --replay FILE    run on a capture file (pcap or pcapng) instead of an adapter,\n"
      "                   with the clock at each frame's time; ends at its end\n"
      "  --sessions FILE  replay: the server's sessions from this smbstatus -j output\n"
      "                   (default: from the connections in the capture)\n"
      "  --keep-trying    live: when the capture cannot be opened, try again every\n"
      "                   10 s instead of ending with status 1\n"
      "  --version        print the version and end\n"
      "  --help, -h       print this help and end\n"
      "  OPTION           SC: no message boxes\n"
      "  KERNEL_LOG       full path of the kernel log\n"
      "Defaults of this build: AutoStart=1, LogFileWriteFlg=1. SIGHUP reopens the logs.\n"
      "See quorvix(8).\n");
}

// A program installed by the package (or by hand into a system folder) follows the file system
// hierarchy; one run where it was built keeps its files beside itself, as the Windows build.
bool InstalledProgram() {
  const std::string exe = qvx::NativePlatform().ExecutablePath();
  const size_t cut = exe.rfind('/');
  if (cut == std::string::npos) return false;
  const std::string dir = exe.substr(0, cut);
  for (const char* d :
       {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"})
    if (dir == d) return true;
  return false;
}

// The first lines of a run say what it is doing, so that a first run is never silent about it.
void TellSettings(bool replay, bool smb_conf_given) {
  char ini[512] = {};
  qvx::QVX_IniFileName(ini, sizeof ini);
  const bool there = qvx::platform().FileExists(ini);
  std::fprintf(stderr, "quorvix %s: configuration %s%s\n", QVX_PACKAGE_VERSION, ini,
               there ? "" : " (not there: every setting takes its default)");
  std::vector<qvx::ServerShare> shares;
  const bool listed = qvx::platform().ListShares(&shares);
  std::string names;
  int count = 0;
  for (const qvx::ServerShare& sh : shares) {
    if (sh.type == 3) continue;  // IPC$
    ++count;
    if (names.size() < 200) names += (names.empty() ? "" : ", ") + sh.name;
  }
  const std::string source =
      replay && !smb_conf_given ? std::string("none given (--smb-conf)") : qvx::SambaConfigPath();
  if (listed)
    std::fprintf(stderr, "quorvix: shares from %s: %d%s%s%s\n", source.c_str(), count,
                 count ? " (" : "", names.c_str(), count ? ")" : "");
  else
    std::fprintf(stderr, "quorvix: shares from %s: cannot be read (paths will be unknown)\n",
                 source.c_str());
  if (qvx::OptionInfo.LogFileWriteFlg == 1)
    std::fprintf(stderr, "quorvix: access log %s\n", qvx::OptionInfo.LogFilePath);
  else
    std::fprintf(stderr, "quorvix: access log off (LogFileWriteFlg=%d in %s)\n",
                 qvx::OptionInfo.LogFileWriteFlg, ini);
  std::fprintf(stderr, "quorvix: diagnostic logs %s, %s, %s\n", qvx::szLogfileName,
               qvx::szLogfileName1, qvx::szLogfileName2);
  if (!replay && qvx::OptionInfo.AutoStart != 1)
    std::fprintf(stderr,
                 "quorvix: AutoStart=%d in %s: capture waits for a Start command, which this "
                 "build without a window cannot give; nothing will be captured\n",
                 qvx::OptionInfo.AutoStart, ini);
}

constexpr int kRetrySeconds = 10;

// The outputs for a central collector, besides the access log (keys of Quorvix.ini, [Option]):
//   JsonLogFlg=1      JSON Lines beside the access log (JsonLogPath, default Quorvix.jsonl)
//   SyslogFlg=1       RFC 5424 records to SyslogTarget (default unix:/dev/log, tcp:HOST:PORT or
//                     relp:HOST:PORT),
//                     at most SyslogQueueMax (default 10000) held while it cannot be reached
struct Exports {
  std::unique_ptr<qvx::JsonLinesSink> json;
  std::unique_ptr<qvx::SyslogSink> syslog;
};

std::string IniText(const char* ini, const char* key, const std::string& def) {
  char buf[1024] = {};
  qvx::platform().GetProfileString(qvx::kIniSection, key, def, buf, sizeof buf, ini);
  return buf;
}

// Adds the outputs Quorvix.ini switches on to the run's outputs. False when one that is on
// cannot be had (the run then ends, as with an access log that cannot be had).
bool StartExports(Exports* x, std::string* why) {
  char ini[512] = {};
  qvx::QVX_IniFileName(ini, sizeof ini);
  const std::string host = qvx::platform().HostName();
  if (qvx::platform().GetProfileInt(qvx::kIniSection, "JsonLogFlg", 0, ini) == 1) {
    std::string def = qvx::OptionInfo.LogFilePath;
    const size_t slash = def.rfind('/');
    const size_t dot = def.rfind('.');
    def = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
               ? def.substr(0, dot)
               : def) +
          ".jsonl";
    x->json = std::make_unique<qvx::JsonLinesSink>(IniText(ini, "JsonLogPath", def), host,
                                                   QVX_PACKAGE_VERSION);
    if (!x->json->Open(qvx::QVX_AccessLogStartStamp())) {
      *why = "the JSON Lines file cannot be used: " + x->json->path();
      return false;
    }
    // Written by the access log's writer, so the file switches with the access log's own
    // rotation with every event on the same side.
    qvx::QVX_LogWriter().Add(x->json.get());
    qvx::QVX_SetLogSwitchFollower(
        [json = x->json.get()](const std::string& stamp) { json->FollowSwitch(stamp); });
    std::fprintf(stderr, "quorvix: JSON Lines %s\n", x->json->path().c_str());
  }
  if (qvx::platform().GetProfileInt(qvx::kIniSection, "SyslogFlg", 0, ini) == 1) {
    const std::string target = IniText(ini, "SyslogTarget", "unix:/dev/log");
    int queue = qvx::platform().GetProfileInt(qvx::kIniSection, "SyslogQueueMax", 10000, ini);
    if (queue <= 0) queue = 10000;
    x->syslog = std::make_unique<qvx::SyslogSink>(target, static_cast<size_t>(queue), host,
                                                  QVX_PACKAGE_VERSION, qvx::QVX_ProcessId());
    x->syslog->Start();
    qvx::QVX_LogWriter().Add(x->syslog.get());
    std::fprintf(stderr, "quorvix: syslog records to %s (queue of %d)\n", target.c_str(), queue);
  }
  return true;
}

void TellExportNotices(Exports* x) {
  if (x->syslog)
    for (const std::string& n : x->syslog->TakeNotices())
      std::fprintf(stderr, "quorvix: %s\n", n.c_str());
}

Exports g_exports;

// After capture and the log writer have stopped: the queue is sent (a few seconds at most) and what
// was lost is added to the run's errors.
void StopExports(Exports* x, std::vector<std::string>* errors) {
  if (x->syslog) {
    x->syslog->Stop(5000);
    qvx::QVX_LogWriter().Remove(x->syslog.get());
    TellExportNotices(x);
    if (const uint64_t d = x->syslog->dropped(); d > 0)
      errors->push_back(std::to_string(d) + " syslog records were dropped");
  }
  if (x->json) {
    qvx::QVX_SetLogSwitchFollower(nullptr);
    qvx::QVX_LogWriter().Remove(x->json.get());
    if (const uint64_t l = x->json->lost(); l > 0)
      errors->push_back(std::to_string(l) + " JSON Lines records could not be written");
  }
}

// Ends a run that has closed: status 0 when nothing went wrong, else 1 and one console line that
// says all of it.
int Finish(std::vector<std::string> errors) {
  // Frames the kernel could not keep hold accesses that no line names.
  if (const uint64_t dropped = qvx::QVX_CaptureDroppedTotal(); dropped > 0) {
    std::string e = std::to_string(dropped) + " frames were dropped by the capture";
    if (const uint64_t waits = qvx::QVX_LogWriter().stats().waits; waits > 0)
      e += " (capture waited " + std::to_string(waits) + " times for the access-log writer)";
    errors.insert(errors.begin(), e);
  }
  if (const uint64_t lost = qvx::QVX_AccessLogLinesLost(); lost > 0)
    errors.insert(
        errors.begin(),
        std::to_string(lost) + " access-log lines could not be written (see the kernel log)");
  if (errors.empty()) return 0;
  std::string line;
  for (const std::string& e : errors) line += (line.empty() ? "" : "; ") + e;
  std::fprintf(stderr, "quorvix: ended with errors: %s\n", line.c_str());
  return 1;
}

// Runs the program on a capture file: start-up, capture on the file until its last frame was
// handled, then the normal stop and shutdown. Returns the exit code. smb_seen: some frame of
// the file goes to TCP port 445.
int Replay(qvx::ConsoleView& view, const std::string& file, bool smb_seen) {
  // Commands the start-up posted (AutoStart) run first; capture is then started once.
  int id;
  while (view.TakeCommand(&id))
    if (id != qvx::ConsoleView::kCloseCommand) qvx::QVX_OnCommand(id);
  if (qvx::data.LoggingFlg == 0) qvx::QVX_OnCommand(qvx::kIdmStart);
  if (qvx::data.LoggingFlg == 0) {
    qvx::QVX_OnClose();
    return Finish({"capture could not start on " + file + " (see the kernel log)"});
  }
  auto started = std::chrono::steady_clock::now();
  int state = qvx::kQvxFileReading;
  while (g_stop == 0) {
    state = qvx::QvxWPcapConFileState(nullptr);
    if (state != qvx::kQvxFileReading) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const uint64_t frames = qvx::QvxWPcapConFrameCount();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (state == qvx::kQvxFileDamaged) {
    char reason[qvx::kQvxErrBufSize] = {};
    qvx::QvxWPcapConFileState(reason);
    std::fprintf(stderr,
                 "quorvix: %s is damaged or truncated after frame %llu (%s); the frames before "
                 "it were handled\n",
                 file.c_str(), static_cast<unsigned long long>(frames), reason);
    QVX_KLOG("QVX_E21-060 QVX_Replay[%d][%ld] : capture file damaged after frame %llu (%s)\r\n",
             static_cast<unsigned long long>(frames), reason);
  }
  qvx::QVX_OnCommand(qvx::kIdmStop);
  qvx::QVX_AccessLogLossNotice(nullptr);
  qvx::QVX_OnClose();
  std::vector<std::string> errors;
  StopExports(&g_exports, &errors);
  std::fprintf(stderr, "quorvix: replayed %llu frames of %s in %.3f s (%.0f frames/s)\n",
               static_cast<unsigned long long>(frames), file.c_str(), secs,
               secs > 0 ? static_cast<double>(frames) / secs : 0.0);
  const qvx::LogWriter::Stats ws = qvx::QVX_LogWriter().stats();
  if (ws.written > 0)
    std::fprintf(stderr,
                 "quorvix: %llu events written, made durable in %llu flushes; at most %zu "
                 "queued at once\n",
                 static_cast<unsigned long long>(ws.written),
                 static_cast<unsigned long long>(ws.flushes), ws.most_queued);
  // An empty access log would otherwise look like a server nobody used.
  if (!smb_seen) {
    std::fprintf(stderr,
                 "quorvix: no frame of %s goes to TCP port 445 or 139: it holds no SMB traffic "
                 "to audit\n",
                 file.c_str());
  } else if (qvx::QVX_CaptureSmbFrames() == 0) {
    std::fprintf(stderr,
                 "quorvix: the capture filter (FilterCode=%s) let none of the SMB frames of %s "
                 "through: no access could be seen\n",
                 qvx::OptionInfo.FilterCode, file.c_str());
    QVX_KLOG(
        "QVX_E21-061 QVX_Replay[%d][%ld] : the capture filter [%s] let no SMB frame through\r\n",
        qvx::OptionInfo.FilterCode);
    errors.push_back("the capture filter let no SMB frame through");
  }
  return Finish(std::move(errors));
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  std::string config;
  std::string replay;
  std::string sessions;
  bool smb_conf = false;
  bool keep_trying = false;
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (a == "--config" && i + 1 < argc) {
      config = argv[++i];
    } else if (a == "--version") {
      std::printf("quorvix %s (%s)\n", QVX_PACKAGE_VERSION, qvx::kVersionText);
      return 0;
    } else if (a == "--smb-conf" && i + 1 < argc) {
      qvx::SetSambaConfigPath(argv[++i]);
      smb_conf = true;
    } else if (a == "--replay" && i + 1 < argc) {
      replay = argv[++i];
    } else if (a == "--sessions" && i + 1 < argc) {
      sessions = argv[++i];
    } else if (a == "--keep-trying") {
      keep_trying = true;
    } else if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "quorvix: unknown option %s\n", a.c_str());
      Usage(stderr);
      return 2;
    } else {
      args.push_back(argv[i]);
    }
  }

  // Right at its defaults: capture at start-up, the access log written (Quorvix.ini may say
  // otherwise). Only this shell sets them; the Windows build keeps the specified ones.
  qvx::QVX_SetIntDefault("AutoStart", 1);
  qvx::QVX_SetIntDefault("LogFileWriteFlg", 1);
  if (InstalledProgram()) {
    if (config.empty() && home.empty()) config = kInstalledConfig;
    if (home.empty()) home = kInstalledLogDir;
  }
  if (!config.empty()) qvx::QVX_SetIniFilePath(config);

  std::unique_ptr<HomePlatform> home_platform;
  if (!home.empty()) {
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    home_platform = std::make_unique<HomePlatform>(&qvx::NativePlatform(), home);
    qvx::SetPlatform(home_platform.get());
  }

  // Replay: the file's start gives the server and the clock before the first frame; the
  // connections are followed as the frames are read.
  std::unique_ptr<qvx::ReplayPlatform> replay_platform;
  bool smb_seen = false;
  if (!replay.empty()) {
    qvx::ReplayStart start;
    std::string error;
    if (!qvx::ReplayFindStart(replay, &start, &error)) {
      std::fprintf(stderr, "quorvix: cannot read the capture file %s: %s\n", replay.c_str(),
                   error.c_str());
      return 1;
    }
    smb_seen = !start.server.empty();
    replay_platform = std::make_unique<qvx::ReplayPlatform>(
        &qvx::platform(), std::move(start), &qvx::CaptureConnections(), sessions, smb_conf);
    qvx::SetPlatform(replay_platform.get());
    qvx::SetCaptureConnector(&qvx::ReplayConnector(replay));
  } else if (!sessions.empty()) {
    std::fprintf(stderr, "quorvix: --sessions is only for --replay\n");
    return 2;
  }
  if (keep_trying && !replay.empty()) {
    std::fprintf(stderr, "quorvix: --keep-trying is only for a live run\n");
    return 2;
  }
  // Live, a line carries the capture time of its request, however late it is handled.
  std::unique_ptr<qvx::CaptureClockPlatform> clock_platform;
  if (replay.empty()) {
    clock_platform = std::make_unique<qvx::CaptureClockPlatform>(&qvx::platform());
    qvx::SetPlatform(clock_platform.get());
  }

  // Error lines of the diagnostic logs also go to syslog / the journal, with their ids.
  qvx::platform().OpenSystemLog("quorvix");
  if (!qvx::QVX_StartUp(static_cast<int>(args.size()), args.data())) {
    std::fprintf(stderr, "quorvix: ended with errors: the diagnostic logs cannot be made\n");
    return 1;
  }

  qvx::QVX_OnProcessSignals(OnStop, OnHangUp);

  // Rows show as they come on a terminal; into a file or pipe they go in blocks.
  if (qvx::QVX_StdoutIsTerminal()) std::setvbuf(stdout, nullptr, _IOLBF, 0);
  qvx::ConsoleView view(stdout);
  if (!qvx::QVX_OnInitDialog(view)) {
    std::fprintf(stderr, "quorvix: the program could not start; the kernel log %s says why\n",
                 qvx::szLogfileName);
    return 1;
  }
  // An access log that was asked for and cannot be had would leave the run recording nothing.
  if (const std::string& why = qvx::QVX_AccessLogStartUpProblem(); !why.empty()) {
    const std::string error = "the access log cannot be used: " + why;
    qvx::QVX_OnClose();
    return Finish({error});
  }
  TellSettings(!replay.empty(), smb_conf);
  if (std::string why; !StartExports(&g_exports, &why)) {
    qvx::QVX_OnClose();
    std::vector<std::string> errors{why};
    StopExports(&g_exports, &errors);
    return Finish(std::move(errors));
  }
  if (!replay.empty()) return Replay(view, replay, smb_seen);

  // The message loop: posted commands at once, the timer on every new wall-clock second.
  int64_t last_tick = qvx::platform().Now().t;
  bool loss_told = false;
  // Capture was started and not stopped: it should be running. Without --keep-trying a capture
  // that cannot be opened (at start, or at a restart) ends the run.
  bool want_capture = false;
  bool retrying = false;
  bool told_capture = false;
  int64_t last_try = 0;
  std::vector<std::string> errors;
  uint64_t lost_shown = 0;
  for (;;) {
    int id;
    bool close = g_stop != 0;
    while (!close && view.TakeCommand(&id)) {
      if (id == qvx::ConsoleView::kCloseCommand) {
        close = true;
      } else {
        qvx::QVX_OnCommand(id);
        if (id == qvx::kIdmStart) want_capture = true;
        if (id == qvx::kIdmStop) want_capture = false;
      }
    }
    if (close) break;
    if (g_reopen) {
      // A storm of signals is one reopen per pass of the loop, each between two lines.
      g_reopen = 0;
      // Between two lines of the writer, after what it wrote before was flushed.
      qvx::QVX_LogWriter().Post([json = g_exports.json.get()] {
        qvx::QVX_LogsReopen();
        if (json) json->Reopen();
      });
    }
    int64_t now = qvx::platform().Now().t;
    if (want_capture && qvx::data.LoggingFlg == 0) {
      const std::string error = std::string("capture could not be opened on the adapter of ") +
                                qvx::OptionInfo.IpAddress + " (see the kernel log)";
      if (!keep_trying) {
        errors.push_back(error);
        break;
      }
      if (!retrying) {
        retrying = true;
        last_try = now;
        std::fprintf(stderr, "quorvix: %s; trying again every %d s\n", error.c_str(),
                     kRetrySeconds);
      } else if (now - last_try >= kRetrySeconds) {
        last_try = now;
        qvx::QVX_OnCommand(qvx::kIdmStart);
      }
    } else if (retrying && qvx::data.LoggingFlg != 0) {
      retrying = false;
      told_capture = true;
      std::fprintf(stderr, "quorvix: capture opened on %s, the adapter of %s\n",
                   qvx::QVX_CaptureAdapter().c_str(), qvx::OptionInfo.IpAddress);
    }
    if (!told_capture && qvx::data.LoggingFlg != 0) {
      told_capture = true;
      std::fprintf(stderr, "quorvix: capturing on %s, the adapter of %s\n",
                   qvx::QVX_CaptureAdapter().c_str(), qvx::OptionInfo.IpAddress);
    }
    if (now != last_tick) {
      last_tick = now;
      qvx::QVX_OnTimer();
      // Under "SC" the timer shows no box: the console still hears of lost lines, once, and
      // then of their count whenever it grew.
      const uint64_t lost_now = qvx::QVX_AccessLogLinesLost();
      if (!loss_told && qvx::nCmdLineOptSc == 1 && lost_now > 0) {
        loss_told = true;
        std::fprintf(stderr,
                     "quorvix: the access log cannot be written; access lines are being lost "
                     "(each is named in the kernel log)\n");
      }
      if (lost_now != lost_shown) {
        lost_shown = lost_now;
        std::fprintf(stderr, "quorvix: %llu access-log lines lost so far\n",
                     static_cast<unsigned long long>(lost_now));
      }
      for (const std::string& notice : qvx::QVX_LogWriterNotices())
        std::fprintf(stderr, "quorvix: %s\n", notice.c_str());
    }
    TellExportNotices(&g_exports);
    for (const std::string& notice : qvx::QVX_AccessLogTakeNotices())
      std::fprintf(stderr, "quorvix: %s\n", notice.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (retrying)
    errors.push_back(std::string("capture could not be opened on the adapter of ") +
                     qvx::OptionInfo.IpAddress + " by the end (see the kernel log)");
  qvx::QVX_OnClose();
  StopExports(&g_exports, &errors);
  return Finish(std::move(errors));
}
