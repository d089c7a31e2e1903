#include "wire/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qvx::wire {
namespace {

IpAddress Host(uint8_t last) {
  const uint8_t a[4] = {10, 0, 0, last};
  return IpAddress::V4(a);
}

using Bytes = std::vector<uint8_t>;

// An NBSS session message of `length` bytes starting with protocol id `id` 'S' 'M' 'B'. For SMB2
// ids the 64-byte header carries StructureSize 64, the command at 12 and the MessageId at 24, by
// which the tests tell messages apart; the rest is filler.
Bytes Message(uint32_t length, uint16_t command, uint64_t message_id, uint8_t id = 0xFE) {
  Bytes m(4 + length, 0x5A);
  m[0] = 0x00;
  m[1] = static_cast<uint8_t>(length >> 16);
  m[2] = static_cast<uint8_t>(length >> 8);
  m[3] = static_cast<uint8_t>(length);
  const uint8_t head[] = {id, 'S', 'M', 'B', 0x40, 0x00};
  for (size_t i = 0; i < sizeof head && i < length; ++i) m[4 + i] = head[i];
  if (length >= 64) {
    m[4 + 12] = static_cast<uint8_t>(command);
    m[4 + 13] = static_cast<uint8_t>(command >> 8);
    for (int i = 0; i < 8; ++i) m[4 + 24 + i] = static_cast<uint8_t>(message_id >> (8 * i));
  }
  return m;
}

constexpr uint16_t kNegotiate = 0x0000, kSessionSetup = 0x0001, kCreate = 0x0005, kClose = 0x0006,
                   kRead = 0x0008, kWrite = 0x0009;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + from, b.begin() + to);
}

struct Got {
  FlowKey flow;
  Bytes bytes;
  uint32_t length;
  int64_t time_us;
  uint16_t Command() const { return static_cast<uint16_t>(bytes[12] | bytes[13] << 8); }
  uint64_t MessageId() const {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | bytes[24 + i];
    return v;
  }
};

// One direction of a client connection to port 445, sending segments in order unless told.
class Sender {
 public:
  Sender(StreamDecoder* d, std::vector<Got>* got, uint32_t isn = 1000, uint16_t sport = 49200)
      : d_(d), got_(got), seq_(isn), sport_(sport) {}

  void Syn() {
    Send(seq_, {}, kTcpSyn);
    seq_ += 1;
  }
  // Sends the bytes as the next segment, of which the capture kept `captured`.
  void Send(const Bytes& b, size_t captured = SIZE_MAX) {
    Send(seq_, b, kTcpAck | kTcpPsh, captured);
    seq_ += static_cast<uint32_t>(b.size());
  }
  void SendFlagged(const Bytes& b, uint8_t flags) {
    Send(seq_, b, flags);
    seq_ += static_cast<uint32_t>(b.size());
  }
  // Sends the bytes as `segment`-sized segments.
  void SendInPieces(const Bytes& b, size_t segment) {
    for (size_t at = 0; at < b.size(); at += segment) {
      Send(Slice(b, at, std::min(b.size(), at + segment)));
    }
  }
  // The bytes are lost by the capture: the sequence moves on without a segment.
  void Lose(size_t n) { seq_ += static_cast<uint32_t>(n); }
  void Send(uint32_t seq, const Bytes& b, uint8_t flags, size_t captured = SIZE_MAX) {
    TcpSegment s;
    s.src = Host(1);
    s.dst = Host(2);
    s.sport = sport_;
    s.dport = 445;
    s.seq = seq;
    s.flags = flags;
    s.payload = b.data();
    s.payload_len = std::min(b.size(), captured);
    s.wire_payload_len = b.size();
    d_->Segment(s, ++time_, [this](const StreamMessage& m) {
      got_->push_back({m.flow, Bytes(m.bytes, m.bytes + m.kept), m.length, m.time_us});
    });
  }
  uint32_t seq() const { return seq_; }
  int64_t time() const { return time_; }

 private:
  StreamDecoder* d_;
  std::vector<Got>* got_;
  uint32_t seq_;
  uint16_t sport_;
  int64_t time_ = 0;
};

class WireStreamTest : public ::testing::Test {
 protected:
  std::vector<uint64_t> Ids() const {
    std::vector<uint64_t> ids;
    for (const Got& g : got) ids.push_back(g.MessageId());
    return ids;
  }
  StreamDecoder d;
  std::vector<Got> got;
  Sender c{&d, &got};
};

