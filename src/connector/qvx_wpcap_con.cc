#include "connector/qvx_wpcap_con.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "connector/capture_file.h"

#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>
#else
#include <fcntl.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>
#endif

namespace qvx {

#ifdef _WIN32
// The few libpcap declarations the connector needs, so that no capture SDK is required; the
// layouts are those of wpcap.dll's ABI.
struct pcap;
using pcap_t = struct pcap;
struct pcap_pkthdr {
  struct timeval ts;
  uint32_t caplen;
  uint32_t len;
};
struct bpf_insn;
struct bpf_program {
  unsigned int bf_len;
  struct bpf_insn* bf_insns;
};
struct pcap_addr {
  struct pcap_addr* next;
  struct sockaddr* addr;
  struct sockaddr* netmask;
  struct sockaddr* broadaddr;
  struct sockaddr* dstaddr;
};
struct pcap_if {
  struct pcap_if* next;
  char* name;
  char* description;
  struct pcap_addr* addresses;
  uint32_t flags;
};
using pcap_if_t = struct pcap_if;
struct pcap_stat {
  unsigned int ps_recv;
  unsigned int ps_drop;
  unsigned int ps_ifdrop;
};
inline constexpr int PCAP_ERRBUF_SIZE = 256;
inline constexpr int DLT_EN10MB = 1;
#define QVX_PCAP_CALL __cdecl
#else
#define QVX_PCAP_CALL
#endif

namespace {

// libpcap entry points: bound directly on Linux, looked up in wpcap.dll on Windows.
struct PcapApi {
  int(QVX_PCAP_CALL* findalldevs)(pcap_if_t**, char*) = nullptr;
  void(QVX_PCAP_CALL* freealldevs)(pcap_if_t*) = nullptr;
  pcap_t*(QVX_PCAP_CALL* open_live)(const char*, int, int, int, char*) = nullptr;
  int(QVX_PCAP_CALL* compile)(pcap_t*, struct bpf_program*, const char*, int, uint32_t) = nullptr;
  int(QVX_PCAP_CALL* setfilter)(pcap_t*, struct bpf_program*) = nullptr;
  void(QVX_PCAP_CALL* freecode)(struct bpf_program*) = nullptr;
  int(QVX_PCAP_CALL* next_ex)(pcap_t*, struct pcap_pkthdr**, const unsigned char**) = nullptr;
  void(QVX_PCAP_CALL* close)(pcap_t*) = nullptr;
  char*(QVX_PCAP_CALL* geterr)(pcap_t*) = nullptr;
  int(QVX_PCAP_CALL* datalink)(pcap_t*) = nullptr;
  // Optional: the buffer size needs one of these.
  pcap_t*(QVX_PCAP_CALL* create)(const char*, char*) = nullptr;
  int(QVX_PCAP_CALL* set_snaplen)(pcap_t*, int) = nullptr;
  int(QVX_PCAP_CALL* set_promisc)(pcap_t*, int) = nullptr;
  int(QVX_PCAP_CALL* set_timeout)(pcap_t*, int) = nullptr;
  int(QVX_PCAP_CALL* set_buffer_size)(pcap_t*, int) = nullptr;
  int(QVX_PCAP_CALL* set_immediate_mode)(pcap_t*, int) = nullptr;
  int(QVX_PCAP_CALL* activate)(pcap_t*) = nullptr;
  int(QVX_PCAP_CALL* setbuff)(pcap_t*, int) = nullptr;  // WinPcap's own
  int(QVX_PCAP_CALL* stats)(pcap_t*, struct pcap_stat*) = nullptr;
#ifdef _WIN32
  HANDLE(QVX_PCAP_CALL* getevent)(pcap_t*) = nullptr;  // the adapter's read event
  int(QVX_PCAP_CALL* setnonblock)(pcap_t*, int, char*) = nullptr;
#endif
};

void SetErr(char* errbuf, const char* fmt, const char* a = "", const char* b = "") {
  if (errbuf) std::snprintf(errbuf, kQvxErrBufSize, fmt, a, b);
}

#ifdef _WIN32
template <typename F>
void Bind(HMODULE lib, F& f, const char* name) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

const PcapApi* LoadApi(char* errbuf) {
  static PcapApi api;
  static bool tried = false;
  static bool ok = false;
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  if (!tried) {
    tried = true;
    HMODULE lib = LoadLibraryA("wpcap.dll");
    if (!lib) {
      // Npcap keeps its DLLs in System32\Npcap unless installed in WinPcap-compatible mode.
      char dir[MAX_PATH];
      UINT n = GetSystemDirectoryA(dir, sizeof dir);
      if (n > 0 && n < sizeof dir - 20) {
        std::string p = std::string(dir) + "\\Npcap\\wpcap.dll";
        lib = LoadLibraryExA(p.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      }
    }
    if (lib) {
      Bind(lib, api.findalldevs, "pcap_findalldevs");
      Bind(lib, api.freealldevs, "pcap_freealldevs");
      Bind(lib, api.open_live, "pcap_open_live");
      Bind(lib, api.compile, "pcap_compile");
      Bind(lib, api.setfilter, "pcap_setfilter");
      Bind(lib, api.freecode, "pcap_freecode");
      Bind(lib, api.next_ex, "pcap_next_ex");
      Bind(lib, api.close, "pcap_close");
      Bind(lib, api.geterr, "pcap_geterr");
      Bind(lib, api.datalink, "pcap_datalink");
      Bind(lib, api.create, "pcap_create");
      Bind(lib, api.set_snaplen, "pcap_set_snaplen");
      Bind(lib, api.set_promisc, "pcap_set_promisc");
      Bind(lib, api.set_timeout, "pcap_set_timeout");
      Bind(lib, api.set_buffer_size, "pcap_set_buffer_size");
      Bind(lib, api.set_immediate_mode, "pcap_set_immediate_mode");
      Bind(lib, api.activate, "pcap_activate");
      Bind(lib, api.setbuff, "pcap_setbuff");
      Bind(lib, api.stats, "pcap_stats");
      // Wine's wpcap exports pcap_getevent as an unimplemented stub that raises when called.
      if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        Bind(lib, api.getevent, "pcap_getevent");
      Bind(lib, api.setnonblock, "pcap_setnonblock");
      ok = api.findalldevs && api.freealldevs && api.open_live && api.compile && api.setfilter &&
           api.freecode && api.next_ex && api.close && api.geterr && api.datalink;
    }
  }
  if (!ok) {
    SetErr(errbuf, "wpcap.dll (Npcap) is not installed or lacks the capture functions");
    return nullptr;
  }
  return &api;
}
#else
const PcapApi* LoadApi(char*) {
  static const PcapApi api = [] {
    PcapApi a;
    a.findalldevs = pcap_findalldevs;
    a.freealldevs = pcap_freealldevs;
    a.open_live = pcap_open_live;
    a.compile = pcap_compile;
    a.setfilter = pcap_setfilter;
    a.freecode = pcap_freecode;
    a.next_ex = pcap_next_ex;
    a.close = pcap_close;
    a.geterr = pcap_geterr;
    a.datalink = pcap_datalink;
    a.create = pcap_create;
    a.set_snaplen = pcap_set_snaplen;
    a.set_promisc = pcap_set_promisc;
    a.set_timeout = pcap_set_timeout;
    a.set_buffer_size = pcap_set_buffer_size;
    a.set_immediate_mode = pcap_set_immediate_mode;
    a.activate = pcap_activate;
    a.stats = pcap_stats;
    return a;
  }();
  return &api;
}
#endif

// The one open capture. The mutex is held for at most one wait (a receive), so a close from the
// UI thread takes effect within that time and later receives fail at once.
std::mutex g_mu;
pcap_t* g_pcap = nullptr;
// A capture file being replayed, read without the capture library; its filter.
std::unique_ptr<CaptureFileReader> g_file;
#ifndef _WIN32
struct bpf_program g_file_bpf;
bool g_file_bpf_set = false;
#else
bool g_file_tcp_only = false;
#endif
int g_wait_ms = 20;
std::string g_name;
int g_file_state = kQvxFileNone;
char g_file_err[kQvxErrBufSize];
std::atomic<uint64_t> g_frames{0};
std::atomic<bool> g_file_open{false};  // g_file is set (read without the lock)
std::atomic<int64_t> g_last_sec{0};
std::atomic<long> g_last_usec{0};
QvxFrameObserver g_observer = nullptr;
void* g_observer_ctx = nullptr;
// Threads inside QvxWPcapConWait, and how a close wakes them: a pipe (Linux) or an event
// (Windows) that the wait watches beside the adapter. A close waits until they have left before
// the adapter goes.
int g_waiters = 0;
bool g_closing = false;  // a close is waking the waiters: none may wait again
std::condition_variable g_left;
#ifdef _WIN32
HANDLE g_wake = nullptr;
#else
int g_wake[2] = {-1, -1};
#endif

bool WakeReady() {
#ifdef _WIN32
  if (!g_wake) g_wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return g_wake != nullptr;
#else
  if (g_wake[0] < 0 && ::pipe(g_wake) == 0) {
    for (int fd : g_wake) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  return g_wake[0] >= 0;
#endif
}

// Called with g_mu held: wakes every waiter and lets them leave.
void WakeWaiters(std::unique_lock<std::mutex>& lock) {
  if (g_waiters == 0) return;
#ifdef _WIN32
  SetEvent(g_wake);
#else
  const char c = 1;
  (void)!::write(g_wake[1], &c, 1);
#endif
  g_left.wait(lock, [] { return g_waiters == 0; });
}

void ResetWake() {
#ifdef _WIN32
  ResetEvent(g_wake);
#else
  char buf[64];
  while (::read(g_wake[0], buf, sizeof buf) > 0) {
  }
#endif
}

// Opens a live adapter; buffer_size 0 means kQvxDefaultBufferBytes.
pcap_t* OpenLive(const PcapApi& api, const char* name, int wait_ms, int buffer_size, char* errbuf) {
  char err[PCAP_ERRBUF_SIZE] = {};
  if (buffer_size <= 0) buffer_size = kQvxDefaultBufferBytes;
  pcap_t* p = nullptr;
  if (api.create && api.activate) {
    p = api.create(name, err);
    if (p) {
      api.set_snaplen(p, kQvxFrameBufSize);
      api.set_promisc(p, 1);
      api.set_timeout(p, wait_ms);
      // Frames as they come: the receive's own wait bounds the latency.
      if (api.set_immediate_mode) api.set_immediate_mode(p, 1);
      if (buffer_size > 0 && api.set_buffer_size) api.set_buffer_size(p, buffer_size);
      int rc = api.activate(p);
      if (rc < 0) {
        SetErr(errbuf, "%s: %s", name, api.geterr(p));
        api.close(p);
        return nullptr;
      }
    }
  } else {
    p = api.open_live(name, kQvxFrameBufSize, 1, wait_ms, err);
    if (p && buffer_size > 0 && api.setbuff) api.setbuff(p, buffer_size);
  }
  if (!p) {
    SetErr(errbuf, "%s", err[0] ? err : "cannot open the adapter");
    return nullptr;
  }
  if (api.datalink(p) != DLT_EN10MB) {
    SetErr(errbuf, "%s: not an Ethernet adapter", name);
    api.close(p);
    return nullptr;
  }
#ifndef _WIN32
  // The receive waits on the descriptor itself, so that it never blocks past its wait.
  pcap_setnonblock(p, 1, err);
#else
  // A blocking receive may wait past its timeout on a quiet adapter (Wine's wpcap over libpcap's
  // block ring waits for the first frame), and a stop would wait with it. Never blocking, the
  // receive returns at once and QvxWPcapConWait does the waiting, which a close ends.
  if (api.setnonblock) api.setnonblock(p, 1, err);
#endif
  return p;
}

void CloseLocked(const PcapApi* api) {
  if (g_pcap && api) api->close(g_pcap);
  g_pcap = nullptr;
  g_file.reset();
  g_file_open = false;
#ifndef _WIN32
  if (g_file_bpf_set) pcap_freecode(&g_file_bpf);
  g_file_bpf_set = false;
#else
  g_file_tcp_only = false;
#endif
}

bool IsOpen() { return g_pcap != nullptr || g_file != nullptr; }

// Does a frame of the replayed file pass its filter?
bool FilePasses(const unsigned char* d, uint32_t n) {
#ifndef _WIN32
  if (!g_file_bpf_set) return true;
  struct pcap_pkthdr h {};
  h.caplen = n;
  h.len = n;
  return pcap_offline_filter(&g_file_bpf, &h, d) != 0;
#else
  if (!g_file_tcp_only) return true;
  // IPv4 or IPv6 carrying TCP (the default filter "tcp").
  if (n < 14 + 20) return false;
  const unsigned type = d[12] << 8 | d[13];
  if (type == 0x0800) return d[14 + 9] == 6;
  if (type == 0x86DD) return n >= 14 + 40 && d[14 + 6] == 6;
  return false;
#endif
}

// Sets the filter of the replayed file.
int FileFilterSet(const char* filter, unsigned int mask, char* errbuf) {
#ifndef _WIN32
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, kQvxFrameBufSize);
  if (!dead) {
    SetErr(errbuf, "cannot compile filters");
    return -1;
  }
  struct bpf_program prog {};
  if (pcap_compile(dead, &prog, filter, 1, mask) == -1) {
    SetErr(errbuf, "%s", pcap_geterr(dead));
    pcap_close(dead);
    return -1;
  }
  pcap_close(dead);
  if (g_file_bpf_set) pcap_freecode(&g_file_bpf);
  g_file_bpf = prog;
  g_file_bpf_set = true;
#else
  // Without a filter compiler for files, the default "tcp" is applied here; any other
  // expression lets every frame through to the capture loop's own tests.
  g_file_tcp_only = std::strcmp(filter, "tcp") == 0;
#endif
  return 0;
}

}  // namespace

int QvxWPcapConEnumAdapter(unsigned long* addrs, char (*names)[kQvxAdapterNameSize], int* count,
                           char* errbuf) {
  *count = 0;
  const PcapApi* api = LoadApi(errbuf);
  if (!api) return -1;
  char err[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* all = nullptr;
  if (api->findalldevs(&all, err) == -1) {
    SetErr(errbuf, "%s", err);
    return -1;
  }
  for (pcap_if_t* d = all; d && *count < kQvxAdapterMax; d = d->next) {
    for (struct pcap_addr* a = d->addresses; a && *count < kQvxAdapterMax; a = a->next) {
      if (!a->addr || a->addr->sa_family != AF_INET) continue;
      const auto* sin = reinterpret_cast<const struct sockaddr_in*>(a->addr);
      uint32_t v;
      std::memcpy(&v, &sin->sin_addr, 4);
      addrs[*count] = v;
      std::snprintf(names[*count], kQvxAdapterNameSize, "%s", d->name);
      ++*count;
    }
  }
  api->freealldevs(all);
  return 0;
}

int QvxWPcapConOpen(const char* name, int wait_ms, char* errbuf) {
  const PcapApi* api = LoadApi(errbuf);
  if (!api) return -1;
  std::lock_guard<std::mutex> lock(g_mu);
  CloseLocked(api);
  g_file_state = kQvxFileNone;
  g_frames = 0;
  pcap_t* p = OpenLive(*api, name, wait_ms > 0 ? wait_ms : 20, 0, errbuf);
  if (!p) return -1;
  g_pcap = p;
  g_wait_ms = wait_ms > 0 ? wait_ms : 20;
  g_name = name;
  return 0;
}

int QvxWPcapBufferSet(int size, char* errbuf) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!IsOpen()) {
    SetErr(errbuf, "no adapter is open");
    return -1;
  }
  if (size <= 0) {
    SetErr(errbuf, "buffer size must be positive");
    return -1;
  }
  if (g_file) return 0;
  const PcapApi* api = LoadApi(errbuf);
  if (!api) return -1;
#ifdef _WIN32
  if (api->setbuff) {
    if (api->setbuff(g_pcap, size) != 0) {
      SetErr(errbuf, "%s", api->geterr(g_pcap));
      return -1;
    }
    return 0;
  }
#endif
  // libpcap sets the buffer before activation: open the adapter again with it.
  pcap_t* p = OpenLive(*api, g_name.c_str(), g_wait_ms, size, errbuf);
  if (!p) return -1;
  api->close(g_pcap);
  g_pcap = p;
  return 0;
}

int QvxWPcapFilterSet(const char* filter, unsigned int mask, char* errbuf) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!IsOpen()) {
    SetErr(errbuf, "no adapter is open");
    return -1;
  }
  if (g_file) return FileFilterSet(filter, mask, errbuf);
  const PcapApi* api = LoadApi(errbuf);
  if (!api) return -1;
  struct bpf_program prog {};
  if (api->compile(g_pcap, &prog, filter, 1, mask) == -1) {
    SetErr(errbuf, "%s", api->geterr(g_pcap));
    return -1;
  }
  int rc = api->setfilter(g_pcap, &prog);
  if (rc == -1) SetErr(errbuf, "%s", api->geterr(g_pcap));
  api->freecode(&prog);
  return rc == -1 ? -1 : 0;
}

