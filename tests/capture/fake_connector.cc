#include "capture/fake_connector.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

namespace qvx::test {

namespace {
FakeConnectorState g_state;
std::mutex g_mu;

int Enum(IpAddress* addrs, char (*names)[kQvxAdapterNameSize], int* count, char* errbuf) {
  std::lock_guard<std::mutex> l(g_mu);
  g_state.calls.push_back("enum");
  if (g_state.enum_rc != 0) {
    std::snprintf(errbuf, kQvxErrBufSize, "enum failed");
    return g_state.enum_rc;
  }
  *count = 0;
  for (auto& a : g_state.adapters) {
    if (*count == kQvxAdapterMax) break;
    addrs[*count] = a.first;
    std::snprintf(names[*count], kQvxAdapterNameSize, "%s", a.second.c_str());
    ++*count;
  }
  return 0;
}
int Open(const char* name, int wait_ms, char* errbuf) {
  std::lock_guard<std::mutex> l(g_mu);
  g_state.calls.push_back("open " + std::string(name) + " " + std::to_string(wait_ms));
  g_state.opened = name;
  g_state.closed = false;
  if (g_state.open_rc != 0) std::snprintf(errbuf, kQvxErrBufSize, "no such device");
  return g_state.open_rc;
}
int Buffer(int size, char*) {
  std::lock_guard<std::mutex> l(g_mu);
  g_state.calls.push_back("buffer");
  g_state.buffer_size = size;
  return g_state.buffer_rc;
}
int Filter(const char* f, unsigned int mask, char*) {
  std::lock_guard<std::mutex> l(g_mu);
  g_state.calls.push_back("filter");
  g_state.filter = f;
  g_state.mask = mask;
  return g_state.filter_rc;
}
int Recv(unsigned char* buf, unsigned long* len) {
  *len = 0;
  int frame_ms = 0;
  {
    std::lock_guard<std::mutex> l(g_mu);
    ++g_state.recv_calls;
    if (g_state.closed) return -1;
    if (!g_state.frames.empty()) frame_ms = g_state.frame_ms;
  }
  if (frame_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(frame_ms));
  {
    std::lock_guard<std::mutex> l(g_mu);
    if (!g_state.frames.empty()) {
      FakeFrame f = g_state.frames.front();
      g_state.frames.pop_front();
      std::memcpy(buf, f.bytes.data(), f.bytes.size());
      *len = f.reported;
      g_state.frame_us = f.time_us;
      if (f.time_us > g_state.clock_us) g_state.clock_us = f.time_us;
      return f.rc;
    }
    if (g_state.stop_when_empty && g_state.data && g_state.clock_us >= g_state.stop_at_us)
      g_state.data->LoggingFlg = 0;
  }
  // An idle adapter: the wait of a real receive.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}
int Close() {
  std::lock_guard<std::mutex> l(g_mu);
  g_state.calls.push_back("close");
  g_state.closed = true;
  return g_state.close_rc;
}
int Wait(int ms) {
  {
    std::lock_guard<std::mutex> l(g_mu);
    ++g_state.wait_calls;
    g_state.waits.push_back(ms);
    if (!g_state.frames.empty()) return 1;
    g_state.clock_us += g_state.idle_step_us;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms < 1 ? ms : 1));
  return 0;
}
int Stats(uint64_t* received, uint64_t* dropped) {
  std::lock_guard<std::mutex> l(g_mu);
  *received = g_state.received;
  *dropped = g_state.dropped;
  return g_state.stats_rc;
}
int64_t ClockUs() {
  std::lock_guard<std::mutex> l(g_mu);
  return g_state.clock_us;
}
int64_t FrameTimeUs() {
  std::lock_guard<std::mutex> l(g_mu);
  return g_state.frame_us;
}
int Drainable() {
  std::lock_guard<std::mutex> l(g_mu);
  return g_state.closed ? 0 : g_state.drainable;
}
int EndWaits() {
  std::lock_guard<std::mutex> l(g_mu);
  ++g_state.wait_ends;
  return 0;
}
const CaptureConnector kFake = {Enum, Open,  Buffer,  Filter,      Recv,      Close,
                                Wait, Stats, ClockUs, FrameTimeUs, Drainable, EndWaits};
const CaptureConnector* g_previous = nullptr;
}  // namespace

FakeConnectorState& Fake() { return g_state; }

FakeConnectorGuard::FakeConnectorGuard() {
  g_state = FakeConnectorState();
  ResetFrameSequences();
  g_previous = SetCaptureConnector(&kFake);
}
FakeConnectorGuard::~FakeConnectorGuard() { SetCaptureConnector(g_previous); }

namespace {
// The next sequence number of each direction of each connection, so that the frames a test makes
// one after the other follow each other in their TCP stream.
std::map<std::tuple<std::string, std::string, uint16_t, uint16_t>, uint32_t> g_next_seq;
}  // namespace

void ResetFrameSequences() { g_next_seq.clear(); }

std::vector<unsigned char> MakeFrame(const char* src, const char* dst,
                                     const std::vector<unsigned char>& payload, uint16_t sport,
                                     uint16_t dport) {
  uint32_t& next = g_next_seq[{src, dst, sport, dport}];
  if (next == 0) next = 1;
  const uint32_t seq = next;
  next += static_cast<uint32_t>(payload.size());
  std::vector<unsigned char> f = {0x02, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0, 0x02, 0x08, 0x00};
  unsigned a[4], b[4];
  std::sscanf(src, "%u.%u.%u.%u", &a[0], &a[1], &a[2], &a[3]);
  std::sscanf(dst, "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]);
  const size_t total = 40 + payload.size();
  unsigned char ip[20] = {0x45,
                          0,
                          static_cast<unsigned char>(total >> 8),
                          static_cast<unsigned char>(total),
                          0,
                          0,
                          0x40,
                          0,
                          64,
                          6,
                          0,
                          0};
  for (int i = 0; i < 4; ++i) {
    ip[12 + i] = static_cast<unsigned char>(a[i]);
    ip[16 + i] = static_cast<unsigned char>(b[i]);
  }
  f.insert(f.end(), ip, ip + 20);
  unsigned char tcp[20] = {static_cast<unsigned char>(sport >> 8),
                           static_cast<unsigned char>(sport),
                           static_cast<unsigned char>(dport >> 8),
                           static_cast<unsigned char>(dport),
                           static_cast<unsigned char>(seq >> 24),
                           static_cast<unsigned char>(seq >> 16),
                           static_cast<unsigned char>(seq >> 8),
                           static_cast<unsigned char>(seq),
                           0,
                           0,
                           0,
                           1,
                           0x50,
                           0x18,
                           0x01,
                           0};
  f.insert(f.end(), tcp, tcp + 20);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

std::vector<unsigned char> Smb1Payload(unsigned char command, size_t body, uint16_t mid,
                                       uint16_t pid) {
  const size_t n = 32 + body;
  std::vector<unsigned char> p = {0, static_cast<unsigned char>(n >> 16),
                                  static_cast<unsigned char>(n >> 8),
                                  static_cast<unsigned char>(n)};
  std::vector<unsigned char> h(32, 0);
  h[0] = 0xFF;
  h[1] = 'S';
  h[2] = 'M';
  h[3] = 'B';
  h[4] = command;
  h[24] = 0x07;  // TID 7
  h[28] = 0x64;  // UID 100
  h[26] = static_cast<unsigned char>(pid);
  h[27] = static_cast<unsigned char>(pid >> 8);
  h[30] = static_cast<unsigned char>(mid);
  h[31] = static_cast<unsigned char>(mid >> 8);
  p.insert(p.end(), h.begin(), h.end());
  p.insert(p.end(), body, 0x11);
  return p;
}

std::vector<unsigned char> Smb2Payload(unsigned short command, size_t body, uint64_t message_id,
                                       uint32_t status) {
  const size_t n = 64 + body;
  std::vector<unsigned char> p = {0, static_cast<unsigned char>(n >> 16),
                                  static_cast<unsigned char>(n >> 8),
                                  static_cast<unsigned char>(n)};
  std::vector<unsigned char> h(64, 0);
  h[0] = 0xFE;
  h[1] = 'S';
  h[2] = 'M';
  h[3] = 'B';
  h[4] = 64;
  h[12] = static_cast<unsigned char>(command);
  h[13] = static_cast<unsigned char>(command >> 8);
  for (int i = 0; i < 4; ++i) h[8 + i] = static_cast<unsigned char>(status >> (8 * i));
  for (int i = 0; i < 8; ++i) h[24 + i] = static_cast<unsigned char>(message_id >> (8 * i));
  p.insert(p.end(), h.begin(), h.end());
  p.insert(p.end(), body, 0x22);
  return p;
}

}  // namespace qvx::test
