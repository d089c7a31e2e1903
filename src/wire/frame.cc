#include "wire/frame.h"

#include <cstring>

#include "wire/le.h"

namespace qvx::wire {

namespace {

constexpr size_t kEthernetHeader = 14;
constexpr size_t kVlanTag = 4;
constexpr int kMaxVlanTags = 2;
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr uint8_t kIpProtoTcp = 6;
constexpr size_t kIpv6Header = 40;
constexpr size_t kSllHeader = 16;
constexpr size_t kSll2Header = 20;

bool VlanType(uint16_t type) { return type == 0x8100 || type == 0x88A8 || type == 0x9100; }

// The protocol type at *at of a frame of size bytes, past up to two VLAN tags (each 4 bytes: the
// tag control, then the next type). *at ends on the type field that is no tag; false when the
// frame ends first or carries more tags.
bool TypePastTags(const uint8_t* frame, size_t size, size_t* at, uint16_t* type) {
  if (size < *at + 2) return false;
  *type = LoadBe16(frame + *at);
  for (int tags = 0; VlanType(*type); ++tags) {
    if (tags == kMaxVlanTags) return false;
    *at += kVlanTag;
    if (size < *at + 2) return false;
    *type = LoadBe16(frame + *at);
  }
  return true;
}

// The TCP header at tcp, with end - ihl bytes of the datagram after the IP header.
bool DecodeTcp(const uint8_t* tcp, size_t avail, size_t declared, TcpSegment* out) {
  if (avail < 20) return false;
  const size_t thl = static_cast<size_t>(tcp[12] >> 4) * 4;
  if (thl < 20 || thl > avail) return false;
  out->sport = LoadBe16(tcp);
  out->dport = LoadBe16(tcp + 2);
  out->seq = LoadBe32(tcp + 4);
  out->flags = tcp[13];
  out->payload = tcp + thl;
  out->payload_len = avail - thl;
  // declared is the TCP segment's length as the IP header gives it; 0 when it gives none.
  out->wire_payload_len = declared > thl ? declared - thl : out->payload_len;
  return true;
}

bool DecodeIpv4(const uint8_t* ip, size_t size, TcpSegment* out) {
  if (size < 20 || (ip[0] >> 4) != 4) return false;
  const size_t ihl = static_cast<size_t>(ip[0] & 0x0F) * 4;
  if (ihl < 20 || ihl > size) return false;
  if ((LoadBe16(ip + 6) & 0x1FFF) != 0) return false;  // a later fragment has no TCP header
  if (ip[9] != kIpProtoTcp) return false;
  // A total length of 0 is what segmentation offload leaves in frames captured on the sending
  // host; the captured bytes are all there is to go by then.
  const size_t total = LoadBe16(ip + 2);
  size_t end = size;
  if (total != 0) {
    if (total < ihl) return false;
    if (total < end) end = total;  // Ethernet padding of short frames lies beyond it
  }
  if (!DecodeTcp(ip + ihl, end - ihl, total != 0 ? total - ihl : 0, out)) return false;
  out->src = IpAddress::V4(ip + 12);
  out->dst = IpAddress::V4(ip + 16);
  return true;
}

bool DecodeIpv6(const uint8_t* ip, size_t size, TcpSegment* out) {
  if (size < kIpv6Header || (ip[0] >> 4) != 6) return false;
  // A payload length of 0: a jumbogram, or segmentation offload as with IPv4.
  const size_t payload = LoadBe16(ip + 4);
  size_t end = size;
  if (payload != 0 && kIpv6Header + payload < end) end = kIpv6Header + payload;
  uint8_t next = ip[6];
  size_t at = kIpv6Header;
  // Extension headers before TCP: hop-by-hop, routing, destination options, fragment, AH.
  for (int i = 0; i < 8 && next != kIpProtoTcp; ++i) {
    if (end - at < 8) return false;
    const uint8_t* h = ip + at;
    size_t len;
    switch (next) {
      case 0:
      case 43:
      case 60:
        len = (static_cast<size_t>(h[1]) + 1) * 8;
        break;
      case 44:
        if ((LoadBe16(h + 2) & 0xFFF8) != 0) return false;  // a later fragment
        len = 8;
        break;
      case 51:
        len = (static_cast<size_t>(h[1]) + 2) * 4;
        break;
      default:
        return false;
    }
    if (len > end - at) return false;
    next = h[0];
    at += len;
  }
  if (next != kIpProtoTcp) return false;
  const size_t declared =
      payload != 0 && kIpv6Header + payload >= at ? kIpv6Header + payload - at : 0;
  if (!DecodeTcp(ip + at, end - at, declared, out)) return false;
  out->src = IpAddress::V6(ip + 8);
  out->dst = IpAddress::V6(ip + 24);
  return true;
}

// The network protocol by its EtherType, at ip.
bool DecodeByType(uint16_t type, const uint8_t* ip, size_t size, TcpSegment* out) {
  if (type == kEtherTypeIpv4) return DecodeIpv4(ip, size, out);
  if (type == kEtherTypeIpv6) return DecodeIpv6(ip, size, out);
  return false;
}

bool DecodeEthernet(const uint8_t* frame, size_t size, TcpSegment* out) {
  if (size < kEthernetHeader) return false;
  size_t at = 12;
  uint16_t type = 0;
  if (!TypePastTags(frame, size, &at, &type)) return false;
  at += 2;
  if (!DecodeByType(type, frame + at, size - at, out)) return false;
  std::memcpy(out->macs, frame, 12);
  return true;
}

// Loopback captures give the address family: 2 is IPv4 everywhere, IPv6 is 24, 28 or 30 by the
// system that captured (10 on Linux).
bool DecodeLoopback(uint32_t family, const uint8_t* ip, size_t size, TcpSegment* out) {
  if (family == 2) return DecodeIpv4(ip, size, out);
  if (family == 24 || family == 28 || family == 30 || family == 10)
    return DecodeIpv6(ip, size, out);
  return false;
}

// A cooked capture names the sender's link-layer address: taken as the source MAC when it is one.
void CookedSource(const uint8_t* addr, size_t addr_len, TcpSegment* out) {
  if (addr_len == 6) std::memcpy(out->macs + 6, addr, 6);
}

}  // namespace

const char* LinkTypeName(int link_type) {
  switch (link_type) {
    case kLinkNull:
      return "BSD loopback";
    case kLinkEthernet:
      return "Ethernet";
    case kLinkRawDlt:
    case kLinkRawDltBsd:
    case kLinkRaw:
      return "raw IP";
    case kLinkLoop:
      return "OpenBSD loopback";
    case kLinkSll:
      return "Linux cooked";
    case kLinkIpv4:
      return "raw IPv4";
    case kLinkIpv6:
      return "raw IPv6";
    case kLinkSll2:
      return "Linux cooked v2";
    default:
      return nullptr;
  }
}

bool DecodeIpTcp(const uint8_t* ip, size_t size, TcpSegment* out) {
  if (size < 1) return false;
  switch (ip[0] >> 4) {
    case 4:
      return DecodeIpv4(ip, size, out);
    case 6:
      return DecodeIpv6(ip, size, out);
    default:
      return false;
  }
}

bool DecodeFrameTcp(int link_type, const uint8_t* frame, size_t size, TcpSegment* out) {
  *out = TcpSegment{};
  switch (link_type) {
    case kLinkEthernet:
      return DecodeEthernet(frame, size, out);
    case kLinkRawDlt:
    case kLinkRawDltBsd:
    case kLinkRaw:
      return DecodeIpTcp(frame, size, out);
    case kLinkIpv4:
      return DecodeIpv4(frame, size, out);
    case kLinkIpv6:
      return DecodeIpv6(frame, size, out);
    case kLinkNull: {
      if (size < 4) return false;
      // Host byte order of the capturing system, which the file does not say: either.
      uint32_t family = LoadLe32(frame);
      if (family > 0xFFFF) family = LoadBe32(frame);
      return DecodeLoopback(family, frame + 4, size - 4, out);
    }
    case kLinkLoop:
      if (size < 4) return false;
      return DecodeLoopback(LoadBe32(frame), frame + 4, size - 4, out);
    case kLinkSll: {
      if (size < kSllHeader) return false;
      size_t at = kSllHeader - 2;  // the protocol type
      uint16_t type = 0;
      if (!TypePastTags(frame, size, &at, &type)) return false;
      at += 2;
      if (!DecodeByType(type, frame + at, size - at, out)) return false;
      CookedSource(frame + 6, LoadBe16(frame + 4), out);
      return true;
    }
    case kLinkSll2: {
      if (size < kSll2Header) return false;
      if (!DecodeByType(LoadBe16(frame), frame + kSll2Header, size - kSll2Header, out))
        return false;
      CookedSource(frame + 12, frame[11], out);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace qvx::wire