namespace {

void Delivered(unsigned char* buf, unsigned long* len, const unsigned char* d, uint32_t caplen,
               int64_t sec, long usec) {
  uint32_t n = caplen;
  if (n > static_cast<uint32_t>(kQvxFrameBufSize)) n = kQvxFrameBufSize;
  std::memcpy(buf, d, n);
  *len = n;
  g_last_sec = sec;
  g_last_usec = usec;
  g_frames.fetch_add(1);
}

void IdleWait(int ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  struct timespec ts = {0, ms * 1000 * 1000L};
  nanosleep(&ts, nullptr);
#endif
}

// The next frame of the replayed file that passes its filter.
int RecvFile(unsigned char* buf, unsigned long* len, std::unique_lock<std::mutex>& lock) {
  if (g_file_state != kQvxFileReading) {
    // Nothing left: behave like an idle adapter, without spinning.
    lock.unlock();
    IdleWait(2);
    return 0;
  }
  // A bounded run of filtered-out frames, so that a close never waits long.
  for (int i = 0; i < 4096; ++i) {
    const unsigned char* d = nullptr;
    uint32_t caplen = 0;
    int64_t sec = 0;
    long usec = 0;
    std::string error;
    int rc = g_file->Next(&d, &caplen, &sec, &usec, &error);
    if (rc == 0) {
      g_file_state = kQvxFileEnd;
      return 0;
    }
    if (rc < 0) {
      std::snprintf(g_file_err, sizeof g_file_err, "%s", error.c_str());
      g_file_state = kQvxFileDamaged;
      return 0;
    }
    if (g_observer) g_observer(g_observer_ctx, d, caplen, sec, usec);
    if (!FilePasses(d, caplen)) continue;
    Delivered(buf, len, d, caplen, sec, usec);
    return 0;
  }
  return 0;
}

}  // namespace

