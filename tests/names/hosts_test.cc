#include "names/hosts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/controller.h"
#include "app/listview.h"
#include "app/maintenance.h"
#include "app/tables.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "names/nbt.h"
#include "support/capture_context.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"

namespace qvx {
namespace {

class HostsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    OptionInfo.HostName = 1;
    OptionInfo.QVXHosts = 1;
    OptionInfo.NbtstatChgOn = 1;
    fake.SetHosts({{"winsock-name", "10.9.9.9"}});
  }
  int Read(const std::string& text) {
    std::string p = fake.Path("QVX_Hosts.hst");
    fake.WriteText(p, text);
    return QVX_HostsRead(nullptr, p.c_str());
  }
  std::string Display(const char* addr) {
    char buf[64];
    EXPECT_EQ(AddHostName(addr, buf, OptionInfo.HostName, 0), 0);
    return buf;
  }
  std::string Lookup(const char* name) {
    char ip[16] = "unchanged";
    return QVXHostsChk(name, ip, 0) == 0 ? std::string(ip) : std::string("<none>");
  }
  test::FakePlatform fake;
};

TEST_F(HostsTest, CommentsAreSkippedAndEveryOtherLineIsARow) {
  ASSERT_EQ(Read("# office\npc1,10.0.0.12\n\nnas,10.0.0.40\n#pc9,10.0.0.9\n"), 0);
  EXPECT_EQ(HostsDataCnt, 3);  // the empty line is a row too
  EXPECT_EQ(Lookup("pc1"), "10.0.0.12");
  EXPECT_EQ(Lookup("nas"), "10.0.0.40");
  EXPECT_EQ(Lookup("pc9"), "<none>");
  EXPECT_EQ(Lookup("PC1"), "<none>");  // case-sensitive
}

TEST_F(HostsTest, OnlyCommentsLeaveTheTableEmptyAndDisplayFallsThrough) {
  ASSERT_EQ(Read("# nothing here\r\n# at all\r\n"), 0);
  EXPECT_EQ(HostsDataCnt, 0);
  NbtCacheInsert("PCNB", "10.0.0.7");
  EXPECT_EQ(Display("10.0.0.7"), "PCNB(10.0.0.7)");
  EXPECT_EQ(Display("10.9.9.9"), "winsock-name(10.9.9.9)");
}

TEST_F(HostsTest, LineWithoutCommaNeverMatchesAndSecondCommaEndsTheAddress) {
  ASSERT_EQ(Read("lonely\npc2,10.0.0.2,extra\n"), 0);
  EXPECT_EQ(HostsDataCnt, 2);
  EXPECT_EQ(Lookup("lonely"), "<none>");  // its name kept the line break
  EXPECT_EQ(Lookup("lonely\n"), "");      // ... and has no address
  EXPECT_EQ(Lookup("pc2"), "10.0.0.2");
}

TEST_F(HostsTest, CrLfFilesAndALastLineWithoutBreakKeepTheFullAddress) {
  ASSERT_EQ(Read("pc1,10.0.0.12\r\npc3,10.0.0.133"), 0);
  EXPECT_EQ(Lookup("pc1"), "10.0.0.12");
  EXPECT_EQ(Lookup("pc3"), "10.0.0.133");
}

TEST_F(HostsTest, AnOverlongLineIsReportedAndSkippedWhole) {
  std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  // 300 characters: more than the reader's buffer. Its tail holds a comma, so read in two pieces
  // it would give a second row naming the host "tail".
  std::string overlong = std::string(260, 'x') + "," + std::string(30, 'y') + ",tail,10.1.1.1\n";
  EXPECT_EQ(Read("first,10.0.0.1\n" + overlong + "last,10.0.0.3\n"), 0);
  EXPECT_EQ(HostsDataCnt, 2);
  EXPECT_EQ(Lookup("first"), "10.0.0.1");
  EXPECT_EQ(Lookup("last"), "10.0.0.3");
  for (int i = 0; i < HostsDataCnt; ++i) EXPECT_EQ(std::strchr(HostsData[i][0], 'y'), nullptr);
  const std::string log = fake.Contents(szLogfileName);
  EXPECT_NE(log.find("QVX_E02-017"), std::string::npos) << log;
  EXPECT_NE(log.find(" 2 行目"), std::string::npos) << log;
  // The longest lines the buffer holds, with and without a break at the end of the file.
  const std::string longest = std::string(255 - 9, 'n') + ",10.0.0.4";
  EXPECT_EQ(Read(longest + "\n" + "end," + std::string(251, '9')), 0);
  EXPECT_EQ(HostsDataCnt, 2);
  EXPECT_EQ(Lookup(std::string(255 - 9, 'n').c_str()), "10.0.0.4");
  EXPECT_EQ(std::strlen(HostsData[1][1]), 251u);
}

