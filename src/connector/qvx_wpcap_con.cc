#include "connector/qvx_wpcap_con.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "connector/capture_file.h"
#include "platform/pcap_port.h"
#include "platform/platform.h"
#include "wire/frame.h"

namespace qvx {

namespace {

void SetErr(char* errbuf, const char* fmt, const char* a = "", const char* b = "") {
  if (errbuf) std::snprintf(errbuf, kQvxErrBufSize, fmt, a, b);
}

const PcapApi* LoadApi(char* errbuf) {
  std::string error;
  const PcapApi* api = BindPcap(&error);
  if (!api) SetErr(errbuf, "%s", error.c_str());
  return api;
}

// The one open capture. The mutex is held for at most one wait (a receive), so a close from the
// UI thread takes effect within that time and later receives fail at once.
std::mutex g_mu;
PcapHandle g_pcap = nullptr;
// A capture file being replayed, read without the capture library; its filter.
std::unique_ptr<CaptureFileReader> g_file;
FileFilter g_file_filter;
int g_wait_ms = 20;
std::string g_name;
int g_file_state = kQvxFileNone;
char g_file_err[kQvxErrBufSize];
std::atomic<uint64_t> g_frames{0};
std::atomic<bool> g_file_open{false};  // g_file is set (read without the lock)
std::atomic<int64_t> g_last_sec{0};
std::atomic<long> g_last_usec{0};
// The link type of the last frame delivered, and of the open adapter.
std::atomic<int> g_link{1};
int g_adapter_link = 1;
QvxFrameObserver g_observer = nullptr;
void* g_observer_ctx = nullptr;
// Threads inside QvxWPcapConWait, and the wake object that the wait watches beside the adapter,
// through which a close wakes them. A close waits until they have left before the adapter goes.
int g_waiters = 0;
bool g_closing = false;  // a close is waking the waiters: none may wait again
// A stop is coming: every wait returns at once until the close, so that the capture thread reads
// what the adapter holds without first sitting out its idle wait.
bool g_waits_ended = false;
// The open adapter's receive returns at once when no frame is waiting.
bool g_nonblocking = false;
std::condition_variable g_left;
WakeObject g_wake;

// Called with g_mu held: wakes every waiter and lets them leave.
void WakeWaiters(std::unique_lock<std::mutex>& lock) {
  if (g_waiters == 0) return;
  g_wake.Wake();
  g_left.wait(lock, [] { return g_waiters == 0; });
}

// Opens a live adapter; buffer_size 0 means kQvxDefaultBufferBytes.
PcapHandle OpenLive(const PcapApi& api, const char* name, int wait_ms, int buffer_size,
                    char* errbuf, bool* nonblocking) {
  char err[kPcapErrBufSize] = {};
  if (buffer_size <= 0) buffer_size = kQvxDefaultBufferBytes;
  PcapHandle p = nullptr;
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
  const int link = api.datalink(p);
  if (wire::LinkTypeName(link) == nullptr) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", link);
    SetErr(errbuf,
           "%s: its frames are of link type %s, which this program cannot read (it reads "
           "Ethernet, Linux cooked v1 and v2, BSD loopback and raw IP)",
           name, number);
    api.close(p);
    return nullptr;
  }
  g_adapter_link = link;
  // A blocking receive may wait past its timeout on a quiet adapter (Wine's wpcap over libpcap's
  // block ring waits for the first frame), and a stop would wait with it. Never blocking, the
  // receive waits only as long as it chooses (ReceiveWait) and QvxWPcapConWait does the longer
  // waiting, which a close ends.
  *nonblocking = api.setnonblock && api.setnonblock(p, 1, err) == 0 && !api.receive_may_block;
  return p;
}

void CloseLocked(const PcapApi* api) {
  if (g_pcap && api) api->close(g_pcap);
  g_pcap = nullptr;
  g_waits_ended = false;
  g_nonblocking = false;
  g_file.reset();
  g_file_open = false;
  g_file_filter.Clear();
}

bool IsOpen() { return g_pcap != nullptr || g_file != nullptr; }

// Sets the filter of the replayed file.
int FileFilterSet(const char* filter, unsigned int mask, char* errbuf) {
  std::string error;
  if (g_file_filter.Set(filter, mask, &error)) return 0;
  SetErr(errbuf, "%s", error.c_str());
  return -1;
}

// Adds one address to QvxWPcapConEnumAdapter's list while it has room.
struct AdapterList {
  IpAddress* addrs;
  char (*names)[kQvxAdapterNameSize];
  int* count;
  bool v6;  // the pass that takes IPv6 addresses (IPv4 ones come first)
};

void AddAdapter(void* ctx, const IpAddress& address, const char* name) {
  auto* list = static_cast<AdapterList*>(ctx);
  if (*list->count >= kQvxAdapterMax || address.v6 != list->v6) return;
  list->addrs[*list->count] = address;
  std::snprintf(list->names[*list->count], kQvxAdapterNameSize, "%s", name);
  ++*list->count;
}

}  // namespace

int QvxWPcapConEnumAdapter(IpAddress* addrs, char (*names)[kQvxAdapterNameSize], int* count,
                           char* errbuf) {
  *count = 0;
  const PcapApi* api = LoadApi(errbuf);
  if (!api) return -1;
  char err[kPcapErrBufSize] = {};
  for (const bool v6 : {false, true}) {
    AdapterList list = {addrs, names, count, v6};
    if (api->list_addresses(AddAdapter, &list, err) == -1) {
      SetErr(errbuf, "%s", err);
      return -1;
    }
  }
  return 0;
}

