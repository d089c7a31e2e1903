#include "wire/smb2_chain.h"

#include "wire/le.h"

namespace qvx::wire {

void ForEachSmb2Element(const uint8_t* msg, size_t kept,
                        const std::function<void(const Smb2Element&)>& fn) {
  size_t offset = 0;
  for (size_t i = 0; i < kSmb2MaxChain; ++i) {
    if (!Fits(kept, offset, kSmb2HeaderSize)) return;
    const uint8_t* h = msg + offset;
    if (h[0] != 0xFE || h[1] != 'S' || h[2] != 'M' || h[3] != 'B') return;
    const uint32_t flags = LoadLe32(h + 16);
    const uint32_t next = LoadLe32(h + 20);
    const size_t rest = kept - offset;
    // A NextCommand that cannot be followed still leaves this element's header good; it gets
    // what was kept and the chain ends with it.
    const bool follow = next != 0 && next % 8 == 0 && next >= kSmb2HeaderSize && next <= rest;
    Smb2Element e;
    e.offset = offset;
    e.size = follow ? next : rest;
    e.related = (flags & kSmb2FlagsRelatedOperations) != 0;
    fn(e);
    if (!follow) return;
    offset += next;
  }
}

}  // namespace qvx::wire
