#include "capture/held_requests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/fake_connector.h"

namespace qvx {
namespace {

using test::MakeFrame;
using test::Smb1Payload;
using test::Smb2Payload;

// The SMB header of these frames starts after IPv4 (20), TCP (20) and the session header (4).
constexpr long kBase = 44;

ConnectionEnds Connection(uint16_t client_port) {
  ConnectionEnds e;
  ParseIpAddress("fd00::2", &e.client);
  ParseIpAddress("fd00::1", &e.server);
  e.client_port = client_port;
  e.server_port = 445;
  return e;
}

ExchangeKey KeyOf(const std::vector<unsigned char>& frame, int version, uint16_t port = 50000) {
  ExchangeKey k;
  EXPECT_TRUE(QVX_ExchangeKeyOf(Connection(port), frame.data() + 14,
                                static_cast<unsigned long>(frame.size() - 14), kBase, version, &k));
  return k;
}

TEST(ExchangeKeyTest, ARequestAndItsAnswerShareOneKey) {
  auto request =
      MakeFrame("10.213.0.2", "10.213.0.1", Smb2Payload(5, 8, 0x1122334455667788ull), 50000, 445);
  auto answer =
      MakeFrame("10.213.0.1", "10.213.0.2", Smb2Payload(5, 8, 0x1122334455667788ull), 445, 50000);
  const ExchangeKey k = KeyOf(request, 2);
  EXPECT_EQ(k, KeyOf(answer, 2));
  EXPECT_EQ(k.message, 0x1122334455667788ull);
  // Another client port is another connection.
  EXPECT_FALSE(k == KeyOf(answer, 2, 50001));
  // The SMB2 header must lie whole inside the message.
  ExchangeKey cut;
  EXPECT_FALSE(QVX_ExchangeKeyOf(Connection(1), request.data() + 14, kBase + 63, kBase, 2, &cut));
  EXPECT_TRUE(QVX_ExchangeKeyOf(Connection(1), request.data() + 14, kBase + 64, kBase, 2, &cut));
}

TEST(ExchangeKeyTest, Smb1UsesMidAndPid) {
  auto request = MakeFrame("10.213.0.2", "10.213.0.1", Smb1Payload(0xA2, 8, 0x0102, 0x0304));
  const ExchangeKey k = KeyOf(request, 1);
  EXPECT_EQ(k.message, 0xA203040102u);
  auto other_pid =
      MakeFrame("10.213.0.1", "10.213.0.2", Smb1Payload(0xA2, 8, 0x0102, 0x0305), 445, 0xC000);
  EXPECT_FALSE(k == KeyOf(other_pid, 1));
  // The commands of one AndX chain share MID and PID; each is answered under its own command.
  auto chained = MakeFrame("10.213.0.2", "10.213.0.1", Smb1Payload(0x75, 8, 0x0102, 0x0304));
  EXPECT_FALSE(k == KeyOf(chained, 1));
}

TEST(RequestAwaitsAnswerTest, RequestsWhoseAnswerSaysWhatTheyDid) {
  for (int cmd : {5, 6, 9, 0x11}) EXPECT_TRUE(QVX_RequestAwaitsAnswer(2, cmd, true)) << cmd;
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(2, 5, false));  // answers are never held
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(2, 3, true));   // tree connect
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(2, 4, true));   // tree disconnect
  // A change notification or a lock may be answered minutes later: holding it would hold every
  // frame behind it.
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(2, 0x0F, true));
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(2, 0x0A, true));
  for (int cmd : {0xA2, 0x00, 0x01, 0x04, 0x06, 0x07, 0x0B, 0x2F, 0x32, 0x02,
                  0x03, 0x0E, 0x0F, 0x2D, 0x09, 0x22, 0x29, 0x2A, 0x2C, 0xA5})
    EXPECT_TRUE(QVX_RequestAwaitsAnswer(1, cmd, true)) << cmd;
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(1, 0x2B, true));  // echo
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(1, 0x25, true));  // a pipe transaction
  // NT_TRANSACT: a create and a security change are; a change notification is not.
  EXPECT_TRUE(QVX_RequestAwaitsAnswer(1, 0xA0, true, 1));
  EXPECT_TRUE(QVX_RequestAwaitsAnswer(1, 0xA0, true, 3));
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(1, 0xA0, true, 4));
  EXPECT_FALSE(QVX_RequestAwaitsAnswer(1, 0xA0, true));
}

TEST(InterimAnswerTest, OnlyStatusPendingOfSmb2) {
  auto pending = Smb2Payload(5, 8, 1, 0x00000103);
  auto done = Smb2Payload(5, 8, 1, 0xC0000034);  // OBJECT_NAME_NOT_FOUND ends the wait too
  EXPECT_TRUE(QVX_InterimAnswer(2, pending.data() + 4, 64));
  EXPECT_FALSE(QVX_InterimAnswer(2, done.data() + 4, 64));
  EXPECT_FALSE(QVX_InterimAnswer(2, pending.data() + 4, 63));
  EXPECT_FALSE(QVX_InterimAnswer(1, pending.data() + 4, 64));
}

