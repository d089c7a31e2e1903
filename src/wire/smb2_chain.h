// Iteration over the SMB2 messages of a compound chain within one NBSS message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace qvx::wire {

inline constexpr size_t kSmb2HeaderSize = 64;
inline constexpr uint32_t kSmb2FlagsRelatedOperations = 0x00000004;
inline constexpr size_t kSmb2MaxChain = 64;

// One SMB2 message of a compound chain: offset of its header within the NBSS message and its
// size (up to the next element, or to the end of what was kept for the last one).
struct Smb2Element {
  size_t offset = 0;
  size_t size = 0;
  bool related = false;  // SMB2_FLAGS_RELATED_OPERATIONS
};

// Calls fn for each element whose whole 64-byte header (starting 0xFE 'S' 'M' 'B') was kept.
// Follows NextCommand (header offset 20); stops after an element whose NextCommand is 0, not a
// multiple of 8, below 64 or past `kept` (that element runs to the end of `kept`), and after
// kSmb2MaxChain elements.
void ForEachSmb2Element(const uint8_t* msg, size_t kept,
                        const std::function<void(const Smb2Element&)>& fn);

}  // namespace qvx::wire
