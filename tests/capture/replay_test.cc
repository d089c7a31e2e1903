#include "capture/replay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/option.h"
#include "connector/qvx_wpcap_con.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

std::string Data(const char* name) { return std::string(QVX_CAPTURE_DATA_DIR) + "/" + name; }

// Capture times, as tshark gives them (frame.time_epoch), in microseconds.
constexpr int64_t kSmb2First = 1796794500556193;
constexpr int64_t kSmb2Auth = 1796794500575363;  // NTLMSSP AUTHENTICATE of qvxuser
constexpr int64_t kSmb2Fin = 1796794500604882;

TEST(ReplayPlatformTest, ClockAddressesAndSessionsFile) {
  test::FakePlatform fake;
  ReplayStart start;
  std::string error;
  ASSERT_TRUE(ReplayFindStart(Data("smb2_ops.pcap"), &start, &error));
  EXPECT_EQ(start.first_us, kSmb2First);
  QvxWPcapConClose();  // no frame delivered yet: the clock is the first frame's
  char err[kQvxErrBufSize];
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0);
  ConnectionTracker tracker;
  ReplayPlatform rp(&fake, start, &tracker, Data("smbstatus_smb2.json"), false);
  EXPECT_EQ(rp.Now().t, kSmb2First / 1000000);
  std::vector<std::string> addresses;
  ASSERT_EQ(rp.LocalIPv4Addresses(&addresses), AddressListResult::kOk);
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

TEST(ReplayPlatformTest, SessionsFollowTheFramesTheConnectorReads) {
  test::FakePlatform fake;
  ReplayStart start;
  std::string error;
  ASSERT_TRUE(ReplayFindStart(Data("smb2_ops.pcap"), &start, &error));
  const CaptureConnector& con = ReplayConnector(Data("smb2_ops.pcap"));
  const ConnectionTracker& tracker = CaptureConnections();
  ReplayPlatform rp(&fake, start, &tracker, "", false);
  const std::string saved = OptionInfo.IpAddress;
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "%s", "10.213.0.1");
  char err[kQvxErrBufSize];
  // Opened twice, as a restart does: the second read starts over, not on top of the first.
  for (int open = 0; open < 2; ++open) {
    ASSERT_EQ(con.Open(Data("smb2_ops.pcap").c_str(), 20, err), 0) << err;
    unsigned char buf[kQvxFrameBufSize];
    unsigned long len = 0;
    std::vector<ServerSession> sessions;
    bool named = false;
    for (int i = 0; i < 178; ++i) {
      ASSERT_EQ(con.Recv(buf, &len), 0);
      ASSERT_TRUE(rp.ListSessions(&sessions));
      int64_t sec = 0;
      long usec = 0;
      ASSERT_TRUE(QvxWPcapConLastFrameTime(&sec, &usec));
      const int64_t t = sec * 1000000 + usec;
      if (t >= kSmb2Fin) {
        EXPECT_TRUE(sessions.empty()) << i;
        continue;
      }
      ASSERT_EQ(sessions.size(), 1u) << i;
      if (t < kSmb2Auth) {
        EXPECT_EQ(sessions[0].user, "") << i;
      } else {
        named = named || sessions[0].user == "qvxuser";
      }
    }
    EXPECT_TRUE(named);
    EXPECT_EQ(tracker.Connections().size(), 1u);
    con.Close();
  }
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "%s", saved.c_str());
}

}  // namespace
}  // namespace qvx