ExchangeKey Key(uint64_t message) {
  ExchangeKey k;
  k.ends = Connection(50000);
  k.version = 2;
  k.message = message;
  return k;
}

void Add(HeldRequests& h, int64_t t, bool awaits, uint64_t message, unsigned char tag) {
  h.Add(t, awaits, Key(message), &tag, 1, nullptr, 0);
}

std::vector<int> TakeAll(HeldRequests& h, int64_t now, bool force = false) {
  std::vector<int> out;
  HeldRequests::Frame f;
  while (h.TakeDue(now, force, &f)) out.push_back(f.bytes.at(0));
  return out;
}

TEST(HeldRequestsTest, FramesBehindAHeldRequestWaitForIt) {
  HeldRequests h;
  Add(h, 100, true, 7, 1);
  Add(h, 200, false, 0, 2);
  Add(h, 300, true, 8, 3);
  Add(h, 400, false, 0, 4);
  EXPECT_TRUE(TakeAll(h, 5000).empty());
  EXPECT_EQ(h.NextDeadline(), 100 + kHoldUs);
  // The second request's answer comes first: it frees nothing while the first still waits.
  EXPECT_TRUE(h.Answer(Key(8)));
  EXPECT_TRUE(TakeAll(h, 5000).empty());
  EXPECT_TRUE(h.Answer(Key(7)));
  EXPECT_EQ(TakeAll(h, 5000), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(h.Empty());
  EXPECT_EQ(h.NextDeadline(), -1);
}

TEST(HeldRequestsTest, TheWaitEndsAtExactlyTenMilliseconds) {
  HeldRequests h;
  Add(h, 1000, true, 7, 1);
  Add(h, 1500, true, 8, 2);
  EXPECT_TRUE(TakeAll(h, 1000 + kHoldUs - 1).empty());
  // The first is due; the second still has 500 us to go.
  EXPECT_EQ(TakeAll(h, 1000 + kHoldUs), std::vector<int>{1});
  EXPECT_EQ(h.NextDeadline(), 1500 + kHoldUs);
  EXPECT_EQ(TakeAll(h, 1500 + kHoldUs), std::vector<int>{2});
  // A clock set back ends the wait instead of holding everything until it catches up.
  Add(h, 5000000, true, 9, 3);
  EXPECT_TRUE(TakeAll(h, 5000000 + kHoldUs - 1).empty());
  EXPECT_EQ(TakeAll(h, 4999999), std::vector<int>{3});
}

TEST(HeldRequestsTest, UnknownAndRepeatedAnswers) {
  HeldRequests h;
  EXPECT_FALSE(h.Answer(Key(7)));  // nothing waits
  Add(h, 100, true, 7, 1);
  Add(h, 150, true, 7, 2);  // the same message again (a retransmission)
  EXPECT_FALSE(h.Answer(Key(9)));
  EXPECT_TRUE(h.Answer(Key(7)));
  EXPECT_FALSE(h.Answer(Key(7)));  // already answered
  EXPECT_EQ(TakeAll(h, 200), (std::vector<int>{1, 2}));
}

TEST(HeldRequestsTest, ForceTakesEverythingInOrder) {
  HeldRequests h;
  Add(h, 100, true, 7, 1);
  Add(h, 200, false, 0, 2);
  Add(h, 300, true, 8, 3);
  EXPECT_EQ(TakeAll(h, 0, true), (std::vector<int>{1, 2, 3}));
  // A held request taken unanswered no longer counts as waiting.
  EXPECT_FALSE(h.Answer(Key(7)));
}

TEST(HeldRequestsTest, ABurstBeyondTheLimitsDecidesTheOldestEarly) {
  HeldRequests h;
  for (size_t i = 0; i <= kHoldMaxFrames; ++i) Add(h, 100, true, i, static_cast<unsigned char>(i));
  // One frame over the limit: exactly one goes, the rest keep waiting.
  EXPECT_EQ(TakeAll(h, 100), std::vector<int>{0});
  EXPECT_EQ(h.Size(), kHoldMaxFrames);
  h.Clear();
  // Bytes count too: two large frames exceed the byte limit.
  std::vector<unsigned char> big(kHoldMaxBytes / 2 + 1, 9);
  h.Add(100, true, Key(1), big.data(), big.size(), nullptr, 0);
  h.Add(100, true, Key(2), big.data(), big.size(), nullptr, 0);
  HeldRequests::Frame f;
  EXPECT_TRUE(h.TakeDue(100, false, &f));
  EXPECT_EQ(f.key, Key(1));
  EXPECT_FALSE(h.TakeDue(100, false, &f));
}

TEST(HeldRequestsTest, TheFrameBytesAreTheTwoPiecesJoined) {
  HeldRequests h;
  const char head[] = "ab";
  const char body[] = "cde";
  h.Add(1, false, Key(1), head, 2, body, 3);
  HeldRequests::Frame f;
  ASSERT_TRUE(h.TakeDue(0, false, &f));
  EXPECT_EQ(std::string(f.bytes.begin(), f.bytes.end()), "abcde");
}

}  // namespace
}  // namespace qvx
