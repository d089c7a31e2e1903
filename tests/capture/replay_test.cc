#include "capture/replay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/option.h"
#include "connector/qvx_wpcap_con.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

std::string Data(const char* name) { return std::string(QVX_CAPTURE_DATA_DIR) + "/" + name; }

// Capture times, as tshark gives them (frame.time_epoch), in microseconds.
constexpr int64_t kSmb2First = 1796794500556193;
constexpr int64_t kSmb2Auth = 1796794500575363;  // NTLMSSP AUTHENTICATE of qvxuser
constexpr int64_t kSmb2Fin = 1796794500604882;

TEST(ReplayScanTest, Smb2CaptureHasOneConnectionOfTheClientsUser) {
  ReplayScan scan;
  std::string error;
  ASSERT_TRUE(ReplayScanFile(Data("smb2_ops.pcap"), &scan, &error)) << error;
  EXPECT_EQ(scan.server, "10.213.0.1");
  EXPECT_EQ(scan.frames, 178u);
  EXPECT_EQ(scan.first_us, kSmb2First);
  EXPECT_FALSE(scan.damaged);
  ASSERT_EQ(scan.connections.size(), 1u);
  const auto& c = scan.connections[0];
  EXPECT_EQ(c.client, "10.213.0.2");
  EXPECT_EQ(c.user, "qvxuser");
  EXPECT_EQ(c.user_us, kSmb2Auth);
  EXPECT_EQ(c.opened_us, kSmb2First);
  EXPECT_EQ(c.closed_us, kSmb2Fin);

  // Sessions over time: none before the connection, no name before the log-on, none after FIN.
  EXPECT_TRUE(ReplaySessionsAt(scan, "10.213.0.1", kSmb2First - 1).empty());
  auto before = ReplaySessionsAt(scan, "10.213.0.1", kSmb2Auth - 1);
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].client, "10.213.0.2");
  EXPECT_EQ(before[0].user, "");
  auto after = ReplaySessionsAt(scan, "10.213.0.1", kSmb2Auth);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].user, "qvxuser");
  EXPECT_TRUE(ReplaySessionsAt(scan, "10.213.0.1", kSmb2Fin).empty());
  EXPECT_TRUE(ReplaySessionsAt(scan, "10.213.0.9", kSmb2Auth).empty());
}

TEST(ReplayScanTest, Smb1LogOnAndAConnectionMadeBeforeTheRecording) {
  ReplayScan scan;
  std::string error;
  ASSERT_TRUE(ReplayScanFile(Data("smb1_ops.pcap"), &scan, &error));
  ASSERT_EQ(scan.connections.size(), 1u);
  EXPECT_EQ(scan.connections[0].user, "qvxuser");

  ASSERT_TRUE(ReplayScanFile(Data("smb2_preconnected.pcap"), &scan, &error));
  EXPECT_EQ(scan.server, "10.213.0.1");
  ASSERT_EQ(scan.connections.size(), 1u);
  // Open from the first frame on, without a log-on in the file.
  EXPECT_EQ(scan.connections[0].opened_us, scan.first_us);
  EXPECT_EQ(scan.connections[0].user, "");
  EXPECT_EQ(ReplaySessionsAt(scan, "10.213.0.1", scan.first_us).size(), 1u);
}

TEST(ReplayScanTest, DamagedFileKeepsWhatWasRead) {
  test::FakePlatform fake;
  std::string cut = fake.Path("cut.pcap");
  fake.WriteText(cut, fake.Contents(Data("smb2_ops.pcap")).substr(0, 20000));
  ReplayScan scan;
  std::string error;
  ASSERT_TRUE(ReplayScanFile(cut, &scan, &error));
  EXPECT_TRUE(scan.damaged);
  EXPECT_NE(scan.error, "");
  EXPECT_GT(scan.frames, 50u);
  EXPECT_LT(scan.frames, 178u);
  EXPECT_EQ(scan.connections[0].user, "qvxuser");
  fake.WriteText(cut, "garbage");
  EXPECT_FALSE(ReplayScanFile(cut, &scan, &error));
  EXPECT_NE(error, "");
}

std::vector<unsigned char> Authenticate(const std::u16string& user, uint32_t offset_shift = 0) {
  std::vector<unsigned char> m(72, 0);
  std::memcpy(m.data(), "NTLMSSP", 8);
  m[8] = 3;
  const size_t len = user.size() * 2;
  m[36] = static_cast<unsigned char>(len);
  const uint32_t offset = 72 + offset_shift;
  std::memcpy(&m[40], &offset, 4);
  m[60] = 0x01;  // Unicode
  for (char16_t c : user) {
    m.push_back(static_cast<unsigned char>(c & 0xFF));
    m.push_back(static_cast<unsigned char>(c >> 8));
  }
  const unsigned char wrap[4] = {0x60, 0x82, 0x01, 0x00};  // some SPNEGO wrapping before it
  m.insert(m.begin(), wrap, wrap + 4);
  return m;
}

TEST(ReplayNtlmUserTest, FindsTheUserNameInsideTheMessageOnly) {
  auto p = Authenticate(u"山田taro");
  EXPECT_EQ(ReplayNtlmUser(p.data(), p.size()), "山田taro");
  // A name that would lie past the payload is not read.
  auto bad = Authenticate(u"abc", 200);
  EXPECT_EQ(ReplayNtlmUser(bad.data(), bad.size()), "");
  // NEGOTIATE and CHALLENGE messages carry no user.
  p[4 + 8] = 1;
  EXPECT_EQ(ReplayNtlmUser(p.data(), p.size()), "");
  EXPECT_EQ(ReplayNtlmUser(p.data(), 10), "");
}

TEST(ReplayPlatformTest, ClockAddressesAndSessionsFile) {
  test::FakePlatform fake;
  ReplayScan scan;
  std::string error;
  ASSERT_TRUE(ReplayScanFile(Data("smb2_ops.pcap"), &scan, &error));
  QvxWPcapConClose();  // no frame delivered yet: the clock is the first frame's
  char err[kQvxErrBufSize];
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0);
  ReplayPlatform rp(&fake, &scan, Data("smbstatus_smb2.json"), false);
  EXPECT_EQ(rp.Now().t, kSmb2First / 1000000);
  std::vector<std::string> addresses;
  ASSERT_TRUE(rp.LocalIPv4Addresses(&addresses));
  EXPECT_EQ(addresses, std::vector<std::string>{"10.213.0.1"});
  std::vector<ServerSession> sessions;
  ASSERT_TRUE(rp.ListSessions(&sessions));
  ASSERT_EQ(sessions.size(), 1u);  // smbstatus -j taken while the client was connected
  EXPECT_EQ(sessions[0].user, "qvxuser");
  EXPECT_EQ(sessions[0].client, "10.213.0.2");
  std::vector<ServerShare> shares = {ServerShare{}};
  ASSERT_TRUE(rp.ListShares(&shares));
  EXPECT_TRUE(shares.empty());  // no --smb-conf: no shares
  unsigned char buf[kQvxFrameBufSize];
  unsigned long len;
  QvxWPcapConRecv(buf, &len);
  QvxWPcapConRecv(buf, &len);
  rp.SleepMs(100000);  // returns at once
  EXPECT_EQ(rp.Now().t, 1796794500);
  QvxWPcapConClose();
}

}  // namespace
}  // namespace qvx
