// Per-flow reassembly of the NetBIOS-framed SMB stream: hands out each message's first bytes
// however the sender's writes fell into TCP segments, and skips the rest of long messages by count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "wire/frame.h"

namespace qvx::wire {

// One direction of a connection.
struct FlowKey {
  IpAddress src, dst;
  uint16_t sport = 0, dport = 0;
  bool operator==(const FlowKey& o) const {
    return src == o.src && dst == o.dst && sport == o.sport && dport == o.dport;
  }
};

struct FlowKeyHash {
  size_t operator()(const FlowKey& k) const {
    uint64_t h = k.src.Hash() ^ (k.dst.Hash() * 0xC2B2AE3D27D4EB4Full);
    h ^= (static_cast<uint64_t>(k.sport) << 16 | k.dport) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<size_t>(h);
  }
};

struct StreamMessage {
  FlowKey flow;
  const uint8_t* bytes = nullptr;  // the message's first bytes (NBSS header excluded); valid
                                   // during the callback only
  size_t kept = 0;                 // bytes available at `bytes`: min(length, keep_bytes)
  uint32_t length = 0;             // the whole message length from its NBSS header
  int64_t time_us = 0;             // capture time of the segment that completed the kept prefix
};

struct StreamLimits {
  size_t keep_bytes = 8192;  // raised to 4 if lower: the protocol id is always kept
  size_t max_flows = 65536;  // at least 1
};

// Largest session message length accepted (a 24-bit NBSS length cannot exceed it anyway; kept
// as a bound should the length field ever be read wider).
inline constexpr uint32_t kMaxNbssMessage = 16u * 1024 * 1024 + 4096;

// The four protocol ids a session message may begin with.
bool IsSmbProtocolId(const uint8_t* p);

class StreamDecoder {
 public:
  using Sink = std::function<void(const StreamMessage&)>;

  explicit StreamDecoder(StreamLimits limits = {});

  // Feeds one segment (capture order). Calls sink for every message whose kept prefix is
  // complete in this segment, in stream order. The sink must not feed this decoder.
  void Segment(const TcpSegment& seg, int64_t time_us, const Sink& sink);
  // Forgets every flow and zeroes the counters.
  void Reset();

  uint64_t Gaps() const { return gaps_; }        // times the stream was lost and searched for
  uint64_t Resyncs() const { return resyncs_; }  // times it was found again after such a loss
  size_t Flows() const { return index_.size(); }

 private:
  enum class State : uint8_t { kHeader, kSkip, kResync };

  struct Flow {
    FlowKey key;
    uint32_t next_seq = 0;
    uint32_t isn = 0;  // first data sequence number, told by the SYN
    bool syn_seen = false;
    State state = State::kResync;
    bool lost = false;    // in resync after a loss (not after a start mid-stream)
    size_t have = 0;      // bytes in buf: a partial NBSS header + prefix, or the resync carry
    size_t target = 0;    // 4 + kept once the header was judged plausible, else 0
    uint32_t length = 0;  // message length from the judged header
    uint64_t skip = 0;    // message bytes still to pass over
    std::unique_ptr<uint8_t[]> buf;       // allocated on first need, kept for the slot's life
    uint32_t prev = kNone, next = kNone;  // recency list, most recent at head_
  };
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  Flow* Acquire(const FlowKey& key);
  void Forget(uint32_t slot);
  void Unlink(uint32_t slot);
  void PushFront(uint32_t slot);
  void StartClean(Flow& f, uint32_t next_seq, bool syn);
  void Lose(Flow& f);
  void Advance(Flow& f, uint64_t missing);
  void Consume(Flow& f, const uint8_t* data, size_t len, int64_t time_us, const Sink& sink);
  size_t Resync(Flow& f, const uint8_t* data, size_t len, size_t pos);
  void Deliver(Flow& f, const uint8_t* bytes, size_t kept, uint32_t length, int64_t time_us,
               const Sink& sink);
  uint8_t* Buffer(Flow& f);

  StreamLimits limits_;
  std::vector<Flow> slots_;
  std::vector<uint32_t> free_;
  std::unordered_map<FlowKey, uint32_t, FlowKeyHash> index_;
  uint32_t head_ = kNone, tail_ = kNone;
  uint64_t gaps_ = 0, resyncs_ = 0;
};

}  // namespace qvx::wire
