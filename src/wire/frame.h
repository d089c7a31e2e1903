// Decoding of one captured frame down to its TCP payload: the link layer (Ethernet with up to two
// VLAN tags, Linux cooked v1 and v2, BSD loopback/null, raw IP), IPv4 or IPv6, then TCP.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ip_address.h"

namespace qvx::wire {

struct TcpSegment {
  IpAddress src, dst;
  uint16_t sport = 0, dport = 0;
  uint32_t seq = 0;
  uint8_t flags = 0;  // TCP flags byte (FIN 0x01, SYN 0x02, RST 0x04, PSH 0x08, ACK 0x10)
  const uint8_t* payload = nullptr;  // TCP payload actually present in the buffer
  size_t payload_len = 0;            // min(the IP header says, bytes captured) - headers
  // The payload length the IP header declares. Larger than payload_len when the capture cut the
  // frame short; the stream decoder still advances the sequence by it.
  size_t wire_payload_len = 0;
  // The frame's MAC addresses, destination then source; zero where the link layer carries none
  // (a cooked capture names the sender only; loopback and raw IP name neither).
  uint8_t macs[12] = {};
};

inline constexpr uint8_t kTcpFin = 0x01;
inline constexpr uint8_t kTcpSyn = 0x02;
inline constexpr uint8_t kTcpRst = 0x04;
inline constexpr uint8_t kTcpPsh = 0x08;
inline constexpr uint8_t kTcpAck = 0x10;

// Link types, as capture files and the capture library number them.
inline constexpr int kLinkNull = 0;  // BSD loopback: address family in host byte order
inline constexpr int kLinkEthernet = 1;
inline constexpr int kLinkRawDlt = 12;     // raw IP as most systems' libpcap numbers it live
inline constexpr int kLinkRawDltBsd = 14;  // raw IP on OpenBSD
inline constexpr int kLinkRaw = 101;       // raw IP in capture files
inline constexpr int kLinkLoop = 108;      // OpenBSD loopback: address family in network order
inline constexpr int kLinkSll = 113;       // Linux cooked capture
inline constexpr int kLinkIpv4 = 228;
inline constexpr int kLinkIpv6 = 229;
inline constexpr int kLinkSll2 = 276;  // Linux cooked capture v2

// The name of a link type this decoder reads, or nullptr for any other.
const char* LinkTypeName(int link_type);

// One frame of the given link type carrying IPv4 or IPv6 and TCP. False for anything else:
// another network protocol, a later fragment, headers beyond the captured bytes or beyond the
// length the IP header gives, a TCP data offset under 5.
bool DecodeFrameTcp(int link_type, const uint8_t* frame, size_t size, TcpSegment* out);
// The same starting at the IP header (either version).
bool DecodeIpTcp(const uint8_t* datagram, size_t size, TcpSegment* out);

}  // namespace qvx::wire
