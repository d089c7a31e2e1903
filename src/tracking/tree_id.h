// Tree identifiers as the lines, rows and repeat checks know them. SMB1 TIDs have 16 bits, SMB2
// TreeIds 32, and both are unsigned: one above 2^31 is shown and compared as the number it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qvx {

// The decimal text of a tree identifier.
struct TreeIdText {
  explicit TreeIdText(uint32_t tid) { std::snprintf(text, sizeof text, "%u", tid); }
  const char* c_str() const { return text; }
  char text[12];
};

// The tree identifier a TreeID text shows: its leading decimal digits (leading blanks skipped),
// kept to 32 bits; 0 when there are none ("WAIT3", "").
inline uint32_t QVX_TreeIdOfText(const char* p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  uint32_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<uint32_t>(*p - '0');
  return v;
}

}  // namespace qvx