TEST_F(HostsTest, DisplayMatchesTheWholeAddressColumn) {
  OptionInfo.NbtstatChgOn = 0;
  ASSERT_EQ(Read("pc12,10.0.0.12\npc1,10.0.0.1\npc3,10.0.0.3 \n"), 0);
  EXPECT_EQ(Display("10.0.0.1"), "pc1(10.0.0.1)");  // not pc12's row, listed first
  EXPECT_EQ(Display("10.0.0.12"), "pc12(10.0.0.12)");
  EXPECT_EQ(Display("0.0.1"), "ホスト名取得失敗 rc = 11004(0.0.1)");
  EXPECT_EQ(Display("10.0.0.3"), "ホスト名取得失敗 rc = 11004(10.0.0.3)");  // "10.0.0.3 "
  OptionInfo.HostName = 0;
  EXPECT_EQ(Display("10.0.0.1"), "10.0.0.1");
}

TEST_F(HostsTest, DisplayOrderIsHostTableThenCacheThenResolver) {
  ASSERT_EQ(Read("tbl,10.9.9.9\n"), 0);
  NbtCacheInsert("NB", "10.9.9.9");
  EXPECT_EQ(Display("10.9.9.9"), "tbl(10.9.9.9)");
  OptionInfo.QVXHosts = 0;
  EXPECT_EQ(Display("10.9.9.9"), "NB(10.9.9.9)");
  OptionInfo.NbtstatChgOn = 0;
  EXPECT_EQ(Display("10.9.9.9"), "winsock-name(10.9.9.9)");
  EXPECT_EQ(Display("10.1.1.1"), "ホスト名取得失敗 rc = 11004(10.1.1.1)");
}

TEST_F(HostsTest, ALongNameIsShortenedAndTheAddressKept) {
  const std::string longname(80, 'n');
  ASSERT_EQ(Read(longname + ",10.0.0.5\n" + longname + ",192.168.100.200\n"), 0);
  char buf[64 + 16];
  std::memset(buf, 'X', sizeof buf);
  AddHostName("10.0.0.5", buf, 1, 0);
  // 63 characters: as much of the name as leaves room for "(10.0.0.5)"; nothing past 64 bytes.
  EXPECT_EQ(std::string(buf), std::string(53, 'n') + "(10.0.0.5)");
  EXPECT_EQ(buf[64], 'X');
  EXPECT_EQ(Display("192.168.100.200"), std::string(46, 'n') + "(192.168.100.200)");
  // A name of multi-byte characters is cut between characters: of 53 bytes, 17 characters of 3
  // bytes (UTF-8) or 26 of 2 (the Japanese code page of the Windows build) fit.
  std::string kana;
  for (int i = 0; i < 40; ++i) kana += "ア";
  ASSERT_EQ(Read(kana + ",10.0.0.5\n"), 0);
  const size_t width = std::strlen("ア");
  std::string shortened;
  for (size_t i = 0; i < 53 / width; ++i) shortened += "ア";
  EXPECT_EQ(Display("10.0.0.5"), shortened + "(10.0.0.5)");
}

TEST_F(HostsTest, LongNamesLeaveRowsOfConnectedClientsInTheList) {
  // The clean-up keeps the rows whose address has a session; with a name that filled the whole
  // display text it found no address in the row and removed them.
  test::RecordingView view;
  fake.WriteText(fake.Path("Quorvix.ini"),
                 "[Option]\r\nHostName=1\r\nQVXHosts=1\r\nNbtstatChgOn=0\r\n"
                 "MemperformanceSelect=2\r\nAccessDataCnt=60\r\n");
  fake.WriteText(fake.Path("QVX_Hosts.hst"), std::string(70, 'w') + ",10.0.0.5\n");
  ASSERT_TRUE(QVX_OnInitDialog(view));
  ASSERT_EQ(OptionInfo.HostName, 1);
  ServerSession alice;
  alice.client = "10.0.0.5";
  alice.user = "alice";
  fake.SetSessions({alice});
  char client[kHostDisplaySize], gone[kHostDisplaySize];
  AddHostName("10.0.0.5", client, OptionInfo.HostName, 0);
  AddHostName("10.0.0.9", gone, OptionInfo.HostName, 0);
  for (const char* who : {client, gone, client}) {
    const char* cells[12] = {"access", "7",   "alice", who, "10.0.0.1", "--",
                             "--",     "cmd", "info",  "1", "Rd  ",     "/srv/a"};
    ASSERT_EQ(QVX_AppendRow(fake.Now(), cells, "QVX_Test"), 0);
  }
  qvx::data.NextSessionChkTime = 0;
  test::TestCaptureContext run(qvx::data);
  QVX_SmbInfoTableDelete(&qvx::data);
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[0].ClientIP, client);
  EXPECT_STREQ(AccessData[1].ClientIP, client);
  EXPECT_EQ(view.rows.size(), 2u);
  QVX_OnClose();
}

