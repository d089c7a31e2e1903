#include "wire/frame.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "wire/le.h"

namespace qvx::wire {
namespace {

using Bytes = std::vector<uint8_t>;

// 10.0.0.1:49153 -> 10.0.0.2:445, seq 4096, PSH|ACK, payload "DATA", padded to the 60-byte
// Ethernet minimum.
const Bytes kFrame = {
    0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x08, 0x00,  // eth
    0x45, 0x00, 0x00, 0x2C, 0x00, 0x01, 0x40, 0x00, 0x40, 0x06, 0x00, 0x00,              // ipv4
    0x0A, 0x00, 0x00, 0x01, 0x0A, 0x00, 0x00, 0x02,                                      //
    0xC0, 0x01, 0x01, 0xBD, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,              // tcp
    0x50, 0x18, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,                                      //
    'D',  'A',  'T',  'A',  0x00, 0x00};                                                 // pad
constexpr size_t kIp = 14, kTcp = 34;

bool Decode(const Bytes& f, TcpSegment* s, int link = kLinkEthernet) {
  return DecodeFrameTcp(link, f.data(), f.size(), s);
}
IpAddress V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t x[4] = {a, b, c, d};
  return IpAddress::V4(x);
}
Bytes With(size_t at, uint8_t value, Bytes f = kFrame) {
  f[at] = value;
  return f;
}

TEST(WireFrameTest, PlainFrameWithoutItsPadding) {
  TcpSegment s;
  ASSERT_TRUE(Decode(kFrame, &s));
  EXPECT_EQ(s.src, V4(10, 0, 0, 1));
  EXPECT_EQ(s.dst, V4(10, 0, 0, 2));
  EXPECT_EQ(s.sport, 49153);
  EXPECT_EQ(s.dport, 445);
  EXPECT_EQ(s.seq, 4096u);
  EXPECT_EQ(s.flags, kTcpPsh | kTcpAck);
  EXPECT_EQ(s.payload, kFrame.data() + 54);
  EXPECT_EQ(s.payload_len, 4u);
  EXPECT_EQ(s.macs[5], 0x01);  // destination, then source
  EXPECT_EQ(s.macs[11], 0x02);

  ASSERT_TRUE(DecodeIpTcp(kFrame.data() + kIp, kFrame.size() - kIp, &s));
  EXPECT_EQ(s.payload, kFrame.data() + 54);
}

TEST(WireFrameTest, VlanTagsAndOptions) {
  Bytes f = kFrame;
  f.insert(f.begin() + 12, {0x81, 0x00, 0x00, 0x64});  // VLAN 100
  TcpSegment s;
  ASSERT_TRUE(Decode(f, &s));
  EXPECT_EQ(s.payload, f.data() + 58);
  f.insert(f.begin() + 12, {0x88, 0xA8, 0x00, 0x0A});  // an 802.1ad service tag outside it
  ASSERT_TRUE(Decode(f, &s));
  EXPECT_EQ(s.payload, f.data() + 62);
  EXPECT_EQ(s.dport, 445);
  f.insert(f.begin() + 12, {0x91, 0x00, 0x00, 0x0B});  // a third tag is not followed
  EXPECT_FALSE(Decode(f, &s));

  // IHL 6 (NOP NOP NOP EOL) and data offset 8 (MSS 1460, NOP, NOP, window scale 7, NOP).
  Bytes g = kFrame;
  g.insert(g.begin() + kTcp + 20,
           {0x02, 0x04, 0x05, 0xB4, 0x01, 0x01, 0x03, 0x03, 0x07, 0x01, 0x01, 0x01});
  g[kTcp + 12] = 0x80;
  g.insert(g.begin() + kTcp, {0x01, 0x01, 0x01, 0x00});
  g[kIp] = 0x46;
  g[kIp + 3] = 0x2C + 16;
  ASSERT_TRUE(Decode(g, &s));
  EXPECT_EQ(s.sport, 49153);
  EXPECT_EQ(s.payload, g.data() + 70);
  EXPECT_EQ(s.payload_len, 4u);
}

TEST(WireFrameTest, RefusesWhatIsNotAFirstIpv4TcpFragment) {
  TcpSegment s;
  EXPECT_FALSE(Decode(With(13, 0xDD, With(12, 0x86)), &s)) << "IPv6 ethertype, IPv4 header";
  EXPECT_FALSE(Decode(With(13, 0x06), &s)) << "ARP";
  EXPECT_FALSE(Decode(With(kIp, 0x44), &s)) << "IHL 4";
  EXPECT_FALSE(Decode(With(kIp + 9, 17), &s)) << "UDP";
  EXPECT_FALSE(Decode(With(kTcp + 12, 0x40), &s)) << "data offset 4";
  EXPECT_FALSE(Decode(With(kIp + 3, 0x13), &s)) << "total length below IHL";
  EXPECT_FALSE(Decode(With(kIp + 3, 0x26), &s)) << "TCP header beyond total length";
  EXPECT_FALSE(Decode(With(kIp + 7, 0x01), &s)) << "fragment offset 8";
  EXPECT_FALSE(Decode(With(kIp + 6, 0x1F), &s)) << "last fragment";
  EXPECT_TRUE(Decode(With(kIp + 6, 0x20), &s)) << "first of several fragments";
}

TEST(WireFrameTest, HeadersBeyondTheCapturedBytes) {
  TcpSegment s;
  EXPECT_FALSE(DecodeFrameTcp(kLinkEthernet, kFrame.data(), 13, &s));
  EXPECT_FALSE(DecodeFrameTcp(kLinkEthernet, kFrame.data(), kIp + 19, &s));
  EXPECT_FALSE(DecodeFrameTcp(kLinkEthernet, kFrame.data(), kTcp + 19, &s));
  EXPECT_FALSE(Decode(With(kTcp + 12, 0xF0), &s)) << "60-byte TCP header in a 26-byte rest";
  ASSERT_TRUE(DecodeFrameTcp(kLinkEthernet, kFrame.data(), kTcp + 20, &s));
  EXPECT_EQ(s.payload_len, 0u);
}

TEST(WireFrameTest, TruncatedCaptureAndOffloadLength) {
  Bytes f = kFrame;
  f.resize(54 + 1000, 0xAB);
  f[kIp + 2] = 0x04;  // total length 1040
  f[kIp + 3] = 0x10;
  TcpSegment s;
  ASSERT_TRUE(DecodeFrameTcp(kLinkEthernet, f.data(), 96, &s));  // a 96-byte snapshot length
  EXPECT_EQ(s.payload_len, 42u);
  EXPECT_EQ(s.wire_payload_len, 1000u);

  f[kIp + 2] = f[kIp + 3] = 0;  // total length 0, as offload leaves it on the sending host
  ASSERT_TRUE(Decode(f, &s));
  EXPECT_EQ(s.payload_len, 1000u);
  EXPECT_EQ(s.wire_payload_len, 1000u);
}

TEST(WireLeTest, BoundsAndByteOrder) {
  const uint8_t b[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  uint16_t v16 = 0;
  uint32_t v32 = 0;
  uint64_t v64 = 0;
  ASSERT_TRUE(Le16(b, 8, 6, &v16));
  EXPECT_EQ(v16, 0x0807);
  EXPECT_FALSE(Le16(b, 8, 7, &v16));
  ASSERT_TRUE(Le32(b, 8, 4, &v32));
  EXPECT_EQ(v32, 0x08070605u);
  EXPECT_FALSE(Le32(b, 8, 5, &v32));
  ASSERT_TRUE(Le64(b, 8, 0, &v64));
  EXPECT_EQ(v64, 0x0807060504030201ull);
  EXPECT_FALSE(Le64(b, 7, 0, &v64));
  EXPECT_FALSE(Le16(b, 8, std::numeric_limits<size_t>::max() - 1, &v16));  // no wrap-around
}

// fd00::5:50123 -> fd00::1:445 with a hop-by-hop header before TCP, payload "SMB!".
Bytes Ipv6Frame() {
  Bytes f = {0x02, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0, 0x02, 0x86, 0xDD};
  const Bytes ip = {0x60, 0, 0, 0, 0x00, 8 + 20 + 4, 0 /* hop-by-hop */, 64};
  f.insert(f.end(), ip.begin(), ip.end());
  Bytes src(16, 0), dst(16, 0);
  src[0] = dst[0] = 0xFD;
  src[15] = 5;
  dst[15] = 1;
  f.insert(f.end(), src.begin(), src.end());
  f.insert(f.end(), dst.begin(), dst.end());
  const Bytes hop = {6 /* TCP next */, 0, 1, 4, 0, 0, 0, 0};  // PadN option
  f.insert(f.end(), hop.begin(), hop.end());
  const Bytes tcp = {0xC3, 0xCB, 0x01, 0xBD, 0, 0, 0x20, 0, 0,   0,   0,   0,
                     0x50, 0x18, 0xFF, 0xFF, 0, 0, 0,    0, 'S', 'M', 'B', '!'};
  f.insert(f.end(), tcp.begin(), tcp.end());
  return f;
}

TEST(WireFrameTest, Ipv6WithExtensionHeaders) {
  const Bytes f = Ipv6Frame();
  TcpSegment s;
  ASSERT_TRUE(Decode(f, &s));
  ASSERT_TRUE(s.src.v6 && s.dst.v6);
  char text[kIpTextSize];
  FormatIpAddress(text, sizeof text, s.src);
  EXPECT_STREQ(text, "fd00::5");
  FormatIpAddress(text, sizeof text, s.dst);
  EXPECT_STREQ(text, "fd00::1");
  EXPECT_EQ(s.sport, 50123);
  EXPECT_EQ(s.dport, 445);
  EXPECT_EQ(s.seq, 0x2000u);
  EXPECT_EQ(s.payload_len, 4u);
  EXPECT_EQ(s.payload[0], 'S');

  Bytes frag = f;  // the hop-by-hop header made a fragment header
  frag[14 + 6] = 44;
  frag[14 + 40 + 1] = 0;
  frag[14 + 40 + 2] = 0x00;
  frag[14 + 40 + 3] = 0x01;  // offset 0, more fragments: the first one carries TCP
  EXPECT_TRUE(Decode(frag, &s));
  frag[14 + 40 + 3] = 0x08;  // offset 1: a later fragment
  EXPECT_FALSE(Decode(frag, &s));
  Bytes udp = f;
  udp[14 + 40] = 17;
  EXPECT_FALSE(Decode(udp, &s)) << "UDP after the extension header";
  EXPECT_FALSE(Decode(Bytes(f.begin(), f.begin() + 14 + 40 + 8 + 19), &s)) << "TCP header cut";
}

// The same IPv4 datagram behind every other link layer the decoder reads.
TEST(WireFrameTest, OtherLinkTypes) {
  const Bytes ip(kFrame.begin() + kIp, kFrame.end());
  const auto behind = [&](Bytes head) {
    head.insert(head.end(), ip.begin(), ip.end());
    return head;
  };
  TcpSegment s;
  // Linux cooked: packet type, ARPHRD_ETHER, address length 6, the sender's MAC, protocol.
  const Bytes sll = behind({0, 0, 0, 1, 0, 6, 0x02, 0, 0, 0, 0, 0x07, 0, 0, 0x08, 0x00});
  ASSERT_TRUE(Decode(sll, &s, kLinkSll));
  EXPECT_EQ(s.dport, 445);
  EXPECT_EQ(s.macs[11], 0x07);
  EXPECT_EQ(s.macs[5], 0x00) << "a cooked capture names no destination";
  // Linux cooked v2: protocol, reserved, interface index, ARPHRD, packet type, address length.
  const Bytes sll2 =
      behind({0x08, 0x00, 0, 0, 0, 0, 0, 2, 0, 1, 4, 6, 0x02, 0, 0, 0, 0, 0x09, 0, 0});
  ASSERT_TRUE(Decode(sll2, &s, kLinkSll2));
  EXPECT_EQ(s.src, V4(10, 0, 0, 1));
  EXPECT_EQ(s.macs[11], 0x09);
  // BSD loopback: AF_INET in the capturing host's order, either; OpenBSD's in network order.
  EXPECT_TRUE(Decode(behind({2, 0, 0, 0}), &s, kLinkNull));
  EXPECT_TRUE(Decode(behind({0, 0, 0, 2}), &s, kLinkNull));
  EXPECT_TRUE(Decode(behind({0, 0, 0, 2}), &s, kLinkLoop));
  EXPECT_FALSE(Decode(behind({7, 0, 0, 0}), &s, kLinkNull)) << "another family";
  // Raw IP, under each number it goes by.
  for (int link : {kLinkRaw, kLinkRawDlt, kLinkRawDltBsd, kLinkIpv4}) {
    ASSERT_TRUE(Decode(ip, &s, link)) << link;
    EXPECT_EQ(s.dst, V4(10, 0, 0, 2));
  }
  const Bytes eth6 = Ipv6Frame();
  const Bytes v6(eth6.begin() + 14, eth6.end());
  EXPECT_TRUE(Decode(v6, &s, kLinkRaw));
  EXPECT_TRUE(Decode(v6, &s, kLinkIpv6));
  EXPECT_FALSE(Decode(ip, &s, kLinkIpv6)) << "an IPv4 datagram on an IPv6 link";
  EXPECT_FALSE(Decode(behind({0x1E, 0, 0, 0}), &s, kLinkNull)) << "IPv6 family, IPv4 datagram";
  // Link types it does not read, named for the refusal.
  EXPECT_FALSE(Decode(kFrame, &s, 105)) << "802.11";
  EXPECT_EQ(LinkTypeName(105), nullptr);
  EXPECT_STREQ(LinkTypeName(kLinkSll2), "Linux cooked v2");
}

}  // namespace
}  // namespace qvx::wire
