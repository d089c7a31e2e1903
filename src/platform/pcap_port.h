// The capture library (libpcap on Linux, wpcap.dll loaded at run time on Windows) and the few OS
// services the capture connector waits with. posix/pcap_port.cc and win32/pcap_port.cc each
// implement it once; the connector above it holds no OS call of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/ip_address.h"

// The capture library's handle (its pcap_t), opaque above the port.
struct pcap;

namespace qvx {

using PcapHandle = struct pcap*;

// Room for the library's error texts (PCAP_ERRBUF_SIZE).
inline constexpr int kPcapErrBufSize = 256;
// The link type of Ethernet adapters (DLT_EN10MB).
inline constexpr int kPcapLinkEthernet = 1;

// The filter installed for an expression on a link: the default "tcp" takes, on Ethernet, frames
// with one or two VLAN tags as well (a server on a trunk port, a mirror port that keeps the
// tags). Other link types carry no tags; other expressions are the user's own.
inline std::string FilterForLink(const char* expression, int link_type) {
  if (link_type == kPcapLinkEthernet && std::string(expression) == "tcp")
    return "tcp or (vlan and (tcp or (vlan and tcp)))";
  return expression;
}

// One address of an adapter (IPv4 or IPv6) and the name that opens the adapter.
using PcapAddressSink = void (*)(void* ctx, const IpAddress& address, const char* name);

// The library's calls, bound once. The optional ones may be null: an older wpcap.dll lacks them,
// and under Wine some are there but unusable.
struct PcapApi {
  // Every IPv4 and IPv6 address of every adapter, in the library's order: 0, or -1 with err set.
  int (*list_addresses)(PcapAddressSink sink, void* ctx, char* err) = nullptr;
  PcapHandle (*open_live)(const char* name, int snaplen, int promisc, int wait_ms,
                          char* err) = nullptr;
  // Compiles filter and installs it on p: 0, or -1 (geterr tells why).
  int (*set_filter)(PcapHandle p, const char* filter, uint32_t netmask) = nullptr;
  // 1 with a frame (valid until the next call on p), 0 when none is waiting, else an error.
  int (*next)(PcapHandle p, const unsigned char** data, uint32_t* caplen, int64_t* sec,
              long* usec) = nullptr;
  void (*close)(PcapHandle p) = nullptr;
  char* (*geterr)(PcapHandle p) = nullptr;
  int (*datalink)(PcapHandle p) = nullptr;

  // Optional. Setting the kernel buffer needs create .. activate, or setbuff.
  PcapHandle (*create)(const char* name, char* err) = nullptr;
  int (*set_snaplen)(PcapHandle p, int snaplen) = nullptr;
  int (*set_promisc)(PcapHandle p, int on) = nullptr;
  int (*set_timeout)(PcapHandle p, int ms) = nullptr;
  int (*set_buffer_size)(PcapHandle p, int bytes) = nullptr;
  int (*set_immediate_mode)(PcapHandle p, int on) = nullptr;
  int (*activate)(PcapHandle p) = nullptr;
  int (*setbuff)(PcapHandle p, int bytes) = nullptr;  // WinPcap's own, on an open adapter
  int (*setnonblock)(PcapHandle p, int on, char* err) = nullptr;
  // Frames received and dropped (the buffer was full) since the open: 0, or -1.
  int (*stats)(PcapHandle p, uint64_t* received, uint64_t* dropped) = nullptr;
  // A receive may block whatever setnonblock said (Wine's wpcap): a stop cannot read what the
  // adapter still holds without risking a wait that only the close ends.
  bool receive_may_block = false;
};

// The library, bound on the first call. Null, with error set (error may be null), when it is not
// installed or lacks the capture calls; asked again, the answer is the same.
const PcapApi* BindPcap(std::string* error);

// Wakes threads blocked in WaitReadable from another thread: an event (Windows) or a pipe
// (Linux). Made on first use and kept.
class WakeObject {
 public:
  WakeObject();
  ~WakeObject();
  WakeObject(const WakeObject&) = delete;
  WakeObject& operator=(const WakeObject&) = delete;

  // False when the system would not give one.
  bool Ready();
  // Ends every wait on it, and every later one until Reset.
  void Wake();
  void Reset();

 private:
  friend bool WaitReadable(PcapHandle p, WakeObject& wake, int ms, int poll_ms);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Waits, at most ms, until the adapter p has a frame for a receive or wake is woken: true for the
// first. Where p offers nothing to wait on, the wait watches wake alone for at most poll_ms and
// answers false, so that the caller polls the receive. wake must be Ready.
bool WaitReadable(PcapHandle p, WakeObject& wake, int ms, int poll_ms);
// A receive's own short wait when no frame was waiting: true when one may be there now. On
// Windows the receive never waits (Wine's wpcap may block past any timeout on a quiet adapter):
// false at once.
bool ReceiveWait(PcapHandle p, int ms);

// The system clock in microseconds since 1970 (the time base of live frames).
int64_t SystemClockUs();

// The filter of a replayed capture file, applied to its frames without an adapter, compiled for
// each link type the file's frames come in (FilterForLink). Linux compiles any expression of the
// library's syntax, and a frame of a link type the expression cannot be compiled for passes not;
// on Windows (no filter compiler for files) the default "tcp" is applied to Ethernet frames and
// any other expression passes every frame.
class FileFilter {
 public:
  FileFilter();
  ~FileFilter();
  FileFilter(const FileFilter&) = delete;
  FileFilter& operator=(const FileFilter&) = delete;

  // Replaces the filter: true, or false with error set (it does not compile for Ethernet) and the
  // filter in force kept.
  bool Set(const char* expression, uint32_t netmask, std::string* error);
  // Passes every frame again.
  void Clear();
  bool Passes(int link_type, const unsigned char* frame, uint32_t len);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qvx
