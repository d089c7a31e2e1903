// The capture port on Linux: libpcap linked in, a pipe to wake waiters, poll on the adapter's
// selectable descriptor.
#include "platform/pcap_port.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "platform/pcap_calls.h"

namespace qvx {

namespace {

// libpcap's structures and the calls that take them, for pcap_calls.h.
struct Libpcap {
  using If = pcap_if_t;
  using Header = pcap_pkthdr;
  using Program = bpf_program;
  using Stat = pcap_stat;
  using SockaddrIn = sockaddr_in;
  static constexpr int kAfInet = AF_INET;
  decltype(&pcap_findalldevs) findalldevs;
  decltype(&pcap_freealldevs) freealldevs;
  decltype(&pcap_compile) compile;
  decltype(&pcap_setfilter) setfilter;
  decltype(&pcap_freecode) freecode;
  decltype(&pcap_next_ex) next_ex;
  decltype(&pcap_stats) stats;
};
const Libpcap kLibpcap = {pcap_findalldevs, pcap_freealldevs, pcap_compile, pcap_setfilter,
                          pcap_freecode,    pcap_next_ex,     pcap_stats};

}  // namespace

const PcapApi* BindPcap(std::string*) {
  static const PcapApi api = [] {
    PcapApi a;
    a.list_ipv4 = pcap_calls::ListIPv4<kLibpcap>;
    a.open_live = pcap_open_live;
    a.set_filter = pcap_calls::SetFilter<kLibpcap>;
    a.next = pcap_calls::Next<kLibpcap>;
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
    a.setnonblock = pcap_setnonblock;
    a.stats = pcap_calls::Stats<kLibpcap>;
    return a;
  }();
  return &api;
}

// ---- waking ----

struct WakeObject::Impl {
  int fds[2] = {-1, -1};  // read end, write end; both never block
};

WakeObject::WakeObject() = default;

WakeObject::~WakeObject() {
  if (!impl_) return;
  for (int fd : impl_->fds)
    if (fd >= 0) ::close(fd);
}

bool WakeObject::Ready() {
  if (impl_) return true;
  auto made = std::make_unique<Impl>();
  if (::pipe2(made->fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  impl_ = std::move(made);
  return true;
}

void WakeObject::Wake() {
  if (!impl_) return;
  const char c = 1;
  (void)!::write(impl_->fds[1], &c, 1);
}

void WakeObject::Reset() {
  if (!impl_) return;
  char buf[64];
  while (::read(impl_->fds[0], buf, sizeof buf) > 0) {
  }
}

bool WaitReadable(PcapHandle p, WakeObject& wake, int ms, int poll_ms) {
  const int fd = pcap_get_selectable_fd(p);
  pollfd fds[2] = {{wake.impl_->fds[0], POLLIN, 0}, {fd, POLLIN, 0}};
  if (fd < 0) {
    ::poll(fds, 1, ms < poll_ms ? ms : poll_ms);
    return false;
  }
  return ::poll(fds, 2, ms) > 0 && (fds[1].revents & POLLIN) != 0;
}

bool ReceiveWait(PcapHandle p, int ms) {
  pollfd pfd = {pcap_get_selectable_fd(p), POLLIN, 0};
  return pfd.fd >= 0 && ::poll(&pfd, 1, ms) > 0;
}

int64_t SystemClockUs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// ---- the filter of a replayed file ----

struct FileFilter::Impl {
  bpf_program prog{};
};

FileFilter::FileFilter() = default;

FileFilter::~FileFilter() { Clear(); }

bool FileFilter::Set(const char* expression, uint32_t netmask, std::string* error) {
  // Frames of a file are Ethernet, and no receive delivers more than 65535 bytes of one.
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  if (!dead) {
    *error = "cannot compile filters";
    return false;
  }
  auto made = std::make_unique<Impl>();
  if (pcap_compile(dead, &made->prog, expression, 1, netmask) == -1) {
    *error = pcap_geterr(dead);
    pcap_close(dead);
    return false;
  }
  pcap_close(dead);
  Clear();
  impl_ = std::move(made);
  return true;
}

void FileFilter::Clear() {
  if (impl_) pcap_freecode(&impl_->prog);
  impl_.reset();
}

bool FileFilter::Passes(const unsigned char* frame, uint32_t len) const {
  if (!impl_) return true;
  pcap_pkthdr h{};
  h.caplen = len;
  h.len = len;
  return pcap_offline_filter(&impl_->prog, &h, frame) != 0;
}

}  // namespace qvx