int QvxWPcapConRecv(unsigned char* buf, unsigned long* len) {
  *len = 0;
  std::unique_lock<std::mutex> lock(g_mu);
  if (g_file) return RecvFile(buf, len, lock);
  if (!g_pcap) return -1;
  const PcapApi* api = LoadApi(nullptr);
  if (!api) return -1;
  struct pcap_pkthdr* h = nullptr;
  const unsigned char* d = nullptr;
  int rc = api->next_ex(g_pcap, &h, &d);
#ifndef _WIN32
  // A short wait of its own; the longer idle wait is QvxWPcapConWait, which a close can end.
  if (rc == 0) {
    struct pollfd pfd = {pcap_get_selectable_fd(g_pcap), POLLIN, 0};
    if (pfd.fd >= 0 && ::poll(&pfd, 1, g_wait_ms) > 0) rc = api->next_ex(g_pcap, &h, &d);
  }
#endif
  if (rc == 0) return 0;
  if (rc != 1) return -1;
  const int64_t sec = static_cast<int64_t>(h->ts.tv_sec);
  const long usec = static_cast<long>(h->ts.tv_usec);
  if (g_observer) g_observer(g_observer_ctx, d, h->caplen, sec, usec);
  Delivered(buf, len, d, h->caplen, sec, usec);
  return 0;
}

