// The capture port on Windows: wpcap.dll (Npcap, or Wine's own) loaded at run time, so that the
// program builds without a capture SDK and starts without one installed; an event wakes waiters.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/pcap_calls.h"
#include "platform/pcap_port.h"

namespace qvx {

namespace {

// wpcap's calls are __cdecl, which on x64 is the one calling convention: its exports of plain
// types are bound straight into the table.
static_assert(sizeof(void*) == 8, "the capture table binds wpcap.dll's x64 exports directly");

// The few declarations of wpcap.dll's ABI the port needs, so that no capture SDK is required.
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
struct pcap_stat {
  unsigned int ps_recv;
  unsigned int ps_drop;
  unsigned int ps_ifdrop;
};

// The exports whose arguments are the library's own structures, called through pcap_calls.h.
struct RawCalls {
  using If = pcap_if;
  using Header = pcap_pkthdr;
  using Program = bpf_program;
  using Stat = pcap_stat;
  using SockaddrIn = sockaddr_in;
  using SockaddrIn6 = sockaddr_in6;
  static constexpr int kAfInet = AF_INET;
  static constexpr int kAfInet6 = AF_INET6;
  int(__cdecl* findalldevs)(pcap_if**, char*) = nullptr;
  void(__cdecl* freealldevs)(pcap_if*) = nullptr;
  int(__cdecl* compile)(PcapHandle, bpf_program*, const char*, int, uint32_t) = nullptr;
  int(__cdecl* setfilter)(PcapHandle, bpf_program*) = nullptr;
  void(__cdecl* freecode)(bpf_program*) = nullptr;
  int(__cdecl* next_ex)(PcapHandle, pcap_pkthdr**, const unsigned char**) = nullptr;
  int(__cdecl* stats)(PcapHandle, pcap_stat*) = nullptr;
  HANDLE(__cdecl* getevent)(PcapHandle) = nullptr;  // the adapter's read event
};
RawCalls raw;

template <typename F>
void Bind(HMODULE lib, F& f, const char* name) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

HMODULE LoadWpcap() {
  HMODULE lib = LoadLibraryA("wpcap.dll");
  if (lib) return lib;
  // Npcap keeps its DLLs in System32\Npcap unless installed in WinPcap-compatible mode.
  char dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(dir, sizeof dir);
  if (n == 0 || n >= sizeof dir - 20) return nullptr;
  std::string p = std::string(dir) + "\\Npcap\\wpcap.dll";
  return LoadLibraryExA(p.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

const PcapApi* BindPcap(std::string* error) {
  static PcapApi api;
  static bool tried = false;
  static bool ok = false;
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  if (!tried) {
    tried = true;
    if (HMODULE lib = LoadWpcap()) {
      Bind(lib, raw.findalldevs, "pcap_findalldevs");
      Bind(lib, raw.freealldevs, "pcap_freealldevs");
      Bind(lib, raw.compile, "pcap_compile");
      Bind(lib, raw.setfilter, "pcap_setfilter");
      Bind(lib, raw.freecode, "pcap_freecode");
      Bind(lib, raw.next_ex, "pcap_next_ex");
      Bind(lib, raw.stats, "pcap_stats");
      // Wine's wpcap exports pcap_getevent as an unimplemented stub that raises when called.
      const bool wine =
          GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
      if (!wine) Bind(lib, raw.getevent, "pcap_getevent");
      api.receive_may_block = wine;
      Bind(lib, api.open_live, "pcap_open_live");
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
      Bind(lib, api.setnonblock, "pcap_setnonblock");
      api.list_addresses = pcap_calls::ListAddresses<raw>;
      api.set_filter = pcap_calls::SetFilter<raw>;
      api.next = pcap_calls::Next<raw>;
      if (raw.stats) api.stats = pcap_calls::Stats<raw>;
      ok = raw.findalldevs && raw.freealldevs && api.open_live && raw.compile && raw.setfilter &&
           raw.freecode && raw.next_ex && api.close && api.geterr && api.datalink;
    }
  }
  if (!ok) {
    if (error) *error = "wpcap.dll (Npcap) is not installed or lacks the capture functions";
    return nullptr;
  }
  return &api;
}

// ---- waking ----

struct WakeObject::Impl {
  HANDLE event = nullptr;  // manual reset
};

WakeObject::WakeObject() = default;

WakeObject::~WakeObject() {
  if (impl_) CloseHandle(impl_->event);
}

bool WakeObject::Ready() {
  if (impl_) return true;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) return false;
  impl_ = std::make_unique<Impl>();
  impl_->event = event;
  return true;
}

void WakeObject::Wake() {
  if (impl_) SetEvent(impl_->event);
}

void WakeObject::Reset() {
  if (impl_) ResetEvent(impl_->event);
}

bool WaitReadable(PcapHandle p, WakeObject& wake, int ms, int poll_ms) {
  HANDLE ready = raw.getevent ? raw.getevent(p) : nullptr;
  if (!ready) {
    // Without the adapter's event the receive is polled every poll_ms; a wake still ends the wait
    // at once.
    WaitForSingleObject(wake.impl_->event, static_cast<DWORD>(ms < poll_ms ? ms : poll_ms));
    return false;
  }
  HANDLE both[2] = {ready, wake.impl_->event};
  return WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

bool ReceiveWait(PcapHandle, int) { return false; }

int64_t SystemClockUs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const int64_t t100 =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return t100 / 10 - 11644473600LL * 1000000;
}

// ---- the filter of a replayed file ----

struct FileFilter::Impl {
  bool tcp_only = false;
};

FileFilter::FileFilter() : impl_(std::make_unique<Impl>()) {}

FileFilter::~FileFilter() = default;

bool FileFilter::Set(const char* expression, uint32_t, std::string*) {
  // Without a filter compiler for files, the default "tcp" is applied here to Ethernet frames;
  // any other expression or link type lets every frame through to the capture loop's own tests.
  impl_->tcp_only = std::strcmp(expression, "tcp") == 0;
  return true;
}

void FileFilter::Clear() { impl_->tcp_only = false; }

bool FileFilter::Passes(int link_type, const unsigned char* d, uint32_t n) {
  if (!impl_->tcp_only || link_type != kPcapLinkEthernet) return true;
  // IPv4 or IPv6 carrying TCP, behind up to two VLAN tags.
  size_t at = 12;
  for (int tags = 0; tags < 3; ++tags) {
    if (n < at + 2) return false;
    const unsigned type = d[at] << 8 | d[at + 1];
    const size_t ip = at + 2;
    if (type == 0x0800) return n >= ip + 20 && d[ip + 9] == 6;
    if (type == 0x86DD) return n >= ip + 40 && d[ip + 6] == 6;
    if (type != 0x8100 && type != 0x88A8 && type != 0x9100) return false;
    at += 4;
  }
  return false;
}

}  // namespace qvx