TEST_F(WireStreamTest, TwoMessagesInOneSegment) {
  c.Syn();
  c.Send(Join({Message(106, kNegotiate, 1), Message(160, kSessionSetup, 2)}));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].length, 106u);
  EXPECT_EQ(got[0].bytes.size(), 106u);
  EXPECT_EQ(got[0].Command(), kNegotiate);
  EXPECT_EQ(got[1].length, 160u);
  EXPECT_EQ(got[1].Command(), kSessionSetup);
  EXPECT_EQ(got[1].MessageId(), 2u);
  EXPECT_EQ(got[1].flow.sport, 49200);
  EXPECT_EQ(got[1].flow.dport, 445);
  EXPECT_EQ(got[1].flow.src, Host(1));
  EXPECT_EQ(d.Gaps(), 0u);
}

TEST_F(WireStreamTest, HeaderSplitInsideNbssHeaderAndInsideSmbHeader) {
  c.Syn();
  const Bytes m = Message(120, kCreate, 7);
  c.Send(Slice(m, 0, 2));   // half the NBSS length field
  c.Send(Slice(m, 2, 6));   // rest of NBSS header, half the protocol id
  c.Send(Slice(m, 6, 40));  // inside the SMB2 header
  EXPECT_TRUE(got.empty());
  c.Send(Slice(m, 40, m.size()));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, Slice(m, 4, m.size()));
  EXPECT_EQ(got[0].time_us, c.time());
}

TEST_F(WireStreamTest, EverySplitPointOfThreeMessages) {
  const Bytes stream =
      Join({Message(70, kCreate, 1), Message(64, kClose, 2), Message(90, kRead, 3)});
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    StreamDecoder dd;
    std::vector<Got> gg;
    Sender s(&dd, &gg);
    s.Syn();
    s.Send(Slice(stream, 0, cut));
    s.Send(Slice(stream, cut, stream.size()));
    ASSERT_EQ(gg.size(), 3u) << "cut at " << cut;
    EXPECT_EQ(gg[1].bytes, Slice(stream, 78, 142)) << "cut at " << cut;
    EXPECT_EQ(gg[2].MessageId(), 3u) << "cut at " << cut;
    EXPECT_EQ(dd.Gaps(), 0u);
  }
}

TEST_F(WireStreamTest, LongWriteHandedOutEarlyThenCreateInTheSameSegmentAsItsEnd) {
  StreamDecoder small({.keep_bytes = 256});
  Sender s(&small, &got);
  s.Syn();
  const Bytes write = Message(100000, kWrite, 10);
  const Bytes stream = Join({write, Message(120, kCreate, 11), Message(64, kClose, 12)});
  s.Send(Slice(stream, 0, 1460));
  ASSERT_EQ(got.size(), 1u);  // handed out with its first 256 bytes
  EXPECT_EQ(got[0].length, 100000u);
  EXPECT_EQ(got[0].bytes, Slice(write, 4, 260));
  EXPECT_EQ(got[0].time_us, 1 + 1);
  // The rest in 1460-byte segments; the last but one holds the write's end and the create.
  for (size_t at = 1460; at < stream.size(); at += 1460) {
    s.Send(Slice(stream, at, std::min(stream.size(), at + 1460)));
  }
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].Command(), kCreate);
  EXPECT_EQ(got[1].bytes.size(), 120u);
  EXPECT_EQ(got[2].Command(), kClose);
  EXPECT_EQ(small.Gaps(), 0u);
}

TEST_F(WireStreamTest, LostSegmentThenResyncAtNextHeader) {
  c.Syn();
  const Bytes m2 = Message(300, kRead, 2);
  c.Send(Message(64, kClose, 1));
  c.Send(Slice(m2, 0, 100));
  c.Lose(100);  // the middle of message 2
  // The segment holds the end of message 2, then message 3.
  c.Send(Join({Slice(m2, 200, m2.size()), Message(80, kCreate, 3)}));
  c.Send(Message(64, kClose, 4));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 3, 4}));
  EXPECT_EQ(d.Gaps(), 1u);
  EXPECT_EQ(d.Resyncs(), 1u);
}

TEST_F(WireStreamTest, ResyncFindsAHeaderSplitOverTwoSegments) {
  c.Syn();
  c.Send(Message(64, kClose, 1));
  c.Lose(50);
  const Bytes m = Message(64, kCreate, 2);
  Bytes junk(30, 0x00);  // zeros look like the start of an NBSS header and must not fool it
  c.Send(Join({junk, Slice(m, 0, 6)}));
  c.Send(Slice(m, 6, m.size()));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(d.Gaps(), 1u);
  EXPECT_EQ(d.Resyncs(), 1u);
}