int QvxWPcapConClose() {
  std::unique_lock<std::mutex> lock(g_mu);
  if (!IsOpen()) return -1;
  g_closing = true;
  WakeWaiters(lock);
  g_closing = false;
  CloseLocked(g_pcap ? LoadApi(nullptr) : nullptr);
  return 0;
}

int QvxWPcapConWait(int ms) {
  if (ms < 0) ms = 0;
  std::unique_lock<std::mutex> lock(g_mu);
  if (g_file) {
    if (g_file_state == kQvxFileReading) return 1;
    lock.unlock();
    IdleWait(ms < 2 ? ms : 2);
    return 0;
  }
  if (!g_pcap || g_closing) return -1;
  pcap_t* const p = g_pcap;
#ifdef _WIN32
  const PcapApi* api = LoadApi(nullptr);
  HANDLE ready = api && api->getevent ? api->getevent(p) : nullptr;
  if (!WakeReady()) {
    lock.unlock();
    IdleWait(ms < g_wait_ms ? ms : g_wait_ms);
    return 0;
  }
  ++g_waiters;
  lock.unlock();
  DWORD r;
  if (ready) {
    HANDLE both[2] = {ready, g_wake};
    r = WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(ms));
  } else {
    // Without the adapter's event the receive is polled every g_wait_ms; a close still ends the
    // wait at once.
    r = WaitForSingleObject(g_wake, static_cast<DWORD>(ms < g_wait_ms ? ms : g_wait_ms));
    if (r == WAIT_OBJECT_0)
      r = WAIT_OBJECT_0 + 1;
    else
      r = WAIT_TIMEOUT;
  }
  lock.lock();
  const bool frame = r == WAIT_OBJECT_0;
