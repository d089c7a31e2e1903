#include "base/ip_address.h"

#include <cstdio>

#include "base/text.h"

namespace qvx {

namespace {

constexpr char kHex[] = "0123456789abcdef";

size_t Group(char* t, unsigned v) {
  size_t n = 0;
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const unsigned digit = (v >> shift) & 0xF;
    if (digit == 0 && !started && shift > 0) continue;
    started = true;
    t[n++] = kHex[digit];
  }
  return n;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseV6(const char* s, uint8_t out[16]) {
  uint16_t head[8], tail[8];
  int nhead = 0, ntail = 0;
  bool gap = false;
  uint8_t v4[4];
  bool has_v4 = false;
  if (s[0] == ':') {
    if (s[1] != ':') return false;
    gap = true;
    s += 2;
  }
  while (*s != '\0') {
    uint16_t* groups = gap ? tail : head;
    int& n = gap ? ntail : nhead;
    // An IPv4 tail: the rest holds a dot before any colon.
    const char* end = s;
    while (*end != '\0' && *end != ':') ++end;
    bool dotted = false;
    for (const char* p = s; p < end; ++p) dotted = dotted || *p == '.';
    if (dotted) {
      if (*end != '\0' || !ParseDottedQuad(s, v4)) return false;
      has_v4 = true;
      break;
    }
    unsigned value = 0;
    int digits = 0;
    for (; s < end; ++s) {
      const int d = HexDigit(*s);
      if (d < 0 || ++digits > 4) return false;
      value = value << 4 | static_cast<unsigned>(d);
    }
    if (digits == 0 || nhead + ntail >= 8) return false;
    groups[n++] = static_cast<uint16_t>(value);
    if (*s == '\0') break;
    ++s;  // the colon
    if (*s == ':') {
      if (gap) return false;  // "::" once only
      gap = true;
      ++s;
    } else if (*s == '\0') {
      return false;  // a trailing single colon
    }
  }
  const int groups = nhead + ntail + (has_v4 ? 2 : 0);
  if (gap ? groups > 7 : groups != 8) return false;
  uint8_t b[16] = {};
  for (int i = 0; i < nhead; ++i) {
    b[2 * i] = static_cast<uint8_t>(head[i] >> 8);
    b[2 * i + 1] = static_cast<uint8_t>(head[i]);
  }
  const int tail_at = 8 - ntail - (has_v4 ? 2 : 0);
  for (int i = 0; i < ntail; ++i) {
    b[2 * (tail_at + i)] = static_cast<uint8_t>(tail[i] >> 8);
    b[2 * (tail_at + i) + 1] = static_cast<uint8_t>(tail[i]);
  }
  if (has_v4) std::memcpy(b + 12, v4, 4);
  std::memcpy(out, b, 16);
  return true;
}

}  // namespace

size_t FormatIpAddress(char* out, size_t size, const IpAddress& a) {
  if (!a.v6) return DottedQuad(out, size, a.bytes);
  unsigned g[8];
  for (int i = 0; i < 8; ++i)
    g[i] = static_cast<unsigned>(a.bytes[2 * i] << 8 | a.bytes[2 * i + 1]);
  // The longest run of zero groups, two at least; the first of equal ones.
  int best = -1, best_len = 1;
  for (int i = 0; i < 8;) {
    if (g[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > best_len) {
      best = i;
      best_len = j - i;
    }
    i = j;
  }
  char t[kIpTextSize];
  size_t n = 0;
  // ::ffff:a.b.c.d, the IPv4-mapped form.
  const bool mapped = best == 0 && best_len == 5 && g[5] == 0xFFFF;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      t[n++] = ':';
      t[n++] = ':';
      i += best_len - 1;
      continue;
    }
    if (n > 0 && t[n - 1] != ':') t[n++] = ':';
    if (mapped && i == 6) {
      n += DottedQuad(t + n, sizeof t - n, a.bytes + 12);
      break;
    }
    n += Group(t + n, g[i]);
  }
  t[n] = '\0';
  return CopyText(out, size, t);
}

bool ParseIpAddress(const char* text, IpAddress* out) {
  if (text == nullptr) return false;
  uint8_t b[16];
  if (ParseDottedQuad(text, b)) {
    *out = IpAddress::V4(b);
    return true;
  }
  if (!ParseV6(text, b)) return false;
  *out = IpAddress::V6(b);
  return true;
}

bool NormalizeIpText(const char* text, char* out, size_t size) {
  IpAddress a;
  if (!ParseIpAddress(text, &a)) return false;
  FormatIpAddress(out, size, a);
  return true;
}

}  // namespace qvx

namespace qvx {

EndsText::EndsText(const ConnectionEnds& e) {
  FormatIpAddress(client, sizeof client, e.client);
  FormatIpAddress(server, sizeof server, e.server);
  std::snprintf(client_port, sizeof client_port, "%u", static_cast<unsigned>(e.client_port));
  std::snprintf(server_port, sizeof server_port, "%u", static_cast<unsigned>(e.server_port));
}

}  // namespace qvx
