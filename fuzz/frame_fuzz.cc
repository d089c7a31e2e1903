// The whole program on hostile frames: each input is one frame of the link type its first byte
// chooses (Ethernet, with or without VLAN tags, Linux cooked, loopback, raw IPv4 and IPv6),
// handed to the capture loop through the connector's Recv, as a live capture or a replay hands it.
// The program keeps its sessions, trees, repeat window and logs from one input to the next (a frame
// means something only after the ones before it), and is stopped and started afresh every
// kRestartEvery frames so that nothing it keeps grows without bound.
#include "fuzz/frame_fuzz.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "accesslog/log_writer.h"
#include "app/controller.h"
#include "app/headless/console_view.h"
#include "app/startup.h"
#include "base/option.h"
#include "capture/capture_connector.h"
#include "capture/capture_control.h"
#include "capture/capture_loop.h"
#include "connector/qvx_wpcap_con.h"
#include "platform/platform.h"
#include "platform/posix/samba.h"
#include "tracking/connection_tracker.h"
#include "wire/frame.h"

namespace qvx {
namespace {

// The server of the recorded captures in tests/data.
constexpr const char* kServer = "10.213.0.1";
constexpr uint64_t kRestartEvery = 20000;
constexpr int64_t kFirstSecond = 1796083200;  // 2026-12-01 00:00:00 UTC

std::string g_home;
std::atomic<uint64_t> g_frames{0};

// The capture clock: a second every 64 frames, so that timers, repeat checks and requests held
// for their answers see time pass.
int64_t ClockUs() { return kFirstSecond * 1000000 + static_cast<int64_t>(g_frames.load()) * 15625; }

class FuzzPlatform : public PlatformWrapper {
 public:
  explicit FuzzPlatform(Platform* target) : PlatformWrapper(target) {}
  std::string ExecutablePath() override { return g_home + "/quorvix"; }
  LocalTime Now() override { return LocalTimeFromTimeT(ClockUs() / 1000000); }
  void SleepMs(int) override {}
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override {
    *out = {kServer};
    return AddressListResult::kOk;
  }
  bool ListSessions(std::vector<ServerSession>* out) override {
    *out = CaptureConnections().Sessions(kServer, ClockUs());
    return true;
  }
  // No smbd to ask for the files held open.
  OpenFilesSnapshot ListOpenFiles() override { return {}; }
  void AskOpenFiles() override {}
};

// The hand-over between the fuzzer's thread and the capture thread: the capture thread waits in
// Recv for a frame; the fuzzer's thread returns once the capture thread asks for the next one,
// i.e. when the frame has gone all the way through.
std::mutex g_mu;
std::condition_variable g_cv;
const uint8_t* g_frame = nullptr;
size_t g_frame_size = 0;
uint64_t g_asks = 0;      // Recv calls so far
uint64_t g_taken_at = 0;  // the call that took the last frame

constexpr int kLinkTypes[] = {wire::kLinkEthernet, wire::kLinkSll,  wire::kLinkSll2,
                              wire::kLinkNull,     wire::kLinkLoop, wire::kLinkRaw,
                              wire::kLinkIpv4,     wire::kLinkIpv6};
// The link type of the frame handed over (read by the capture thread under g_mu's hand-over).
std::atomic<int> g_link{wire::kLinkEthernet};
int FuzzLinkType() { return g_link.load(); }

int FuzzEnum(IpAddress* addrs, char (*names)[kQvxAdapterNameSize], int* count, char*) {
  addrs[0] = QVX_IpTextToAddr(kServer);
  std::snprintf(names[0], kQvxAdapterNameSize, "fuzz");
  *count = 1;
  return 0;
}
int FuzzOpen(const char*, int, char*) { return 0; }
int FuzzBuffer(int, char*) { return 0; }
int FuzzFilter(const char*, unsigned int, char*) { return 0; }
int FuzzClose() { return 0; }
int FuzzRecv(unsigned char* buf, unsigned long* len) {
  std::lock_guard<std::mutex> lock(g_mu);
  ++g_asks;
  g_cv.notify_all();
  *len = 0;
  if (g_frame == nullptr) return 0;
  std::memcpy(buf, g_frame, g_frame_size);
  *len = static_cast<unsigned long>(g_frame_size);
  g_frame = nullptr;
  g_taken_at = g_asks;
  return 0;
}
// No frame: the loop waits here for the next one, briefly, then checks whether to stop.
int FuzzWait(int ms) {
  std::unique_lock<std::mutex> lock(g_mu);
  return g_cv.wait_for(lock, std::chrono::milliseconds(ms < 20 ? ms : 20),
                       [] { return g_frame != nullptr; })
             ? 1
             : 0;
}
int FuzzStats(uint64_t*, uint64_t*) { return -1; }  // no drop counts, as on a file
const CaptureConnector kFuzzConnector = {FuzzEnum,  FuzzOpen, FuzzBuffer,  FuzzFilter, FuzzRecv,
                                         FuzzClose, FuzzWait, FuzzStats,   ClockUs,    ClockUs,
                                         nullptr,   nullptr,  FuzzLinkType};

// The console view without the status texts, which would bury the fuzzer's own output.
class QuietView : public ConsoleView {
 public:
  using ConsoleView::ConsoleView;
  void SetStatusText(int, const char*) override {}
};
QuietView* g_view = nullptr;

// What the program posted to its own window runs, as the message loop runs it.
void RunPostedCommands() {
  int id;
  while (g_view->TakeCommand(&id))
    if (id != ConsoleView::kCloseCommand) QVX_OnCommand(id);
}

void WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::abort();
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// The logs written so far go, so that a long run keeps its disk use flat.
void RemoveLogs() {
  std::string cmd = "rm -rf '" + g_home + "/QVXkernel' '" + g_home + "/logs'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "frame fuzz: cannot clear logs\n");
}

void Start() {
  QVX_OnCommand(kIdmStart);
  if (data.LoggingFlg == 0) {
    std::fprintf(stderr, "frame fuzz: capture did not start (see %s/QVXkernel)\n", g_home.c_str());
    std::abort();
  }
}

void Restart() {
  QVX_OnCommand(kIdmStop);
  QVX_LogWriter().Sync();  // the lines of the stopped run are out before their files go
  RemoveLogs();
  CaptureConnections().Reset();
  Start();
}

// At exit: the capture thread ends before anything it uses is destroyed, then the home goes.
// QVX_FUZZ_KEEP_HOME keeps the home, to read the logs of a run.
void Finish() {
  QVX_OnCommand(kIdmStop);
  QVX_LogWriter().Stop();
  if (std::getenv("QVX_FUZZ_KEEP_HOME")) {
    std::fprintf(stderr, "frame fuzz: home kept in %s\n", g_home.c_str());
    return;
  }
  std::string cmd = "rm -rf '" + g_home + "'";
  if (std::system(cmd.c_str()) != 0)
    std::fprintf(stderr, "frame fuzz: cannot remove %s\n", cmd.c_str());
}

void SetUp() {
  char tmpl[] = "/tmp/quorvix-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_home = tmpl;
  std::string share = g_home + "/share";
  std::string cmd = "mkdir -p '" + share + "/dir'";
  if (std::system(cmd.c_str()) != 0) std::abort();
  WriteText(share + "/file.txt", "x");
  WriteText(g_home + "/smb.conf", "[global]\n[share]\n  path = " + share + "\n");
  // Every log written, the kernel log at its most detailed, repeats judged, host names off (no
  // name-query children).
  WriteText(g_home + "/Quorvix.ini",
            "[Option]\r\nLogFileWriteFlg=1\r\nLogFilePath=" + g_home +
                "/logs/Quorvix.log\r\nLogFileChangeFlg=1\r\nLogFileSize=1\r\nErrorLevel=6\r\n"
                "NbtstatChgOn=0\r\nHostName=0\r\nSMBcmdListFlg=1\r\nIpAddress=" +
                kServer + "\r\n");
  SetSambaConfigPath(g_home + "/smb.conf");
  static FuzzPlatform fuzz_platform(&NativePlatform());
  SetPlatform(&fuzz_platform);
  SetCaptureConnector(&kFuzzConnector);
  static const char* const args[] = {"SC"};
  if (!QVX_StartUp(1, args)) std::abort();
  static std::FILE* rows = std::fopen("/dev/null", "w");
  static QuietView view(rows);
  g_view = &view;
  if (!QVX_OnInitDialog(view)) std::abort();
  RunPostedCommands();
  if (data.LoggingFlg == 0) Start();
  // After the statics above: they are destroyed only after it ran.
  std::atexit(Finish);
}

}  // namespace

int FrameFuzzLinkType(uint8_t selector) {
  return kLinkTypes[selector % (sizeof kLinkTypes / sizeof kLinkTypes[0])];
}

uint8_t FrameFuzzSelector(int link_type) {
  for (size_t i = 0; i < sizeof kLinkTypes / sizeof kLinkTypes[0]; ++i)
    if (kLinkTypes[i] == link_type) return static_cast<uint8_t>(i);
  return 0;
}

void FrameFuzzInput(const uint8_t* input, size_t size) {
  if (size == 0) return;
  FrameFuzzFrame(FrameFuzzLinkType(input[0]), input + 1, size - 1);
}

void FrameFuzzFrame(int link_type, const uint8_t* frame, size_t size) {
  static bool set_up = false;
  if (!set_up) {
    SetUp();
    set_up = true;
  }
  if (++g_frames % kRestartEvery == 0) Restart();
  if (size > kRecvBufSize) size = kRecvBufSize;
  // The loop reads an empty Recv as "nothing came"; a frame of no bytes is one of no use.
  if (size == 0) return;
  std::unique_lock<std::mutex> lock(g_mu);
  g_link = link_type;
  g_frame = frame;
  g_frame_size = size;
  g_cv.notify_all();
  // Taken, then the next one asked for: the frame went through every gate and handler.
  g_cv.wait(lock, [] { return g_frame == nullptr && g_asks > g_taken_at; });
  lock.unlock();
  // The once-a-second work of the window thread, now and then between frames.
  if (g_frames % 256 == 0) {
    QVX_OnTimer();
    RunPostedCommands();
    if (data.LoggingFlg == 0) Start();
  }
}

}  // namespace qvx

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvx::FrameFuzzInput(data, size);
  return 0;
}
