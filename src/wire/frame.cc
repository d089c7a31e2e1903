#include "wire/frame.h"

#include <cstdio>

#include "base/text.h"
#include "wire/le.h"

namespace qvx::wire {

namespace {

constexpr size_t kEthernetHeader = 14;
constexpr size_t kVlanTag = 4;
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint8_t kIpProtoTcp = 6;

}  // namespace

bool DecodeIpv4Tcp(const uint8_t* ip, size_t size, Tcp4Segment* out) {
  if (size < 20) return false;
  if ((ip[0] >> 4) != 4) return false;
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
  if (end - ihl < 20) return false;
  const uint8_t* tcp = ip + ihl;
  const size_t thl = static_cast<size_t>(tcp[12] >> 4) * 4;
  if (thl < 20 || thl > end - ihl) return false;

  out->src = LoadBe32(ip + 12);
  out->dst = LoadBe32(ip + 16);
  out->sport = LoadBe16(tcp);
  out->dport = LoadBe16(tcp + 2);
  out->seq = LoadBe32(tcp + 4);
  out->flags = tcp[13];
  out->ip_offset = 0;
  out->ip_header_len = ihl;
  out->tcp_header_len = thl;
  out->payload = tcp + thl;
  out->payload_len = end - ihl - thl;
  out->wire_payload_len = total != 0 ? total - ihl - thl : out->payload_len;
  return true;
}

bool DecodeEthernetTcp4(const uint8_t* frame, size_t size, Tcp4Segment* out) {
  if (size < kEthernetHeader) return false;
  size_t at = 12;
  uint16_t type = LoadBe16(frame + at);
  if (type == kEtherTypeVlan) {
    at += kVlanTag;
    if (size < at + 2) return false;
    type = LoadBe16(frame + at);
  }
  if (type != kEtherTypeIpv4) return false;
  at += 2;
  if (!DecodeIpv4Tcp(frame + at, size - at, out)) return false;
  out->ip_offset = at;
  return true;
}

}  // namespace qvx::wire

namespace qvx {

namespace {
void Addr(const unsigned char* p, char* out, size_t size) { DottedQuad(out, size, p); }
void Port(const unsigned char* p, char* out, size_t size) {
  std::snprintf(out, size, "%d", (p[0] << 8) | p[1]);
}
}  // namespace

void QVX_FrameSrcAddr(const unsigned char* d, char* out, size_t size) { Addr(d + 12, out, size); }
void QVX_FrameDstAddr(const unsigned char* d, char* out, size_t size) { Addr(d + 16, out, size); }
void QVX_FrameSrcPort(const unsigned char* d, char* out, size_t size) { Port(d + 20, out, size); }
void QVX_FrameDstPort(const unsigned char* d, char* out, size_t size) { Port(d + 22, out, size); }

}  // namespace qvx
