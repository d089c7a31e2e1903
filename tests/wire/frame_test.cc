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

bool Decode(const Bytes& f, Tcp4Segment* s) { return DecodeEthernetTcp4(f.data(), f.size(), s); }
Bytes With(size_t at, uint8_t value, Bytes f = kFrame) {
  f[at] = value;
  return f;
}

TEST(WireFrameTest, PlainFrameWithoutItsPadding) {
  Tcp4Segment s;
  ASSERT_TRUE(Decode(kFrame, &s));
  EXPECT_EQ(s.src, 0x0A000001u);
  EXPECT_EQ(s.dst, 0x0A000002u);
  EXPECT_EQ(s.sport, 49153);
  EXPECT_EQ(s.dport, 445);
  EXPECT_EQ(s.seq, 4096u);
  EXPECT_EQ(s.flags, kTcpPsh | kTcpAck);
  EXPECT_EQ(s.ip_offset, 14u);
  EXPECT_EQ(s.payload, kFrame.data() + 54);
  EXPECT_EQ(s.payload_len, 4u);

  ASSERT_TRUE(DecodeIpv4Tcp(kFrame.data() + kIp, kFrame.size() - kIp, &s));
  EXPECT_EQ(s.ip_offset, 0u);
  EXPECT_EQ(s.payload, kFrame.data() + 54);
}

TEST(WireFrameTest, VlanTagAndOptions) {
  Bytes f = kFrame;
  f.insert(f.begin() + 12, {0x81, 0x00, 0x00, 0x64});  // VLAN 100
  Tcp4Segment s;
  ASSERT_TRUE(Decode(f, &s));
  EXPECT_EQ(s.ip_offset, 18u);
  EXPECT_EQ(s.payload, f.data() + 58);
  f.insert(f.begin() + 12, {0x81, 0x00, 0x00, 0x65});  // a second tag is not followed
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
  EXPECT_EQ(s.ip_header_len, 24u);
  EXPECT_EQ(s.tcp_header_len, 32u);
  EXPECT_EQ(s.sport, 49153);
  EXPECT_EQ(s.payload, g.data() + 70);
  EXPECT_EQ(s.payload_len, 4u);
}

TEST(WireFrameTest, RefusesWhatIsNotAFirstIpv4TcpFragment) {
  Tcp4Segment s;
  EXPECT_FALSE(Decode(With(13, 0xDD, With(12, 0x86)), &s)) << "IPv6 ethertype";
  EXPECT_FALSE(Decode(With(kIp, 0x65), &s)) << "version 6";
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
  Tcp4Segment s;
  EXPECT_FALSE(DecodeEthernetTcp4(kFrame.data(), 13, &s));
  EXPECT_FALSE(DecodeEthernetTcp4(kFrame.data(), kIp + 19, &s));
  EXPECT_FALSE(DecodeEthernetTcp4(kFrame.data(), kTcp + 19, &s));
  EXPECT_FALSE(Decode(With(kTcp + 12, 0xF0), &s)) << "60-byte TCP header in a 26-byte rest";
  ASSERT_TRUE(DecodeEthernetTcp4(kFrame.data(), kTcp + 20, &s));
  EXPECT_EQ(s.payload_len, 0u);
}

TEST(WireFrameTest, TruncatedCaptureAndOffloadLength) {
  Bytes f = kFrame;
  f.resize(54 + 1000, 0xAB);
  f[kIp + 2] = 0x04;  // total length 1040
  f[kIp + 3] = 0x10;
  Tcp4Segment s;
  ASSERT_TRUE(DecodeEthernetTcp4(f.data(), 96, &s));  // a 96-byte snapshot length
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

TEST(WireFrameTextTest, AddressesAndPortsOfADatagram) {
  // IPv4 header (20 bytes) from 10.211.0.25 to 10.211.0.1, TCP from port 50123 to 445.
  uint8_t d[24] = {0x45, 0,   0, 0,  0,  0,   0, 0, 64,   6,    0,    0,
                   10,   211, 0, 25, 10, 211, 0, 1, 0xC3, 0xCB, 0x01, 0xBD};
  char text[32];
  QVX_FrameSrcAddr(d, text, sizeof text);
  EXPECT_STREQ(text, "10.211.0.25");
  QVX_FrameDstAddr(d, text, sizeof text);
  EXPECT_STREQ(text, "10.211.0.1");
  QVX_FrameSrcPort(d, text, sizeof text);
  EXPECT_STREQ(text, "50123");
  QVX_FrameDstPort(d, text, sizeof text);
  EXPECT_STREQ(text, "445");
  d[12] = 255;  // every byte printed unsigned
  QVX_FrameSrcAddr(d, text, sizeof text);
  EXPECT_STREQ(text, "255.211.0.25");
}

}  // namespace
}  // namespace qvx::wire