TEST_F(HostsTest, ReverseLookUpsAreKeptForAWhile) {
  OptionInfo.QVXHosts = 0;
  OptionInfo.NbtstatChgOn = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Display("10.9.9.9"), "winsock-name(10.9.9.9)");
    EXPECT_EQ(Display("10.1.1.1"), "ホスト名取得失敗 rc = 11004(10.1.1.1)");
  }
  EXPECT_EQ(fake.host_lookups(), 2);  // one each, a failure included
  char buf[64];
  EXPECT_EQ(GetHost("10.9.9.9", buf, sizeof buf, 0), 0);
  EXPECT_EQ(GetHost("10.1.1.1", buf, sizeof buf, 0), -2);
  EXPECT_STREQ(buf, "ホスト名取得失敗 rc = 11004");
  EXPECT_EQ(fake.host_lookups(), 2);

  // A minute later the failure is asked again (the name may exist by now), the name not yet.
  fake.SetNow(2026, 12, 9, 10, 21, 7);
  fake.SetHosts({{"winsock-name", "10.9.9.9"}, {"late-name", "10.1.1.1"}});
  EXPECT_EQ(Display("10.1.1.1"), "late-name(10.1.1.1)");
  EXPECT_EQ(Display("10.9.9.9"), "winsock-name(10.9.9.9)");
  EXPECT_EQ(fake.host_lookups(), 3);
  // Ten minutes after it was asked, the name is asked again too.
  fake.SetNow(2026, 12, 9, 10, 30, 7);
  EXPECT_EQ(Display("10.9.9.9"), "winsock-name(10.9.9.9)");
  EXPECT_EQ(fake.host_lookups(), 4);
  // A clock that went back (an older capture replayed) does not keep answers alive.
  fake.SetNow(2026, 12, 9, 9, 0, 0);
  EXPECT_EQ(Display("10.9.9.9"), "winsock-name(10.9.9.9)");
  EXPECT_EQ(fake.host_lookups(), 5);
}

TEST_F(HostsTest, TheReverseLookUpCacheIsBounded) {
  OptionInfo.QVXHosts = 0;
  OptionInfo.NbtstatChgOn = 0;
  char addr[32];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(addr, sizeof addr, "10.8.%d.%d", i / 256, i % 256);
    Display(addr);
  }
  EXPECT_EQ(fake.host_lookups(), 300);
  Display("10.8.1.43");  // among the latest 256: kept
  EXPECT_EQ(fake.host_lookups(), 300);
  Display("10.8.0.0");  // the oldest made room
  EXPECT_EQ(fake.host_lookups(), 301);
}

TEST_F(HostsTest, IpAddrChk) {
  EXPECT_EQ(QVX_IpAddrChk("192.168.1.1"), 0);
  EXPECT_EQ(QVX_IpAddrChk("999.1.1.1"), 0);  // octets are not range-tested
  EXPECT_EQ(QVX_IpAddrChk("192.168.1"), 1);
  EXPECT_EQ(QVX_IpAddrChk("a.b.c.d"), 1);
  EXPECT_EQ(QVX_IpAddrChk("192.168.001.0010"), 1);  // 16 characters
  EXPECT_EQ(QVX_IpAddrChk(""), 1);
  EXPECT_EQ(QVX_IpAddrChk(nullptr), 1);
  EXPECT_EQ(QVX_IpAddrChk("1.2.3.4x"), 1);
  EXPECT_EQ(QVX_IpAddrChk(".1.2.3"), 1);
}

TEST_F(HostsTest, GetIpAndGetHostWriteTheirFailureTexts) {
  char buf[64];
  EXPECT_EQ(GetIp("winsock-name", buf, sizeof buf, 0), 0);
  EXPECT_STREQ(buf, "10.9.9.9");
  EXPECT_EQ(GetIp("nobody", buf, sizeof buf, 0), -1);
  EXPECT_STREQ(buf, "IPアドレス取得失敗 rc = 11001");
  EXPECT_EQ(GetHost("10.9.9.9", buf, sizeof buf, 0), 0);
  EXPECT_STREQ(buf, "winsock-name");
  EXPECT_EQ(GetHost("10.1.1.1", buf, sizeof buf, 0), -2);
}

TEST_F(HostsTest, MissingFileEmptiesTheTableAndTheMenuCommandSwitchesTheOptionOff) {
  ASSERT_EQ(Read("pc1,10.0.0.12\n"), 0);
  std::string missing = fake.Path("none.hst");
  QVX_HostsReadCommand(nullptr, missing.c_str());
  EXPECT_EQ(HostsDataCnt, 0);
  EXPECT_EQ(OptionInfo.QVXHosts, 0);
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "Reading of a QVX_hosts file went wrong.");
  EXPECT_EQ(fake.boxes()[0].caption, "error");

  OptionInfo.QVXHosts = 1;
  std::string p = fake.Path("other.hst");
  fake.WriteText(p, "pc7,10.0.0.77\n");
  QVX_HostsReadCommand(nullptr, p.c_str());
  EXPECT_EQ(fake.boxes().back().text, "The QVX_hosts file was read.");
  EXPECT_EQ(Lookup("pc7"), "10.0.0.77");
}

}  // namespace
}  // namespace qvx