#else
  const int fd = pcap_get_selectable_fd(p);
  if (fd < 0 || !WakeReady()) {
    lock.unlock();
    IdleWait(ms < g_wait_ms ? ms : g_wait_ms);
    return 0;
  }
  ++g_waiters;
  lock.unlock();
  struct pollfd fds[2] = {{fd, POLLIN, 0}, {g_wake[0], POLLIN, 0}};
  const int r = ::poll(fds, 2, ms);
  lock.lock();
  const bool frame = r > 0 && (fds[0].revents & POLLIN) != 0;
#endif
  if (--g_waiters == 0) {
    ResetWake();
    g_left.notify_all();
  }
  if (g_pcap != p || g_closing) return -1;
  return frame ? 1 : 0;
}

int QvxWPcapConStats(uint64_t* received, uint64_t* dropped) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_pcap) return -1;
  const PcapApi* api = LoadApi(nullptr);
  if (!api || !api->stats) return -1;
  struct pcap_stat st {};
  if (api->stats(g_pcap, &st) != 0) return -1;
  if (received) *received = st.ps_recv;
  if (dropped) *dropped = st.ps_drop;
  return 0;
}

int64_t QvxWPcapConClockUs() {
  // Asked for every frame: no lock.
  if (g_file_open.load(std::memory_order_acquire))
    return g_frames.load() ? g_last_sec.load() * 1000000 + g_last_usec.load() : 0;
#ifdef _WIN32
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t t100 =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return t100 / 10 - 11644473600LL * 1000000;
#else
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
#endif
}

