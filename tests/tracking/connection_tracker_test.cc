#include "tracking/connection_tracker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture/replay.h"
#include "connector/qvx_wpcap_con.h"
#include "support/fake_platform.h"
#include "support/ntlm_message.h"

namespace qvx {
namespace {

using test::NtlmAuthenticate;

std::string Data(const char* name) { return std::string(QVX_CAPTURE_DATA_DIR) + "/" + name; }

// Capture times, as tshark gives them (frame.time_epoch), in microseconds.
constexpr int64_t kSmb2First = 1796794500556193;
constexpr int64_t kSmb2Auth = 1796794500575363;  // NTLMSSP AUTHENTICATE of qvxuser
constexpr int64_t kSmb2Fin = 1796794500604882;

// Feeds every frame of a capture file to a tracker, in file order; at_frame (may be empty) runs
// after each with the frame's capture time. Returns the reader's last result (0 end, -1 damage).
int Track(const std::string& path, ConnectionTracker* tracker,
          const std::function<void(int64_t)>& at_frame = {}) {
  QvxPcapFileReader reader;
  char err[kQvxErrBufSize] = {};
  if (!reader.Open(path.c_str(), err)) return -2;
  for (;;) {
    const unsigned char* d = nullptr;
    uint32_t n = 0;
    int64_t sec = 0;
    long usec = 0;
    const int rc = reader.Next(&d, &n, &sec, &usec, err);
    if (rc <= 0) return rc;
    const int64_t t = sec * 1000000 + usec;
    tracker->Observe(d, n, t);
    if (at_frame) at_frame(t);
  }
}

TEST(ConnectionTrackerTest, Smb2CaptureHasOneConnectionOfTheClientsUser) {
  ConnectionTracker tracker;
  EXPECT_TRUE(tracker.Sessions("10.213.0.1", kSmb2First).empty());
  // Sessions as the frames come: none before the first, no name before the log-on, none after
  // the FIN.
  std::vector<std::string> users_seen;
  size_t during = 0;
  ASSERT_EQ(Track(Data("smb2_ops.pcap"), &tracker,
                  [&](int64_t t) {
                    auto now = tracker.Sessions("10.213.0.1", t);
                    if (t < kSmb2Auth) {
                      ASSERT_EQ(now.size(), 1u) << t;
                      EXPECT_EQ(now[0].client, "10.213.0.2");
                      EXPECT_EQ(now[0].user, "");
                    } else if (t < kSmb2Fin) {
                      ASSERT_EQ(now.size(), 1u) << t;
                      EXPECT_EQ(now[0].user, "qvxuser");
                      EXPECT_EQ(now[0].time_sec,
                                static_cast<unsigned long>((t - kSmb2First) / 1000000));
                      ++during;
                    } else {
                      EXPECT_TRUE(now.empty()) << t;
                    }
                    EXPECT_TRUE(tracker.Sessions("10.213.0.9", t).empty());
                  }),
            0);
  EXPECT_GT(during, 100u);
  EXPECT_EQ(tracker.Server(), "10.213.0.1");
  EXPECT_EQ(tracker.Frames(), 178u);
  auto all = tracker.Connections();
  ASSERT_EQ(all.size(), 1u);
  const auto& c = all[0];
  EXPECT_EQ(c.client, "10.213.0.2");
  EXPECT_EQ(c.user, "qvxuser");
  EXPECT_EQ(c.user_us, kSmb2Auth);
  EXPECT_EQ(c.opened_us, kSmb2First);
  EXPECT_EQ(c.closed_us, kSmb2Fin);

  // Read again from the start after a reset: the same, once.
  tracker.Reset();
  EXPECT_EQ(tracker.Frames(), 0u);
  EXPECT_EQ(tracker.Server(), "");
  ASSERT_EQ(Track(Data("smb2_ops.pcap"), &tracker), 0);
  EXPECT_EQ(tracker.Connections().size(), 1u);
}

TEST(ConnectionTrackerTest, Smb1LogOnAndAConnectionMadeBeforeTheRecording) {
  ConnectionTracker smb1;
  ASSERT_EQ(Track(Data("smb1_ops.pcap"), &smb1), 0);
  ASSERT_EQ(smb1.Connections().size(), 1u);
  EXPECT_EQ(smb1.Connections()[0].user, "qvxuser");

  ConnectionTracker pre;
  ReplayStart start;
  std::string error;
  ASSERT_TRUE(ReplayFindStart(Data("smb2_preconnected.pcap"), &start, &error)) << error;
  size_t frames = 0;
  ASSERT_EQ(Track(Data("smb2_preconnected.pcap"), &pre,
                  [&](int64_t t) {
                    // Open from the first frame on, without a log-on in the file.
                    if (frames++ == 0) {
                      EXPECT_EQ(t, start.first_us);
                      ASSERT_EQ(pre.Sessions("10.213.0.1", t).size(), 1u);
                      EXPECT_EQ(pre.Sessions("10.213.0.1", t)[0].user, "");
                    }
                  }),
            0);
  EXPECT_EQ(start.server, "10.213.0.1");
  ASSERT_EQ(pre.Connections().size(), 1u);
  EXPECT_EQ(pre.Connections()[0].opened_us, start.first_us);
}

// A crafted frame: Ethernet, IPv4, TCP between 10.9.0.client_last and the server 10.9.0.1 with
// the given ports and flags, then payload.
std::vector<unsigned char> TcpFrame(unsigned client_last, uint16_t sport, uint16_t dport,
                                    uint8_t flags, const std::vector<unsigned char>& payload = {}) {
  std::vector<unsigned char> f(14 + 20 + 20, 0);
  f[12] = 0x08;
  unsigned char* ip = &f[14];
  ip[0] = 0x45;
  const size_t total = 40 + payload.size();
  ip[2] = static_cast<unsigned char>(total >> 8);
  ip[3] = static_cast<unsigned char>(total);
  ip[9] = 6;
  const bool toward = dport == 445 || dport == 139;
  const unsigned char server[4] = {10, 9, 0, 1};
  const unsigned char client[4] = {10, 9, static_cast<unsigned char>(client_last >> 8),
                                   static_cast<unsigned char>(client_last)};
  std::memcpy(ip + 12, toward ? client : server, 4);
  std::memcpy(ip + 16, toward ? server : client, 4);
  unsigned char* tcp = ip + 20;
  tcp[0] = static_cast<unsigned char>(sport >> 8);
  tcp[1] = static_cast<unsigned char>(sport);
  tcp[2] = static_cast<unsigned char>(dport >> 8);
  tcp[3] = static_cast<unsigned char>(dport);
  tcp[12] = 0x50;
  tcp[13] = flags;
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}
constexpr uint8_t kSyn = 0x02, kAck = 0x10, kFin = 0x01, kRst = 0x04;

// One SMB message as a TCP payload: the session header, an SMB1 (0xFF) or SMB2 (0xFE) request
// header with the command, then body.
std::vector<unsigned char> Smb(unsigned char version, uint16_t command,
                               const std::vector<unsigned char>& body) {
  const size_t header = version == 0xFF ? 32 : 64;
  std::vector<unsigned char> m(4 + header, 0);
  m[4] = version;
  m[5] = 'S', m[6] = 'M', m[7] = 'B';
  if (version == 0xFF) {
    m[8] = static_cast<unsigned char>(command);
  } else {
    m[8] = 64;
    m[16] = static_cast<unsigned char>(command);
  }
  m.insert(m.end(), body.begin(), body.end());
  const size_t n = m.size() - 4;
  m[1] = static_cast<unsigned char>(n >> 16);
  m[2] = static_cast<unsigned char>(n >> 8);
  m[3] = static_cast<unsigned char>(n);
  return m;
}

TEST(ConnectionTrackerTest, ConnectionsComeAndGoInOrder) {
  auto frame = [](uint8_t client_last, uint16_t sport, uint16_t dport, uint8_t flags) {
    return TcpFrame(client_last, sport, dport, flags);
  };
  ConnectionTracker t;
  auto feed = [&t](const std::vector<unsigned char>& f, int64_t us) {
    t.Observe(f.data(), static_cast<uint32_t>(f.size()), us);
  };
  auto clients = [&t](int64_t now) {
    std::vector<std::string> out;
    for (const auto& s : t.Sessions("10.9.0.1", now)) out.push_back(s.client);
    return out;
  };
  feed(frame(7, 445, 50000, kAck), 1'000'000);  // reply of a connection older than the file
  feed(frame(5, 40000, 445, kSyn), 2'000'000);
  feed(frame(6, 40001, 445, kSyn), 3'000'000);
  feed(frame(5, 40000, 8080, kSyn), 3'500'000);  // no SMB port
  EXPECT_EQ(t.Server(), "10.9.0.1");
  EXPECT_EQ(clients(4'000'000), (std::vector<std::string>{"10.9.0.7", "10.9.0.5", "10.9.0.6"}));
  EXPECT_EQ(t.Sessions("10.9.0.1", 4'000'000)[1].time_sec, 2u);
  feed(frame(5, 40000, 445, kAck | kFin), 5'000'000);
  EXPECT_EQ(clients(5'000'000), (std::vector<std::string>{"10.9.0.7", "10.9.0.6"}));
  // After the FIN only a new SYN opens the same client port again; the last ACK does not.
  feed(frame(5, 40000, 445, kAck), 5'100'000);
  EXPECT_EQ(clients(5'100'000).size(), 2u);
  feed(frame(5, 40000, 445, kSyn), 6'000'000);
  feed(frame(7, 445, 50000, kRst), 6'500'000);
  EXPECT_EQ(clients(7'000'000), (std::vector<std::string>{"10.9.0.6", "10.9.0.5"}));
  // The tail of a connection never seen open does not open one.
  feed(frame(8, 40002, 445, kAck | kFin), 7'000'000);
  EXPECT_EQ(clients(7'000'000).size(), 2u);
  EXPECT_EQ(t.Connections().size(), 4u);
  EXPECT_EQ(t.Frames(), 9u);
  // The NetBIOS session service on 139 carries SMB too.
  feed(frame(9, 40003, 139, kSyn), 8'000'000);
  EXPECT_EQ(clients(8'000'000).back(), "10.9.0.9");
  EXPECT_EQ(t.Connections().size(), 5u);
}

TEST(ConnectionTrackerTest, DamagedFileKeepsWhatWasRead) {
  test::FakePlatform fake;
  std::string cut = fake.Path("cut.pcap");
  fake.WriteText(cut, fake.Contents(Data("smb2_ops.pcap")).substr(0, 20000));
  ConnectionTracker tracker;
  EXPECT_EQ(Track(cut, &tracker), -1);
  EXPECT_GT(tracker.Frames(), 50u);
  EXPECT_LT(tracker.Frames(), 178u);
  EXPECT_EQ(tracker.Connections()[0].user, "qvxuser");
  ReplayStart start;
  std::string error;
  EXPECT_TRUE(ReplayFindStart(cut, &start, &error));
  EXPECT_EQ(start.server, "10.213.0.1");
  fake.WriteText(cut, "garbage");
  EXPECT_FALSE(ReplayFindStart(cut, &start, &error));
  EXPECT_NE(error, "");
}

TEST(ConnectionTrackerTest, TheUserOfEachConnectionIsItsOwnLogOn) {
  ConnectionTracker t;
  auto feed = [&t](const std::vector<unsigned char>& f) {
    t.Observe(f.data(), static_cast<uint32_t>(f.size()), 1'000'000);
  };
  // One client machine, two connections: a log-on on each, and a third without one (Kerberos).
  feed(TcpFrame(5, 40000, 445, kSyn));
  feed(TcpFrame(5, 40001, 445, kSyn));
  feed(TcpFrame(5, 40002, 445, kSyn));
  feed(TcpFrame(5, 40000, 445, kAck, Smb(0xFE, 1, NtlmAuthenticate(u"alice"))));
  feed(TcpFrame(5, 40001, 445, kAck, Smb(0xFE, 1, NtlmAuthenticate(u"bob"))));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40000), "alice");
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40001), "bob");
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40002), "");
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.6", 40000), "");  // another client
  EXPECT_EQ(t.User("10.9.0.2", "10.9.0.5", 40000), "");  // another server
  // A log-on again on the same connection names its user from then on.
  feed(TcpFrame(5, 40000, 445, kAck, Smb(0xFE, 1, NtlmAuthenticate(u"alice2"))));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40000), "alice2");
  // The answers of the server carry no log-on of the client.
  feed(TcpFrame(5, 445, 40002, kAck, Smb(0xFE, 1, NtlmAuthenticate(u"server"))));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40002), "");
  // Only a session set-up request carries a log-on: an AUTHENTICATE message inside the data of a
  // write (a file that holds one), or in a segment that starts no SMB message, changes nothing.
  feed(TcpFrame(5, 40000, 445, kAck, Smb(0xFE, 9, NtlmAuthenticate(u"forged"))));
  auto bare = Smb(0xFE, 1, NtlmAuthenticate(u"forged"));
  feed(TcpFrame(5, 40000, 445, kAck, std::vector<unsigned char>(bare.begin() + 4, bare.end())));
  feed(TcpFrame(5, 40000, 445, kAck, Smb(0xFF, 0x2F, NtlmAuthenticate(u"forged"))));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40000), "alice2");
  // SMB1's SESSION_SETUP_ANDX does.
  feed(TcpFrame(5, 40002, 445, kAck, Smb(0xFF, 0x73, NtlmAuthenticate(u"carol"))));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40002), "carol");
  // A closed connection names nobody; a new one on the same port starts without a user.
  feed(TcpFrame(5, 40001, 445, kFin | kAck));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40001), "");
  feed(TcpFrame(5, 40001, 445, kSyn));
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.5", 40001), "");
}

