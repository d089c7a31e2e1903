// The capture loop by itself: frames of the recorded captures served from memory through the
// connector table, every gate and the dispatch run, the handlers replaced by ones that return at
// once. Shows what the loop and the connector interface cost per frame, apart from the handlers
// and the logs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/option.h"
#include "capture/capture_connector.h"
#include "capture/capture_loop.h"
#include "connector/qvx_wpcap_con.h"
#include "platform/platform.h"

namespace qvx {
namespace {

std::vector<std::vector<unsigned char>> g_frames;
size_t g_next = 0;
long g_left = 0;
DATA* g_data = nullptr;

int Recv(unsigned char* buf, unsigned long* len) {
  if (g_left-- <= 0) {
    g_data->LoggingFlg = 0;
    *len = 0;
    return 0;
  }
  const auto& f = g_frames[g_next++ % g_frames.size()];
  std::memcpy(buf, f.data(), f.size());
  *len = static_cast<unsigned long>(f.size());
  return 0;
}
int Unused() { return 0; }

class QuietPlatform : public PlatformWrapper {
 public:
  QuietPlatform() : PlatformWrapper(&NativePlatform()), now_(NativePlatform().Now()) {}
  LocalTime Now() override { return now_; }
  void SleepMs(int) override {}

 private:
  LocalTime now_;
};

// Frames are always there; no drop counts; the clock stands still.
int Wait(int) { return 1; }
int Stats(uint64_t*, uint64_t*) { return -1; }
int64_t Clock() { return 0; }

int Smb1(SMB_HEADER_ST*, unsigned long, unsigned char*, long, DATA*) { return 0; }
int Smb1c(SMB_HEADER_ST*, unsigned long, unsigned char*, long, int, DATA*) { return 0; }
int Smb2(SMB2_HEADER_ST*, unsigned long, unsigned char*, long, DATA*) { return 0; }
int Smb2c(SMB2_HEADER_ST*, unsigned long, unsigned char*, long, int, DATA*) { return 0; }

void LoadFrames() {
  if (!g_frames.empty()) return;
  for (const char* name : {"smb2_ops.pcap", "smb1_ops.pcap", "smb2_preconnected.pcap"}) {
    QvxPcapFileReader r;
    char err[kQvxErrBufSize] = {};
    std::string path = std::string(QVX_CAPTURE_DATA_DIR) + "/" + name;
    if (!r.Open(path.c_str(), err)) {
      std::fprintf(stderr, "%s\n", err);
      continue;
    }
    const unsigned char* d;
    uint32_t n;
    int64_t sec;
    long usec;
    while (r.Next(&d, &n, &sec, &usec, err) == 1) g_frames.emplace_back(d, d + n);
  }
}

void BM_CaptureLoop(benchmark::State& state) {
  LoadFrames();
  if (g_frames.empty()) {
    state.SkipWithError("no capture frames");
    return;
  }
  QuietPlatform quiet;
  Platform* previous = SetPlatform(&quiet);
  OptionSetDefaults(&OptionInfo);
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "10.213.0.1");
  const CaptureConnector fake = {
      nullptr, nullptr, nullptr, nullptr, Recv, reinterpret_cast<int (*)()>(Unused),
      Wait,    Stats,   Clock,   Clock};
  const CaptureConnector* old = SetCaptureConnector(&fake);
  QVX_CaptureDispatch = {Smb1c, Smb1, Smb1,  Smb1, Smb1c, Smb1, Smb1, Smb1c, Smb1c, Smb2c, Smb2c,
                         Smb2c, Smb2, Smb2c, Smb2, Smb2,  Smb2, Smb1, Smb1,  Smb1,  Smb1};
  DATA data;
  g_data = &data;
  const long per_run = static_cast<long>(state.range(0));
  for (auto _ : state) {
    g_left = per_run;
    data.LoggingFlg = 1;
    QVX_LogThread(&data);
  }
  state.SetItemsProcessed(state.iterations() * per_run);
  QVX_CaptureDispatchReset();
  SetCaptureConnector(old);
  SetPlatform(previous);
}
BENCHMARK(BM_CaptureLoop)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvx

BENCHMARK_MAIN();
