// Fixed-size text fields: every copy into a char array goes through here so that a long input is
// cut at the field's size less one and always terminated.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace qvx {

// Copies at most size-1 characters of src into dst and terminates it. A null src gives "".
// Returns the characters copied.
inline size_t CopyText(char* dst, size_t size, const char* src) {
  if (size == 0) return 0;
  if (src == nullptr) src = "";
  size_t n = ::strnlen(src, size - 1);
  std::memmove(dst, src, n);
  dst[n] = '\0';
  return n;
}

// The same for a field of known extent: CopyText(field, "text").
template <size_t N>
inline size_t CopyText(char (&dst)[N], const char* src) {
  return CopyText(dst, N, src);
}

// Copies at most limit characters (and never more than size-1).
inline size_t CopyTextN(char* dst, size_t size, const char* src, size_t limit) {
  if (size == 0) return 0;
  if (limit > size - 1) limit = size - 1;
  return CopyText(dst, limit + 1, src);
}

// A number typed into a field: true when s is one to nine decimal digits and nothing else
// (no sign, no blanks), with its value in *out.
inline bool DecimalText(const char* s, int* out) {
  if (s == nullptr) return false;
  int v = 0;
  size_t n = 0;
  for (; s[n] != '\0'; ++n) {
    if (s[n] < '0' || s[n] > '9' || n == 9) return false;
    v = v * 10 + (s[n] - '0');
  }
  if (n == 0) return false;
  *out = v;
  return true;
}

// "a.b.c.d" of the four bytes of an IPv4 address (as snprintf "%d.%d.%d.%d" writes it, cut like
// CopyText). Spelt out by hand: it runs several times for every frame.
inline size_t DottedQuad(char* dst, size_t size, const unsigned char* a) {
  char t[16];
  size_t n = 0;
  for (int i = 0; i < 4; ++i) {
    const unsigned v = a[i];
    if (v >= 100) t[n++] = static_cast<char>('0' + v / 100);
    if (v >= 10) t[n++] = static_cast<char>('0' + v / 10 % 10);
    t[n++] = static_cast<char>('0' + v % 10);
    t[n++] = i < 3 ? '.' : '\0';
  }
  return CopyText(dst, size, t);
}

// Reads an IPv4 address written as a dotted quad: exactly four parts of one to three decimal
// digits, each 0-255, and nothing else (no sign, no blanks, no hexadecimal). A leading zero is
// read as decimal ("010" is ten), as the adapter look-up has always read it. The bytes go to
// out[0..3] in the order written; nothing is written on failure.
bool ParseDottedQuad(const char* s, unsigned char out[4]);

// "YYYY/MM/DD hh:mm:ss" (as snprintf "%04d/%02d/%02d %02d:%02d:%02d" writes it, cut like
// CopyText). Spelt out by hand: every access line and list row carries one.
size_t DateTimeText(char* dst, size_t size, int year, int month, int day, int hour, int minute,
                    int second);

// Values from the wire reach the logs and the list only as visible text: every byte that is not
// printable text (control characters, DEL, C1 controls, line and paragraph separators, bidi
// overrides, bytes of no valid character) is written as <XX>, its value in two hex digits, and
// "<" itself as <3C> so that an escape can never be faked.
// True when text[0, n) can be written as it is.
bool QVX_TextIsPlain(const char* text, size_t n);
// Appends text[0, n) to out in the escaped form.
void QVX_AppendEscaped(std::string& out, const char* text, size_t n);
// Escapes the n bytes of the line in buf (size bytes, terminated after) in place, all but its
// closing CR LF; a line that grows past the buffer is cut and keeps its end, and an escape is
// never cut in half. Returns the new length.
size_t QVX_EscapeLine(char* buf, size_t n, size_t size);

}  // namespace qvx
