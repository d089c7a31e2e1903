// An IPv4 or IPv6 address, as the capture reads it off a frame and as settings name it, and its
// standard text: dotted for IPv4, RFC 5952 for IPv6 (lower-case hex, leading zeros dropped, the
// longest run of two or more zero groups as "::", the first of equal runs; an IPv4-mapped
// address as ::ffff:a.b.c.d).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qvx {

// Room for the longest address text and its terminator (INET6_ADDRSTRLEN).
inline constexpr size_t kIpTextSize = 46;

struct IpAddress {
  // IPv4: the four bytes in bytes[0..3], the rest zero. IPv6: all sixteen in network order.
  uint8_t bytes[16] = {};
  bool v6 = false;

  static IpAddress V4(const uint8_t* four) {
    IpAddress a;
    std::memcpy(a.bytes, four, 4);
    return a;
  }
  static IpAddress V6(const uint8_t* sixteen) {
    IpAddress a;
    std::memcpy(a.bytes, sixteen, 16);
    a.v6 = true;
    return a;
  }
  // The unspecified address of its family (0.0.0.0 or ::).
  bool IsUnspecified() const {
    for (uint8_t b : bytes)
      if (b != 0) return false;
    return true;
  }
  bool operator==(const IpAddress& o) const {
    return v6 == o.v6 && std::memcmp(bytes, o.bytes, 16) == 0;
  }
  bool operator!=(const IpAddress& o) const { return !(*this == o); }
  uint64_t Hash() const {
    uint64_t a, b;
    std::memcpy(&a, bytes, 8);
    std::memcpy(&b, bytes + 8, 8);
    uint64_t h = (a ^ (b * 0x9E3779B97F4A7C15ull)) + (v6 ? 0x632BE59BD9B4E019ull : 0);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 29);
  }
};

// The address's standard text, cut to size like CopyText; returns its length.
size_t FormatIpAddress(char* out, size_t size, const IpAddress& a);
// Reads a dotted IPv4 address (as ParseDottedQuad: leading zeros read as decimal) or an IPv6
// address in any of the RFC 4291 forms ("::" once, an IPv4 tail, hex of either case). Brackets,
// zone indexes, prefixes and blanks are refused. Nothing is written on failure.
bool ParseIpAddress(const char* text, IpAddress* out);
// The address text in its standard form, when text is an address of either family: so that a
// setting written "FD00::0001" or "010.0.0.1" names the address the frames carry. False (out
// untouched) when text is none.
bool NormalizeIpText(const char* text, char* out, size_t size);

}  // namespace qvx

namespace qvx {

// The two ends of the TCP connection a message came on, told apart by the message's direction:
// the client, and the server on its SMB port.
struct ConnectionEnds {
  IpAddress client, server;
  uint16_t client_port = 0, server_port = 0;
  bool operator==(const ConnectionEnds& o) const {
    return client == o.client && server == o.server && client_port == o.client_port &&
           server_port == o.server_port;
  }
};

}  // namespace qvx

namespace qvx {

// The texts of connection ends: the addresses in their standard form, the ports in decimal.
struct EndsText {
  char client[kIpTextSize];
  char server[kIpTextSize];
  char client_port[8];
  char server_port[8];
  explicit EndsText(const ConnectionEnds& e);
};

}  // namespace qvx