int QvxWPcapConOpen(const char* name, int wait_ms, char* errbuf) {
  const PcapApi* api = LoadApi(errbuf);
  if (!api) return -1;
  std::lock_guard<std::mutex> lock(g_mu);
  CloseLocked(api);
  g_file_state = kQvxFileNone;
  g_frames = 0;
  bool nonblocking = false;
  PcapHandle p = OpenLive(*api, name, wait_ms > 0 ? wait_ms : 20, 0, errbuf, &nonblocking);
  if (!p) return -1;
  g_pcap = p;
  g_nonblocking = nonblocking;
  g_link = g_adapter_link;
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
  // WinPcap sets the buffer of an open adapter.
  if (api->setbuff) {
    if (api->setbuff(g_pcap, size) != 0) {
      SetErr(errbuf, "%s", api->geterr(g_pcap));
      return -1;
    }
    return 0;
  }
  // libpcap sets the buffer before activation: open the adapter again with it.
  bool nonblocking = false;
  PcapHandle p = OpenLive(*api, g_name.c_str(), g_wait_ms, size, errbuf, &nonblocking);
  if (!p) return -1;
  api->close(g_pcap);
  g_pcap = p;
  g_nonblocking = nonblocking;
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
  if (api->set_filter(g_pcap, FilterForLink(filter, g_adapter_link).c_str(), mask) == -1) {
    SetErr(errbuf, "%s", api->geterr(g_pcap));
    return -1;
  }
  return 0;
}

namespace {

void Delivered(unsigned char* buf, unsigned long* len, int link, const unsigned char* d,
               uint32_t caplen, int64_t sec, long usec) {
  g_link = link;
  uint32_t n = caplen;
  if (n > static_cast<uint32_t>(kQvxFrameBufSize)) n = kQvxFrameBufSize;
  std::memcpy(buf, d, n);
  *len = n;
  g_last_sec = sec;
  g_last_usec = usec;
  g_frames.fetch_add(1);
}

// A real sleep, also in a replay (whose platform skips sleeps): the caller would spin otherwise.
void IdleWait(int ms) { NativePlatform().SleepMs(ms); }

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
    const int link = g_file->link_type();
    if (g_observer) g_observer(g_observer_ctx, link, d, caplen, sec, usec);
    if (!g_file_filter.Passes(link, d, caplen)) continue;
    Delivered(buf, len, link, d, caplen, sec, usec);
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
  const unsigned char* d = nullptr;
  uint32_t caplen = 0;
  int64_t sec = 0;
  long usec = 0;
  int rc = api->next(g_pcap, &d, &caplen, &sec, &usec);
  // A short wait of its own; the longer idle wait is QvxWPcapConWait, which a close can end.
  if (rc == 0 && ReceiveWait(g_pcap, g_wait_ms)) rc = api->next(g_pcap, &d, &caplen, &sec, &usec);
  if (rc == 0) return 0;
  if (rc != 1) return -1;
  if (g_observer) g_observer(g_observer_ctx, g_adapter_link, d, caplen, sec, usec);
  Delivered(buf, len, g_adapter_link, d, caplen, sec, usec);
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
  if (g_waits_ended) return 0;
  const PcapHandle p = g_pcap;
  if (!g_wake.Ready()) {
    lock.unlock();
    IdleWait(ms < g_wait_ms ? ms : g_wait_ms);
    return 0;
  }
  ++g_waiters;
  lock.unlock();
  const bool frame = WaitReadable(p, g_wake, ms, g_wait_ms);
  lock.lock();
  if (--g_waiters == 0) {
    g_wake.Reset();
    g_left.notify_all();
  }
  if (g_pcap != p || g_closing) return -1;
  return frame ? 1 : 0;
}

int QvxWPcapConDrainable() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_pcap && g_nonblocking ? 1 : 0;
}

int QvxWPcapConEndWaits() {
  std::unique_lock<std::mutex> lock(g_mu);
  if (!g_pcap) return -1;
  g_waits_ended = true;
  WakeWaiters(lock);
  return 0;
}

int QvxWPcapConStats(uint64_t* received, uint64_t* dropped) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_pcap) return -1;
  const PcapApi* api = LoadApi(nullptr);
  if (!api || !api->stats) return -1;
  uint64_t got = 0, lost = 0;
  if (api->stats(g_pcap, &got, &lost) != 0) return -1;
  if (received) *received = got;
  if (dropped) *dropped = lost;
  return 0;
}

int64_t QvxWPcapConClockUs() {
  // Asked for every frame: no lock.
  if (g_file_open.load(std::memory_order_acquire))
    return g_frames.load() ? g_last_sec.load() * 1000000 + g_last_usec.load() : 0;
  return SystemClockUs();
}

int QvxWPcapConLinkType() { return g_link.load(std::memory_order_relaxed); }

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
  g_link = g_file->link_type();
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

int QvxPcapFileReader::LinkType() const {
  const auto* r = static_cast<const CaptureFileReader*>(handle_);
  return r ? r->link_type() : wire::kLinkEthernet;
}

uint64_t QvxPcapFileReader::OtherLinkFrames(uint16_t* link_type) const {
  const auto* r = static_cast<const CaptureFileReader*>(handle_);
  if (!r) return 0;
  if (link_type) *link_type = r->other_link_type();
  return r->other_link_frames();
}

}  // namespace qvx
