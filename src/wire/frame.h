// Ethernet / IPv4 / TCP decoding of one captured frame, down to the TCP payload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx::wire {

struct Tcp4Segment {
  uint32_t src = 0, dst = 0;  // IPv4 addresses, a.b.c.d as (a<<24)|(b<<16)|(c<<8)|d
  uint16_t sport = 0, dport = 0;
  uint32_t seq = 0;
  uint8_t flags = 0;     // TCP flags byte (FIN 0x01, SYN 0x02, RST 0x04, PSH 0x08, ACK 0x10)
  size_t ip_offset = 0;  // where the IPv4 header starts in the buffer given
  size_t ip_header_len = 0, tcp_header_len = 0;  // from IHL and data offset (options honoured)
  const uint8_t* payload = nullptr;              // TCP payload actually present in the buffer
  size_t payload_len = 0;  // min(IP total length says, bytes captured) - headers
  // The payload length the IP header declares. Larger than payload_len when the capture cut the
  // frame short; the stream decoder still advances the sequence by it. 0 means "as payload_len".
  size_t wire_payload_len = 0;
};

inline constexpr uint8_t kTcpFin = 0x01;
inline constexpr uint8_t kTcpSyn = 0x02;
inline constexpr uint8_t kTcpRst = 0x04;
inline constexpr uint8_t kTcpPsh = 0x08;
inline constexpr uint8_t kTcpAck = 0x10;

// Ethernet II, with at most one 802.1Q tag, carrying IPv4/TCP. False for anything else:
// non-IPv4, IHL < 5, not TCP, a non-first fragment (offset != 0), data offset < 5, headers beyond
// the captured bytes or beyond the IP total length.
bool DecodeEthernetTcp4(const uint8_t* frame, size_t size, Tcp4Segment* out);
// The same starting at the IPv4 header.
bool DecodeIpv4Tcp(const uint8_t* datagram, size_t size, Tcp4Segment* out);

}  // namespace qvx::wire

namespace qvx {

// Texts of a datagram laid out as the handlers get it (IPv4 first, a 20-byte header assumed):
// "%d.%d.%d.%d" of the source/destination address and "%d" of the TCP ports. recvData must hold
// at least 24 bytes.
void QVX_FrameSrcAddr(const unsigned char* recvData, char* out, size_t size);
void QVX_FrameDstAddr(const unsigned char* recvData, char* out, size_t size);
void QVX_FrameSrcPort(const unsigned char* recvData, char* out, size_t size);
void QVX_FrameDstPort(const unsigned char* recvData, char* out, size_t size);

}  // namespace qvx
