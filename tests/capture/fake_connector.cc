#include "capture/fake_connector.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace qvx::test {

namespace {
FakeConnectorState g_state;
std::mutex g_mu;

int Enum(unsigned long* addrs, char (*names)[kQvxAdapterNameSize], int* count, char* errbuf) {
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
  {
    std::lock_guard<std::mutex> l(g_mu);
    ++g_state.recv_calls;
    if (!g_state.frames.empty()) {
      FakeFrame f = g_state.frames.front();
      g_state.frames.pop_front();
      std::memcpy(buf, f.bytes.data(), f.bytes.size());
      *len = f.reported;
      return f.rc;
    }
    if (g_state.stop_when_empty && g_state.data) g_state.data->LoggingFlg = 0;
  }
  // An idle adapter: the wait of a real receive.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 0;
}
int Close() {
  std::lock_guard<std::mutex> l(g_mu);
  g_state.calls.push_back("close");
  return g_state.close_rc;
}
const CaptureConnector kFake = {Enum, Open, Buffer, Filter, Recv, Close};
const CaptureConnector* g_previous = nullptr;
}  // namespace

FakeConnectorState& Fake() { return g_state; }

FakeConnectorGuard::FakeConnectorGuard() {
  g_state = FakeConnectorState();
  g_previous = SetCaptureConnector(&kFake);
}
FakeConnectorGuard::~FakeConnectorGuard() { SetCaptureConnector(g_previous); }

std::vector<unsigned char> MakeFrame(const char* src, const char* dst,
                                     const std::vector<unsigned char>& payload) {
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
  unsigned char tcp[20] = {0xC0, 0x00, 0x01, 0xBD, 0, 0, 0, 1, 0, 0, 0, 1, 0x50, 0x18, 0x01, 0};
  f.insert(f.end(), tcp, tcp + 20);
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

std::vector<unsigned char> Smb1Payload(unsigned char command, size_t body) {
  std::vector<unsigned char> p = {0, 0, 0, static_cast<unsigned char>(32 + body)};
  std::vector<unsigned char> h(32, 0);
  h[0] = 0xFF;
  h[1] = 'S';
  h[2] = 'M';
  h[3] = 'B';
  h[4] = command;
  h[24] = 0x07;  // TID 7
  h[28] = 0x64;  // UID 100
  p.insert(p.end(), h.begin(), h.end());
  p.insert(p.end(), body, 0x11);
  return p;
}

std::vector<unsigned char> Smb2Payload(unsigned short command, size_t body) {
  std::vector<unsigned char> p = {0, 0, 0, static_cast<unsigned char>(64 + body)};
  std::vector<unsigned char> h(64, 0);
  h[0] = 0xFE;
  h[1] = 'S';
  h[2] = 'M';
  h[3] = 'B';
  h[4] = 64;
  h[12] = static_cast<unsigned char>(command);
  h[13] = static_cast<unsigned char>(command >> 8);
  p.insert(p.end(), h.begin(), h.end());
  p.insert(p.end(), body, 0x22);
  return p;
}

}  // namespace qvx::test