TEST(ConnectionTrackerTest, ACaptureOfDaysKeepsABoundedTable) {
  ConnectionTracker t;
  auto feed = [&t](const std::vector<unsigned char>& f, int64_t us) {
    t.Observe(f.data(), static_cast<uint32_t>(f.size()), us);
  };
  // Two long-lived sessions, then many short connections from other clients come and go.
  feed(TcpFrame(2, 50000, 445, kSyn), 1);
  feed(TcpFrame(2, 50000, 445, kAck, Smb(0xFE, 1, NtlmAuthenticate(u"early"))), 2);
  const size_t n = 3 * ConnectionTracker::kClosedKept;
  for (size_t i = 0; i < n; ++i) {
    const unsigned client = 256 + static_cast<unsigned>(i % 60000);
    const uint16_t port = static_cast<uint16_t>(1024 + i / 60000);
    feed(TcpFrame(client, port, 445, kSyn), 10 + static_cast<int64_t>(i));
    feed(TcpFrame(client, port, 445, kAck | kFin), 10 + static_cast<int64_t>(i));
    if (i == 10) feed(TcpFrame(3, 50001, 445, kAck, Smb(0xFE, 1, NtlmAuthenticate(u"late"))), 20);
  }
  const auto all = t.Connections();
  EXPECT_LE(all.size(), 2 + 2 * ConnectionTracker::kClosedKept);
  EXPECT_GE(all.size(), 2 + ConnectionTracker::kClosedKept);
  // The open ones are kept, with their users, in the order they were opened.
  auto sessions = t.Sessions("10.9.0.1", 100);
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions[0].user, "early");
  EXPECT_EQ(sessions[1].user, "late");
  EXPECT_EQ(t.User("10.9.0.1", "10.9.0.3", 50001), "late");
  // The last frame after the FIN of a recently closed connection opens nothing.
  const unsigned last = 256 + static_cast<unsigned>((n - 1) % 60000);
  feed(TcpFrame(last, static_cast<uint16_t>(1024 + (n - 1) / 60000), 445, kAck), 1'000'000);
  EXPECT_EQ(t.Sessions("10.9.0.1", 1'000'000).size(), 2u);
}

