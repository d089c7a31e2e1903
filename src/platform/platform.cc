#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>
#include <ctime>
#include <string>

namespace qvx {
namespace {
Platform* g_platform = nullptr;
}  // namespace

Platform& platform() {
  if (g_platform == nullptr) g_platform = &NativePlatform();
  return *g_platform;
}

Platform* SetPlatform(Platform* p) {
  Platform* previous = g_platform;
  g_platform = p;
  return previous;
}

LocalTime LocalTimeFromTimeT(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &tt);
#else
  localtime_r(&tt, &tm);
#endif
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.wday = tm.tm_wday;
  lt.t = t;
  return lt;
}

int QVX_WideToAnsi(const unsigned char* utf16le, size_t units, char* out, size_t size) {
  if (out == nullptr || size == 0) return 0;
  out[0] = '\0';
  if (utf16le == nullptr) return 1;
  size_t n = 0;  // units before the first zero
  while (n < units && (utf16le[2 * n] | utf16le[2 * n + 1]) != 0) ++n;
  if (n == 0) return 1;
#ifdef _WIN32
  std::wstring w(n, L'\0');
  for (size_t i = 0; i < n; ++i)
    w[i] = static_cast<wchar_t>(utf16le[2 * i] | (utf16le[2 * i + 1] << 8));
  const int need =
      WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  if (need <= 0) return 0;
  std::string all(static_cast<size_t>(need), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(n), all.data(), need, nullptr,
                          nullptr) != need)
    return 0;
  // Too long for out: cut after the last whole character (a lead byte takes its trail byte).
  size_t keep = 0;
  for (size_t i = 0; i < all.size();) {
    const size_t k = IsDBCSLeadByte(static_cast<BYTE>(all[i])) && i + 1 < all.size() ? 2 : 1;
    if (i + k > size - 1) break;
    i += k;
    keep = i;
  }
  std::memcpy(out, all.data(), keep);
  out[keep] = '\0';
  return static_cast<int>(keep + 1);
#else
  size_t o = 0;
  auto put = [&](uint32_t c) {
    char b[4];
    size_t k;
    if (c < 0x80) {
      b[0] = static_cast<char>(c);
      k = 1;
    } else if (c < 0x800) {
      b[0] = static_cast<char>(0xC0 | (c >> 6));
      b[1] = static_cast<char>(0x80 | (c & 0x3F));
      k = 2;
    } else if (c < 0x10000) {
      b[0] = static_cast<char>(0xE0 | (c >> 12));
      b[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      b[2] = static_cast<char>(0x80 | (c & 0x3F));
      k = 3;
    } else {
      b[0] = static_cast<char>(0xF0 | (c >> 18));
      b[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      b[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      b[3] = static_cast<char>(0x80 | (c & 0x3F));
      k = 4;
    }
    if (o + k > size - 1) return false;
    std::memcpy(out + o, b, k);
    o += k;
    return true;
  };
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = utf16le[2 * i] | (utf16le[2 * i + 1] << 8);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      uint32_t lo = utf16le[2 * i + 2] | (utf16le[2 * i + 3] << 8);
      if (lo >= 0xDC00 && lo < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    // A lone surrogate becomes U+FFFD, as the Windows conversion does.
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    if (!put(c)) break;  // cut after the last whole character that fits
  }
  out[o] = '\0';
  return static_cast<int>(o + 1);
#endif
}

int64_t QVX_DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t QVX_UtcOffsetSeconds(const LocalTime& when) {
  const int64_t local = QVX_DaysFromCivil(when.year, static_cast<unsigned>(when.month),
                                          static_cast<unsigned>(when.day)) *
                            86400 +
                        when.hour * 3600 + when.minute * 60 + when.second;
  return local - when.t;
}

#ifndef _WIN32
namespace {
// Code page 850 from 0x80 on.
constexpr uint16_t kCp850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557,
    0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB,
    0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};
}  // namespace
#endif

size_t QVX_OemToWide(const unsigned char* oem, size_t n, unsigned char* out, size_t out_units) {
  if (oem == nullptr || out == nullptr || n == 0 || out_units == 0) return 0;
#ifdef _WIN32
  std::wstring w(n, L'\0');
  int got = MultiByteToWideChar(CP_OEMCP, 0, reinterpret_cast<const char*>(oem),
                                static_cast<int>(n), w.data(), static_cast<int>(n));
  if (got < 0) got = 0;
  size_t units = static_cast<size_t>(got) < out_units ? static_cast<size_t>(got) : out_units;
  for (size_t i = 0; i < units; ++i) {
    out[2 * i] = static_cast<unsigned char>(w[i] & 0xFF);
    out[2 * i + 1] = static_cast<unsigned char>(w[i] >> 8);
  }
  return units;
#else
  const size_t units = n < out_units ? n : out_units;
  for (size_t i = 0; i < units; ++i) {
    const uint16_t c = oem[i] < 0x80 ? oem[i] : kCp850High[oem[i] - 0x80];
    out[2 * i] = static_cast<unsigned char>(c & 0xFF);
    out[2 * i + 1] = static_cast<unsigned char>(c >> 8);
  }
  return units;
#endif
}

bool QVX_IsLeadByte(unsigned char c) {
#ifdef _WIN32
  return IsDBCSLeadByte(c) != 0;
#else
  (void)c;
  return false;
#endif
}

#ifndef _WIN32
namespace {
// The capital of a code point, for the alphabets whose pairs are a fixed distance apart.
uint32_t UpperOf(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;  // Latin-1
  if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
    // Latin Extended-A: capitals and small letters alternate (the odd part of it by one).
    const bool odd_block = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_block ? (c % 2 == 0) : (c % 2 == 1)) return c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}
}  // namespace
#endif

void QVX_TextUpper(char* text) {
  if (text == nullptr) return;
#ifdef _WIN32
  CharUpperBuffA(text, static_cast<DWORD>(std::strlen(text)));
#else
  unsigned char* p = reinterpret_cast<unsigned char*>(text);
  while (*p) {
    if (*p < 0x80) {
      if (*p >= 'a' && *p <= 'z') *p = static_cast<unsigned char>(*p - 0x20);
      ++p;
      continue;
    }
    // Two-byte sequences only: every capital above is two bytes long like its small letter.
    if ((p[0] & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
      const uint32_t c = (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
      const uint32_t u = UpperOf(c);
      if (u != c && u >= 0x80 && u < 0x800) {
        p[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        p[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      }
      p += 2;
      continue;
    }
    // Anything else is skipped whole (a lead byte and its continuation bytes, or a stray byte).
    ++p;
    while ((*p & 0xC0) == 0x80) ++p;
  }
#endif
}

bool QVX_TextEqualNoCase(const char* a, const char* b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
#ifdef _WIN32
  return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
#else
  // ASCII letters fold; every other byte must match exactly.
  for (; *a && *b; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
#endif
}

}  // namespace qvx
