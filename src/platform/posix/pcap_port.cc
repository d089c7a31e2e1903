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

#include <map>

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
  using SockaddrIn6 = sockaddr_in6;
  static constexpr int kAfInet = AF_INET;
  static constexpr int kAfInet6 = AF_INET6;
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
    a.list_addresses = pcap_calls::ListAddresses<kLibpcap>;
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
  std::string expression;
  uint32_t netmask = 0;
  // Per link type: the compiled program, or none when the expression does not compile for it.
  struct Program {
    bpf_program prog{};
    bool ok = false;
  };
  std::map<int, Program> programs;

  ~Impl() {
    for (auto& [link, p] : programs)
      if (p.ok) pcap_freecode(&p.prog);
  }
  // Compiles the expression for link into *out: false with error set when it does not compile.
  bool Compile(int link, bpf_program* out, std::string* error) const {
    // No receive delivers more than 65535 bytes of a frame.
    pcap_t* dead = pcap_open_dead(link, 65535);
    if (!dead) {
      if (error) *error = "cannot compile filters";
      return false;
    }
    const std::string text = FilterForLink(expression.c_str(), link);
    const bool ok = pcap_compile(dead, out, text.c_str(), 1, netmask) != -1;
    if (!ok && error) *error = pcap_geterr(dead);
    pcap_close(dead);
    return ok;
  }
};

FileFilter::FileFilter() = default;

FileFilter::~FileFilter() { Clear(); }

bool FileFilter::Set(const char* expression, uint32_t netmask, std::string* error) {
  auto made = std::make_unique<Impl>();
  made->expression = expression;
  made->netmask = netmask;
  Impl::Program ethernet;
  if (!made->Compile(kPcapLinkEthernet, &ethernet.prog, error)) return false;
  ethernet.ok = true;
  made->programs.emplace(kPcapLinkEthernet, ethernet);
  impl_ = std::move(made);
  return true;
}

void FileFilter::Clear() { impl_.reset(); }

bool FileFilter::Passes(int link_type, const unsigned char* frame, uint32_t len) {
  if (!impl_) return true;
  auto it = impl_->programs.find(link_type);
  if (it == impl_->programs.end()) {
    Impl::Program p;
    p.ok = impl_->Compile(link_type, &p.prog, nullptr);
    it = impl_->programs.emplace(link_type, p).first;
  }
  if (!it->second.ok) return false;
  pcap_pkthdr h{};
  h.caplen = len;
  h.len = len;
  return pcap_offline_filter(&it->second.prog, &h, frame) != 0;
}

}  // namespace qvx