TEST(NtlmAuthenticateUserTest, FindsTheUserNameInsideTheMessageOnly) {
  auto p = NtlmAuthenticate(u"taro.yamada");
  EXPECT_EQ(NtlmAuthenticateUser(p.data(), p.size()), "taro.yamada");
#ifndef _WIN32
  // In UTF-8 here; the Windows build writes the system code page, which the test cannot know.
  auto jp = NtlmAuthenticate(u"山田taro");
  EXPECT_EQ(NtlmAuthenticateUser(jp.data(), jp.size()), "山田taro");
  auto four = NtlmAuthenticate(u"\U0001F600x");  // a pair of surrogates: one character
  EXPECT_EQ(NtlmAuthenticateUser(four.data(), four.size()), "\xF0\x9F\x98\x80x");
#endif
  // A name that would lie past the payload is not read.
  auto bad = NtlmAuthenticate(u"abc", 200);
  EXPECT_EQ(NtlmAuthenticateUser(bad.data(), bad.size()), "");
  // NEGOTIATE and CHALLENGE messages carry no user.
  p[4 + 8] = 1;
  EXPECT_EQ(NtlmAuthenticateUser(p.data(), p.size()), "");
  EXPECT_EQ(NtlmAuthenticateUser(p.data(), 10), "");
}

}  // namespace
}  // namespace qvx
