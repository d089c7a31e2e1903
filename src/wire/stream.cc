#include "wire/stream.h"

#include <algorithm>
#include <cstring>

namespace qvx::wire {

namespace {

constexpr uint8_t kNbssSessionMessage = 0x00;
constexpr uint8_t kNbssFirstControl = 0x81;  // session request
constexpr uint8_t kNbssLastControl = 0x85;   // keepalive
constexpr size_t kNbssHeader = 4;
constexpr size_t kJudgeBytes = 8;  // NBSS header + protocol id
constexpr size_t kCarry = kJudgeBytes - 1;

enum class Kind { kNeedMore, kBad, kSession, kControl };
struct Header {
  Kind kind;
  uint32_t length;
};

// Judges the NBSS header at p from the first n bytes (n <= 8). A session message needs all 8 to
// see the protocol id; a control packet is known after 4.
Header Judge(const uint8_t* p, size_t n) {
  if (n < kNbssHeader) return {Kind::kNeedMore, 0};
  if (p[0] == kNbssSessionMessage) {
    const uint32_t length = (static_cast<uint32_t>(p[1]) << 16) | (p[2] << 8) | p[3];
    if (length < 4 || length > kMaxNbssMessage) return {Kind::kBad, 0};
    if (n < kJudgeBytes) return {Kind::kNeedMore, 0};
    if (!IsSmbProtocolId(p + kNbssHeader)) return {Kind::kBad, 0};
    return {Kind::kSession, length};
  }
  if (p[0] >= kNbssFirstControl && p[0] <= kNbssLastControl) {
    // Only the low bit of the flags byte extends the length; the others are reserved as 0.
    if ((p[1] & 0xFE) != 0) return {Kind::kBad, 0};
    return {Kind::kControl, (static_cast<uint32_t>(p[1] & 1) << 16) | (p[2] << 8) | p[3]};
  }
  return {Kind::kBad, 0};
}

// Cheapest tests first: this runs on every byte of a stream being searched.
bool PlausibleStart(const uint8_t* p) {
  return p[5] == 'S' && p[6] == 'M' && p[7] == 'B' && p[0] == kNbssSessionMessage &&
         Judge(p, kJudgeBytes).kind == Kind::kSession;
}

}  // namespace

bool IsSmbProtocolId(const uint8_t* p) {
  return p[0] >= 0xFC && p[1] == 'S' && p[2] == 'M' && p[3] == 'B';
}

StreamDecoder::StreamDecoder(StreamLimits limits) : limits_(limits) {
  limits_.keep_bytes = std::max<size_t>(limits_.keep_bytes, 4);
  limits_.max_flows = std::max<size_t>(limits_.max_flows, 1);
}

void StreamDecoder::Reset() {
  slots_.clear();
  free_.clear();
  index_.clear();
  head_ = tail_ = kNone;
  gaps_ = resyncs_ = 0;
}

void StreamDecoder::Unlink(uint32_t slot) {
  Flow& f = slots_[slot];
  (f.prev == kNone ? head_ : slots_[f.prev].next) = f.next;
  (f.next == kNone ? tail_ : slots_[f.next].prev) = f.prev;
  f.prev = f.next = kNone;
}

void StreamDecoder::PushFront(uint32_t slot) {
  Flow& f = slots_[slot];
  f.prev = kNone;
  f.next = head_;
  (head_ == kNone ? tail_ : slots_[head_].prev) = slot;
  head_ = slot;
}

void StreamDecoder::Forget(uint32_t slot) {
  index_.erase(slots_[slot].key);
  Unlink(slot);
  free_.push_back(slot);
}

StreamDecoder::Flow* StreamDecoder::Acquire(const FlowKey& key) {
  if (index_.size() >= limits_.max_flows) Forget(tail_);
  uint32_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
  } else {
    slot = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Flow& f = slots_[slot];
  f.key = key;
  index_.emplace(key, slot);
  PushFront(slot);
  return &f;
}

uint8_t* StreamDecoder::Buffer(Flow& f) {
  // Room for the NBSS header and the kept prefix; the resync carry (7) and a header being
  // judged (8) fit as keep_bytes is at least 4.
  if (!f.buf) f.buf = std::make_unique<uint8_t[]>(limits_.keep_bytes + kNbssHeader);
  return f.buf.get();
}

void StreamDecoder::StartClean(Flow& f, uint32_t next_seq, bool syn) {
  f.next_seq = next_seq;
  f.isn = next_seq;
  f.syn_seen = syn;
  f.state = State::kHeader;
  f.lost = false;
  f.have = f.target = 0;
  f.length = 0;
  f.skip = 0;
}

void StreamDecoder::Lose(Flow& f) {
  ++gaps_;
  f.lost = true;
  f.state = State::kResync;
  f.have = f.target = 0;
  f.skip = 0;
}

// Bytes of the stream that were not captured. Inside data being skipped anyway they cost
// nothing; anywhere else the message boundaries are gone.
void StreamDecoder::Advance(Flow& f, uint64_t missing) {
  if (missing == 0) return;
  if (f.state == State::kSkip && missing <= f.skip) {
    f.skip -= missing;
    if (f.skip == 0) f.state = State::kHeader;
    return;
  }
  if (f.state == State::kResync) {
    f.have = 0;  // the carry no longer adjoins what follows
    return;
  }
  Lose(f);
}

void StreamDecoder::Deliver(Flow& f, const uint8_t* bytes, size_t kept, uint32_t length,
                            int64_t time_us, const Sink& sink) {
  f.have = f.target = 0;
  f.skip = length - kept;
  f.state = f.skip != 0 ? State::kSkip : State::kHeader;
  StreamMessage m;
  m.flow = f.key;
  m.bytes = bytes;
  m.kept = kept;
  m.length = length;
  m.time_us = time_us;
  sink(m);
}

size_t StreamDecoder::Resync(Flow& f, const uint8_t* data, size_t len, size_t pos) {
  const size_t fresh = len - pos;
  uint8_t joined[kCarry + kJudgeBytes];
  if (f.have > 0) {
    // A header may begin in the carry kept from earlier segments.
    const size_t extra = std::min(fresh, kJudgeBytes);
    std::memcpy(joined, f.buf.get(), f.have);
    std::memcpy(joined + f.have, data + pos, extra);
    for (size_t i = 0; i < f.have && i + kJudgeBytes <= f.have + extra; ++i) {
      if (!PlausibleStart(joined + i)) continue;
      std::memmove(f.buf.get(), f.buf.get() + i, f.have - i);
      f.have -= i;
      f.state = State::kHeader;
      f.target = 0;
      if (f.lost) ++resyncs_;
      f.lost = false;
      return pos;
    }
  }
  for (size_t j = pos; j + kJudgeBytes <= len; ++j) {
    if (!PlausibleStart(data + j)) continue;
    f.have = f.target = 0;
    f.state = State::kHeader;
    if (f.lost) ++resyncs_;
    f.lost = false;
    return j;
  }
  // Keep the last few bytes: the next segment may complete a header that starts in them.
  uint8_t* buf = Buffer(f);
  if (fresh >= kCarry) {
    std::memcpy(buf, data + len - kCarry, kCarry);
    f.have = kCarry;
  } else {
    std::memcpy(joined, buf, f.have);
    std::memcpy(joined + f.have, data + pos, fresh);
    const size_t total = f.have + fresh;
    const size_t keep = std::min(total, kCarry);
    std::memcpy(buf, joined + total - keep, keep);
    f.have = keep;
  }
  return len;
}

void StreamDecoder::Consume(Flow& f, const uint8_t* data, size_t len, int64_t time_us,
                            const Sink& sink) {
  size_t pos = 0;
  while (pos < len) {
    if (f.state == State::kSkip) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(f.skip, len - pos));
      pos += n;
      f.skip -= n;
      if (f.skip == 0) f.state = State::kHeader;
      continue;
    }
    if (f.state == State::kResync) {
      pos = Resync(f, data, len, pos);
      continue;
    }
    const size_t avail = len - pos;
    if (f.have == 0) {
      // At a message boundary: judge in place, and hand a message lying whole here out without
      // copying it.
      const Header h = Judge(data + pos, std::min(avail, kJudgeBytes));
      if (h.kind == Kind::kBad) {
        Lose(f);
        pos += 1;  // the search starts just after the bad header's first byte
        continue;
      }
      if (h.kind == Kind::kControl) {
        pos += kNbssHeader;
        f.skip = h.length;
        f.state = f.skip != 0 ? State::kSkip : State::kHeader;
        continue;
      }
      if (h.kind == Kind::kSession) {
        const size_t kept = std::min<size_t>(h.length, limits_.keep_bytes);
        if (avail - kNbssHeader >= kept) {
          Deliver(f, data + pos + kNbssHeader, kept, h.length, time_us, sink);
          pos += kNbssHeader + kept;
          continue;
        }
        f.target = kNbssHeader + kept;
        f.length = h.length;
      }
      std::memcpy(Buffer(f), data + pos, avail);
      f.have = avail;
      return;
    }
    uint8_t* buf = f.buf.get();
    if (f.target == 0) {
      // The header is still being judged. Fewer than 4 bytes held means the type is unknown;
      // 4 to 7 held means a session message whose protocol id is not yet complete.
      const size_t want = f.have < kNbssHeader ? kNbssHeader : kJudgeBytes;
      const size_t n = std::min(want - f.have, avail);
      std::memcpy(buf + f.have, data + pos, n);
      f.have += n;
      pos += n;
      if (f.have < want) continue;
      const Header h = Judge(buf, f.have);
      if (h.kind == Kind::kBad) {
        // Search again from the byte after the bad header's first.
        const size_t carry = f.have - 1;
        Lose(f);
        std::memmove(buf, buf + 1, carry);
        f.have = carry;
      } else if (h.kind == Kind::kControl) {
        f.have = 0;
        f.skip = h.length;
        f.state = f.skip != 0 ? State::kSkip : State::kHeader;
      } else if (h.kind == Kind::kSession) {
        f.length = h.length;
        f.target = kNbssHeader + std::min<size_t>(h.length, limits_.keep_bytes);
      }
      continue;
    }
    const size_t n = std::min(f.target - f.have, avail);
    std::memcpy(buf + f.have, data + pos, n);
    f.have += n;
    pos += n;
    if (f.have == f.target) {
      Deliver(f, buf + kNbssHeader, f.target - kNbssHeader, f.length, time_us, sink);
    }
  }
}

