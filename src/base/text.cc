#include "base/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/os_rules.h"
#include "platform/platform.h"

namespace qvx {

namespace {

bool PlainAscii(unsigned char c) { return c >= 0x20 && c != 0x7F && c != '<'; }

// The length of the character at p (at most n bytes) when it may be written as it is; 0 when
// its first byte must be escaped.
size_t PlainChar(const unsigned char* p, size_t n) {
  if (p[0] < 0x80) return PlainAscii(p[0]) ? 1 : 0;
  if constexpr (os::kDoubleByteCodePage) {
    // A lead byte with its trail byte is one character; other high bytes are characters of
    // their own.
    if (QVX_IsLeadByte(p[0])) return n >= 2 && p[1] >= 0x40 ? 2 : 0;
    return 1;
  }
  // UTF-8.
  size_t k;
  uint32_t c;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) {
    k = 2;
    c = p[0] & 0x1F;
  } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    k = 3;
    c = p[0] & 0x0F;
  } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    k = 4;
    c = p[0] & 0x07;
  } else {
    return 0;
  }
  if (n < k) return 0;
  for (size_t i = 1; i < k; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  if ((k == 3 && c < 0x800) || (k == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c < 0xE000))
    return 0;
  // C1 controls (NEL among them), line and paragraph separators, bidi embeddings and isolates:
  // each could make a line read differently from what it holds.
  if (c < 0xA0 || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return 0;
  return k;
}

}  // namespace

bool ParseDottedQuad(const char* s, unsigned char out[4]) {
  if (s == nullptr) return false;
  unsigned char bytes[4];
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *s++ != '.') return false;
    unsigned value = 0;
    int digits = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
      if (++digits > 3) return false;
      value = value * 10 + static_cast<unsigned>(*s - '0');
    }
    if (digits == 0 || value > 255) return false;
    bytes[part] = static_cast<unsigned char>(value);
  }
  if (*s != '\0') return false;
  std::memcpy(out, bytes, sizeof bytes);
  return true;
}

size_t DateTimeText(char* dst, size_t size, int year, int month, int day, int hour, int minute,
                    int second) {
  const int two[5] = {month, day, hour, minute, second};
  bool plain = year >= 0 && year <= 9999;
  for (int v : two) plain = plain && v >= 0 && v <= 99;
  if (!plain) {
    // Out of the fixed widths: the library's form, however long.
    char t[80];
    std::snprintf(t, sizeof t, "%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute,
                  second);
    return CopyText(dst, size, t);
  }
  char t[20] = {static_cast<char>('0' + year / 1000), static_cast<char>('0' + year / 100 % 10),
                static_cast<char>('0' + year / 10 % 10), static_cast<char>('0' + year % 10)};
  static constexpr char kSeps[5] = {'/', '/', ' ', ':', ':'};
  size_t n = 4;
  for (int i = 0; i < 5; ++i) {
    t[n++] = kSeps[i];
    t[n++] = static_cast<char>('0' + two[i] / 10);
    t[n++] = static_cast<char>('0' + two[i] % 10);
  }
  t[n] = '\0';
  return CopyText(dst, size, t);
}

bool QVX_TextIsPlain(const char* text, size_t n) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  for (size_t i = 0; i < n;) {
    // Printable ASCII is by far the most common: eight bytes at once when none of them is below
    // a blank, DEL or above, or "<".
    if (n - i >= 8) {
      uint64_t v;
      std::memcpy(&v, p + i, sizeof v);
      const uint64_t lt = v ^ (kOnes * '<');
      const uint64_t bad = ((v - kOnes * 0x20) & ~v) | ((v + kOnes) | v) | ((lt - kOnes) & ~lt);
      if ((bad & kHighs) == 0) {
        i += 8;
        continue;
      }
    }
    if (p[i] < 0x80) {
      if (!PlainAscii(p[i])) return false;
      ++i;
      continue;
    }
    const size_t k = PlainChar(p + i, n - i);
    if (k == 0) return false;
    i += k;
  }
  return true;
}

void QVX_AppendEscaped(std::string& out, const char* text, size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < n;) {
    const size_t k = PlainChar(p + i, n - i);
    if (k == 0) {
      // Each byte of a character that must not appear is escaped on its own.
      size_t bad = 1;
      if (!os::kDoubleByteCodePage && p[i] >= 0xC2 && p[i] <= 0xF4) {
        const size_t want = p[i] <= 0xDF ? 2 : p[i] <= 0xEF ? 3 : 4;
        while (bad < want && i + bad < n && (p[i + bad] & 0xC0) == 0x80) ++bad;
        if (bad < want) bad = 1;  // a broken sequence: only its first byte is no text
      }
      for (size_t j = 0; j < bad; ++j) {
        out += '<';
        out += kHex[p[i + j] >> 4];
        out += kHex[p[i + j] & 0xF];
        out += '>';
      }
      i += bad;
      continue;
    }
    out.append(text + i, k);
    i += k;
  }
}

size_t QVX_EscapeLine(char* buf, size_t n, size_t size) {
  // The line's own end (CR LF) stays; everything before it may hold values from the wire.
  size_t body = n;
  if (body >= 2 && buf[body - 2] == '\r' && buf[body - 1] == '\n')
    body -= 2;
  else if (body >= 1 && buf[body - 1] == '\n')
    body -= 1;
  if (QVX_TextIsPlain(buf, body)) return n;
  std::string text;
  text.reserve(n + 64);
  QVX_AppendEscaped(text, buf, body);
  const std::string end(buf + body, n - body);
  // Cut inside the buffer, still one line; an escape is never cut in half.
  const size_t room = size - 1 - end.size();
  if (text.size() > room) {
    size_t cut = room;
    const size_t open = text.rfind('<', cut);
    if (open != std::string::npos && open + 4 > cut) cut = open;
    text.resize(cut);
  }
  text += end;
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
  return text.size();
}

}  // namespace qvx
