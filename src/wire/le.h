// Little- and big-endian field readers for captured bytes. The checked forms refuse a read that
// would run past the end of the buffer; the Load forms are for spans already checked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx::wire {

inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLe32(p)) | (static_cast<uint64_t>(LoadLe32(p + 4)) << 32);
}
inline uint16_t LoadBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// True when `n` bytes from `at` lie inside `size` (written so that `at + n` cannot wrap).
inline bool Fits(size_t size, size_t at, size_t n) { return at <= size && size - at >= n; }

inline bool Le16(const uint8_t* p, size_t size, size_t at, uint16_t* out) {
  if (!Fits(size, at, 2)) return false;
  *out = LoadLe16(p + at);
  return true;
}
inline bool Le32(const uint8_t* p, size_t size, size_t at, uint32_t* out) {
  if (!Fits(size, at, 4)) return false;
  *out = LoadLe32(p + at);
  return true;
}
inline bool Le64(const uint8_t* p, size_t size, size_t at, uint64_t* out) {
  if (!Fits(size, at, 8)) return false;
  *out = LoadLe64(p + at);
  return true;
}

}  // namespace qvx::wire