int64_t QvxWPcapConFrameTimeUs() {
  return g_frames.load() ? g_last_sec.load() * 1000000 + g_last_usec.load() : 0;
}

int QvxWPcapConOpenFile(const char* path, char* errbuf) {
  auto reader = std::make_unique<CaptureFileReader>();
  std::string error;
  if (!reader->Open(path, &error)) {
    SetErr(errbuf, "%s", error.c_str());
    return -1;
  }
  std::lock_guard<std::mutex> lock(g_mu);
  CloseLocked(g_pcap ? LoadApi(nullptr) : nullptr);
  g_file = std::move(reader);
  g_file_open = true;
  g_name = path;
  g_file_state = kQvxFileReading;
  g_file_err[0] = '\0';
  g_frames = 0;
  return 0;
}

int QvxWPcapConFileState(char* errbuf) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_file_state == kQvxFileDamaged && errbuf)
    std::snprintf(errbuf, kQvxErrBufSize, "%s", g_file_err);
  return g_file_state;
}

void QvxWPcapConSetFrameObserver(QvxFrameObserver observer, void* ctx) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_observer = observer;
  g_observer_ctx = ctx;
}

uint64_t QvxWPcapConFrameCount() { return g_frames.load(); }

bool QvxWPcapConLastFrameTime(int64_t* sec, long* usec) {
  if (g_frames.load() == 0) return false;
  *sec = g_last_sec.load();
  *usec = g_last_usec.load();
  return true;
}

QvxPcapFileReader::~QvxPcapFileReader() { delete static_cast<CaptureFileReader*>(handle_); }

bool QvxPcapFileReader::Open(const char* path, char* errbuf) {
  auto* r = new CaptureFileReader();
  std::string error;
  if (!r->Open(path, &error)) {
    delete r;
    SetErr(errbuf, "%s", error.c_str());
    return false;
  }
  delete static_cast<CaptureFileReader*>(handle_);
  handle_ = r;
  return true;
}

int QvxPcapFileReader::Next(const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec,
                            char* errbuf) {
  if (!handle_) return 0;
  std::string error;
  int rc = static_cast<CaptureFileReader*>(handle_)->Next(data, caplen, sec, usec, &error);
  if (rc < 0) SetErr(errbuf, "%s", error.c_str());
  return rc;
}

uint64_t QvxPcapFileReader::OtherLinkFrames(uint16_t* link_type) const {
  const auto* r = static_cast<const CaptureFileReader*>(handle_);
  if (!r) return 0;
  if (link_type) *link_type = r->other_link_type();
  return r->other_link_frames();
}

}  // namespace qvx