void StreamDecoder::Segment(const TcpSegment& seg, int64_t time_us, const Sink& sink) {
  const FlowKey key{seg.src, seg.dst, seg.sport, seg.dport};
  const bool syn = (seg.flags & kTcpSyn) != 0;
  const bool ends = (seg.flags & (kTcpFin | kTcpRst)) != 0;
  const uint32_t data_seq = seg.seq + (syn ? 1u : 0u);  // SYN takes one sequence number
  const size_t wire_len = std::max(seg.payload_len, seg.wire_payload_len);

  auto it = index_.find(key);
  Flow* f = nullptr;
  uint32_t slot;
  if (it != index_.end()) {
    slot = it->second;
    f = &slots_[slot];
    Unlink(slot);
    PushFront(slot);
    // A SYN repeated with the same initial number is a retransmission, not a new connection.
    if (syn && !(f->syn_seen && f->isn == data_seq)) StartClean(*f, data_seq, true);
  } else {
    if (!syn && wire_len == 0) return;  // a bare ACK or FIN of a flow not followed
    f = Acquire(key);
    slot = head_;
    StartClean(*f, data_seq, syn);
    // Without the SYN the capture started mid-stream: search for a header, not counted as a loss.
    if (!syn) f->state = State::kResync;
  }

  if (wire_len != 0) {
    const uint8_t* p = seg.payload;
    size_t n = seg.payload_len;
    size_t w = wire_len;
    const uint32_t ahead = data_seq - f->next_seq;
    bool use = true;
    if (static_cast<int32_t>(ahead) < 0) {
      const uint32_t old = f->next_seq - data_seq;  // already seen: a retransmission or overlap
      if (old >= w) {
        use = false;
      } else {
        const size_t cut = std::min<size_t>(old, n);
        p += cut;
        n -= cut;
        w -= old;
      }
    } else if (ahead != 0) {
      Advance(*f, ahead);
    }
    if (use) {
      f->next_seq = data_seq + static_cast<uint32_t>(wire_len);
      Consume(*f, p, n, time_us, sink);
      Advance(*f, w - n);  // the part of the segment the capture cut off
    }
  }
  if (ends) Forget(slot);
}

}  // namespace qvx::wire
