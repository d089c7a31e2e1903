// The Linux capture port: waits that a wake ends, frames read through the bound table, the
// filter of replayed files, the clock of live frames.
#include "platform/pcap_port.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <future>
#include <string>
#include <vector>

namespace qvx {
namespace {

// A capture read from a pipe: its selectable descriptor is the pipe, quiet until the test
// writes a record into it, just as an adapter is until a frame comes.
class PipeCapture {
 public:
  PipeCapture() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    write_fd_ = fds[1];
    // The file header (pcap, microseconds, version 2.4, Ethernet).
    const uint32_t head[6] = {0xA1B2C3D4u, 2u | 4u << 16, 0, 0, 65535, 1};
    Put(head, sizeof head);
    char err[PCAP_ERRBUF_SIZE];
    p_ = pcap_fopen_offline(::fdopen(fds[0], "rb"), err);
  }
  ~PipeCapture() {
    if (p_) pcap_close(p_);
    if (write_fd_ >= 0) ::close(write_fd_);
  }
  PcapHandle handle() const { return p_; }
  void PutFrame(uint32_t sec, uint32_t usec, const std::vector<unsigned char>& frame) {
    const uint32_t rec[4] = {sec, usec, static_cast<uint32_t>(frame.size()),
                             static_cast<uint32_t>(frame.size())};
    Put(rec, sizeof rec);
    Put(frame.data(), frame.size());
  }

 private:
  void Put(const void* data, size_t n) { ASSERT_EQ(::write(write_fd_, data, n), ssize_t(n)); }
  int write_fd_ = -1;
  pcap_t* p_ = nullptr;
};

// Microseconds a call took, by the port's own clock (no tight bounds are drawn from it).
template <typename F>
int64_t Took(F&& f) {
  const int64_t start = SystemClockUs();
  f();
  return SystemClockUs() - start;
}

TEST(PcapPortTest, AWakeEndsAWaitOnAQuietAdapterAndResetEndsTheWake) {
  PipeCapture cap;
  ASSERT_NE(cap.handle(), nullptr);
  WakeObject wake;
  ASSERT_TRUE(wake.Ready());
  // A minute's wait on an adapter that carries nothing, ended from another thread.
  auto waiter = std::async(std::launch::async, [&] {
    bool frame = true;
    const int64_t us = Took([&] { frame = WaitReadable(cap.handle(), wake, 60000, 20); });
    return std::make_pair(frame, us);
  });
  wake.Wake();
  const auto [frame, us] = waiter.get();
  EXPECT_FALSE(frame);
  EXPECT_LT(us, 10 * 1000000);
  // Woken twice, reset once: the next wait runs its time out again.
  wake.Wake();
  wake.Reset();
  EXPECT_GE(Took([&] { EXPECT_FALSE(WaitReadable(cap.handle(), wake, 100, 20)); }), 50 * 1000);
}

TEST(PcapPortTest, AFrameEndsTheWaitAndComesThroughTheTable) {
  PipeCapture cap;
  ASSERT_NE(cap.handle(), nullptr);
  WakeObject wake;
  ASSERT_TRUE(wake.Ready());
  cap.PutFrame(1765338000, 123456, std::vector<unsigned char>(60, 0xAB));
  EXPECT_TRUE(WaitReadable(cap.handle(), wake, 60000, 20));
  const PcapApi* api = BindPcap(nullptr);
  ASSERT_NE(api, nullptr);
  const unsigned char* data = nullptr;
  uint32_t caplen = 0;
  int64_t sec = 0;
  long usec = 0;
  ASSERT_EQ(api->next(cap.handle(), &data, &caplen, &sec, &usec), 1);
  EXPECT_EQ(caplen, 60u);
  EXPECT_EQ(sec, 1765338000);
  EXPECT_EQ(usec, 123456);
  EXPECT_EQ(data[59], 0xAB);
}

// An Ethernet frame of IPv4 carrying the given protocol.
std::vector<unsigned char> Ipv4Frame(unsigned char protocol) {
  std::vector<unsigned char> f(14 + 20 + 20, 0);
  f[12] = 0x08;
  f[14] = 0x45;
  f[14 + 3] = 40;
  f[14 + 8] = 64;
  f[14 + 9] = protocol;
  return f;
}

TEST(PcapPortTest, FileFilterKeepsTheFilterInForceWhenANewOneIsRefused) {
  const auto tcp = Ipv4Frame(6), udp = Ipv4Frame(17);
  FileFilter filter;
  EXPECT_TRUE(filter.Passes(1, udp.data(), uint32_t(udp.size())));
  std::string error;
  ASSERT_TRUE(filter.Set("tcp", 0, &error)) << error;
  EXPECT_TRUE(filter.Passes(1, tcp.data(), uint32_t(tcp.size())));
  EXPECT_FALSE(filter.Passes(1, udp.data(), uint32_t(udp.size())));
  EXPECT_FALSE(filter.Set("tcp and and", 0, &error));
  EXPECT_NE(error, "");
  EXPECT_FALSE(filter.Passes(1, udp.data(), uint32_t(udp.size())));
  filter.Clear();
  EXPECT_TRUE(filter.Passes(1, udp.data(), uint32_t(udp.size())));
}

TEST(PcapPortTest, TheClockOfLiveFramesIsTheSystemsInMicroseconds) {
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  const int64_t us = SystemClockUs();
  EXPECT_GE(us / 1000000, before - 1);
  EXPECT_LE(us / 1000000, static_cast<int64_t>(std::time(nullptr)) + 1);
}

}  // namespace
}  // namespace qvx