TEST_F(WireStreamTest, BytesMissingInsideSkippedDataCostNothing) {
  StreamDecoder small({.keep_bytes = 128});
  Sender s(&small, &got);
  s.Syn();
  const Bytes write = Message(10000, kWrite, 1);
  s.Send(Slice(write, 0, 1460), 200);  // the capture kept 200 of 1460 bytes
  s.Lose(4000);                        // and missed the next segments
  s.Send(Join({Slice(write, 5460, write.size()), Message(64, kClose, 2)}));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(small.Gaps(), 0u);

  // Cut inside the next message's header: that one is lost.
  const Bytes m = Join({Message(64, kClose, 3), Message(64, kClose, 4)});
  s.Send(Slice(m, 0, 68), 10);
  s.Send(Slice(m, 68, m.size()));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2, 4}));
  EXPECT_EQ(small.Gaps(), 1u);
}

TEST_F(WireStreamTest, RetransmissionAndOverlapIgnoreWhatWasSeen) {
  c.Syn();
  const uint32_t start = c.seq();
  const Bytes stream =
      Join({Message(64, kClose, 1), Message(64, kClose, 2), Message(64, kClose, 3)});
  c.Send(Slice(stream, 0, 100));
  c.Send(start, Slice(stream, 0, 100), kTcpAck);  // whole retransmission
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1}));
  // Overlap: resent from 50, carrying new bytes up to 170.
  c.Send(start + 50, Slice(stream, 50, 170), kTcpAck);
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2}));
  c.Send(start + 170, Slice(stream, 170, stream.size()), kTcpAck);
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_EQ(d.Gaps(), 0u);
}

TEST_F(WireStreamTest, RepeatedSynDoesNotRestartTheFlow) {
  c.Syn();
  const Bytes m = Message(64, kClose, 1);
  c.Send(Slice(m, 0, 30));
  c.Send(1000, {}, kTcpSyn);  // the SYN again, same initial number
  c.Send(Slice(m, 30, m.size()));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1}));
  EXPECT_EQ(d.Gaps(), 0u);
}

TEST_F(WireStreamTest, ImplausibleHeadersCountAGapAndResync) {
  c.Syn();
  Bytes bad_id = Message(64, kClose, 1);
  bad_id[4] = 0xFB;  // not one of the four protocol ids
  c.Send(Join({bad_id, Message(64, kClose, 2)}));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{2}));
  EXPECT_EQ(d.Gaps(), 1u);
  EXPECT_EQ(d.Resyncs(), 1u);

  Bytes bad_type = Message(64, kClose, 3);
  bad_type[0] = 0x86;  // an NBSS type that does not exist
  c.Send(Join({bad_type, Message(64, kClose, 4)}));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{2, 4}));
  EXPECT_EQ(d.Gaps(), 2u);

  Bytes too_short = Message(64, kClose, 5);
  too_short[3] = 3;  // a session message shorter than its protocol id
  c.Send(Join({too_short, Message(64, kClose, 6)}));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{2, 4, 6}));
  EXPECT_EQ(d.Gaps(), 3u);
  EXPECT_EQ(d.Resyncs(), 3u);

  // One stray byte: the next message begins right after it.
  c.Send(Join({Bytes{0x42}, Message(64, kClose, 7)}));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{2, 4, 6, 7}));
  EXPECT_EQ(d.Gaps(), 4u);
}

TEST_F(WireStreamTest, ImplausibleHeaderArrivingInPieces) {
  c.Syn();
  Bytes bad = Message(64, kClose, 1);
  bad[6] = 'X';
  const Bytes stream = Join({bad, Message(64, kClose, 2)});
  c.SendInPieces(stream, 3);
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{2}));
  EXPECT_EQ(d.Gaps(), 1u);
}

TEST_F(WireStreamTest, SessionServicePacketsSkippedByLength) {
  c.Syn();
  Bytes request(4 + 68, 0x20);  // session request: called and calling names, 68 bytes
  request[0] = 0x81;
  request[1] = 0x00;
  request[2] = 0x00;
  request[3] = 0x44;
  const Bytes keepalive = {0x85, 0x00, 0x00, 0x00};
  c.Send(Join({request, Message(64, kClose, 1), keepalive, Message(64, kClose, 2), keepalive}));
  Bytes extended = {0x81, 0x01, 0x00, 0x04};  // the flags' low bit: 0x10004 bytes follow
  extended.resize(4 + 0x10004, 0x20);
  c.SendInPieces(Join({extended, Message(64, kClose, 3)}), 1460);
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2, 3}));
  EXPECT_EQ(d.Gaps(), 0u);
  c.Send(Join({Bytes{0x85, 0x02, 0x00, 0x00}, Message(64, kClose, 4)}));  // reserved flag bit
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(d.Gaps(), 1u);
}

TEST_F(WireStreamTest, EveryProtocolIdHandedOut) {
  c.Syn();
  c.Send(Join({Message(40, 0, 0, 0xFF), Message(80, 0, 0, 0xFD), Message(30, 0, 0, 0xFC),
               Message(64, kClose, 9, 0xFE)}));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].bytes[0], 0xFF);
  EXPECT_EQ(got[0].length, 40u);
  EXPECT_EQ(got[1].bytes[0], 0xFD);
  EXPECT_EQ(got[2].bytes[0], 0xFC);
  EXPECT_EQ(got[3].MessageId(), 9u);
}

TEST_F(WireStreamTest, MidStreamStartIsNotALoss) {
  // No SYN: the first segment opens with the tail of a message the capture did not see.
  c.Send(Join({Bytes(37, 0x77), Message(64, kClose, 1)}));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1}));
  EXPECT_EQ(d.Gaps(), 0u);
  EXPECT_EQ(d.Resyncs(), 0u);

  Sender other(&d, &got, 5000, 49300);
  other.Send(Message(64, kClose, 2));  // a header right at offset 0
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(d.Flows(), 2u);
}

TEST_F(WireStreamTest, FinAndRstForgetTheFlow) {
  c.SendFlagged({}, kTcpAck);  // bare ACKs of a flow not followed do not start one
  EXPECT_EQ(d.Flows(), 0u);
  c.Syn();
  const Bytes m = Message(64, kClose, 1);
  c.SendFlagged(m, kTcpAck | kTcpFin);  // the payload counts before the flow goes
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1}));
  EXPECT_EQ(d.Flows(), 0u);

  Sender r(&d, &got, 7000, 49301);
  r.Syn();
  r.Send(Slice(m, 0, 20));
  EXPECT_EQ(d.Flows(), 1u);
  r.SendFlagged({}, kTcpRst);
  EXPECT_EQ(d.Flows(), 0u);
  // The partial message went with the flow; its rest now reads as a mid-stream start.
  r.Send(Slice(m, 20, m.size()));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1}));
  EXPECT_EQ(d.Gaps(), 0u);
}

TEST_F(WireStreamTest, LeastRecentlyUsedFlowEvicted) {
  StreamDecoder two({.max_flows = 2});
  Sender a(&two, &got, 100, 50001), b(&two, &got, 200, 50002), x(&two, &got, 300, 50003);
  const Bytes m1 = Message(64, kClose, 1), m2 = Message(64, kClose, 2), m3 = Message(64, kClose, 3);
  a.Syn();
  b.Syn();
  a.Send(Slice(m1, 0, 30));
  b.Send(Slice(m2, 0, 30));
  a.Send(Slice(m1, 30, 40));  // a used last: b is the one to go
  x.Syn();
  EXPECT_EQ(two.Flows(), 2u);
  x.Send(m3);
  a.Send(Slice(m1, 40, m1.size()));
  b.Send(Slice(m2, 30, m2.size()));  // its start was dropped with it
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{3, 1}));
  EXPECT_EQ(two.Flows(), 2u);
}

TEST_F(WireStreamTest, SequenceNumbersWrap) {
  Sender s(&d, &got, 0xFFFFFF00u);
  s.Syn();
  const Bytes stream = Join({Message(300, kRead, 1), Message(64, kClose, 2)});
  s.Send(Slice(stream, 0, 200));    // data starts at 0xFFFFFF01; next is 0xFFFFFFC9
  s.Send(Slice(stream, 200, 310));  // crosses zero, ends inside message 2's header
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1}));
  s.Send(0xFFFFFF01u + 150, Slice(stream, 150, 300), kTcpAck);  // old bytes on both sides of 0
  s.Send(Slice(stream, 310, stream.size()));
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2}));
  EXPECT_EQ(d.Gaps(), 0u);
  s.Lose(20);
  s.Send(Message(64, kClose, 3));
  EXPECT_EQ(d.Gaps(), 1u);
  EXPECT_EQ(Ids(), (std::vector<uint64_t>{1, 2, 3}));
}

}  // namespace
}  // namespace qvx::wire
