#include "tracking/session_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "accesslog/access_log.h"
#include "app/controller.h"
#include "app/listview.h"
#include "app/maintenance.h"
#include "app/tables.h"
#include "audit/departed.h"
#include "audit/tree_lookup.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "filters/exclusion.h"
#include "serverinfo/server_info.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"
#include "tracking/access_data.h"
#include "tracking/connection_tracker.h"

namespace qvx {
namespace {

// The first 24 bytes of an IPv4/TCP datagram: what the tables read of a frame.
std::vector<unsigned char> Frame(const char* src, const char* dst, int sport = 50000,
                                 int dport = 445) {
  std::vector<unsigned char> f(64, 0);
  f[0] = 0x45;
  unsigned a, b, c, d;
  std::sscanf(src, "%u.%u.%u.%u", &a, &b, &c, &d);
  f[12] = a, f[13] = b, f[14] = c, f[15] = d;
  std::sscanf(dst, "%u.%u.%u.%u", &a, &b, &c, &d);
  f[16] = a, f[17] = b, f[18] = c, f[19] = d;
  f[20] = sport >> 8, f[21] = sport & 0xff, f[22] = dport >> 8, f[23] = dport & 0xff;
  return f;
}

ServerSession Session(const char* client, const char* user) {
  ServerSession s;
  s.client = client;
  s.user = user;
  return s;
}

class SessionTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    QVX_ApplyMemoryTier(&OptionInfo);
    OptionInfo.TreeConnectCnt = 8;
    OptionInfo.AccessDataCnt = 200;
    OptionInfo.LogFileWriteFlg = 1;
    OptionInfo.ServiceTaskWait = 0;
    std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
    ASSERT_TRUE(QVX_AllocTables());
    log_ = fake.Path("access.log");
    hExistingFile = platform().OpenWritable(log_, OpenMode::kCreateAlways);
    std::snprintf(LogPath, sizeof LogPath, "%s", log_.c_str());
    data.SMBVersion = 2;
    data.SMBCommand = 5;
    data.SMBCmdListFlg = 0;
    std::snprintf(data.ClientMac, sizeof data.ClientMac, "00:00:00:00:00:05");
    std::snprintf(data.ServerMac, sizeof data.ServerMac, "00:00:00:00:00:01");
    data.NextSessionChkTime = 0;
  }
  void TearDown() override {
    if (QVX_View()) QVX_OnClose();
    hExistingFile.reset();
    QVX_FreeTables();
    ExclusionInfoDataNo = 0;
  }
  // The main window with its list view the rows go to; the access log is opened again after it
  // (Windows refuses a second writer of the same file) and written.
  void WithListView() {
    ASSERT_TRUE(QVX_OnInitDialog(view));
    hExistingFile.reset();
    hExistingFile = platform().OpenWritable(log_, OpenMode::kCreateAlways);
    ASSERT_TRUE(hExistingFile);
    std::snprintf(LogPath, sizeof LogPath, "%s", log_.c_str());
    OptionInfo.LogFileWriteFlg = 1;
  }
  // A share whose folder is dir under the test folder (created).
  ServerShare Share(const std::string& name, const std::string& dir) {
    std::string path = fake.dir() + dir;
    platform().MakeSureDirectoryPathExists(path + kPathSep);
    return ServerShare{name, path, "", 0};
  }
  void MakeFile(const std::string& rel) {
    std::string p = fake.dir() + rel;
    for (char& c : p)
      if (c == '/') c = kPathSep;
    platform().MakeSureDirectoryPathExists(p);
    fake.WriteText(p, "x");
  }
  void LoadShares(std::vector<ServerShare> shares) {
    fake.SetShares(std::move(shares));
    NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
  }
  std::vector<std::string> LogLines() {
    hExistingFile->Flush();
    return fake.Lines(log_);
  }
  static std::string Sep() { return std::string(1, kPathSep); }

  test::FakePlatform fake;
  test::RecordingView view;
  std::string log_;
};

TEST_F(SessionTreeTest, TwoClientsWithTheSameTidFindTheirOwnTrees) {
  for (int i = 0; i < 2; ++i) {
    TreeConnect[i].Flg = kSlotBound;
    TreeConnect[i].Tid = 7;
  }
  std::snprintf(TreeConnect[0].src_addr, 32, "10.0.0.5");
  std::snprintf(TreeConnect[1].src_addr, 32, "10.0.0.6");
  QVX_TreeSlotsRecount();
  int slot = -1;
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.6", 7, 0, 0, 0, &slot, 8), kTreeFound);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.5", 7, 0, 0, 0, &slot, 8), kTreeFound);
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.7", 7, 0, 0, 0, &slot, 8), kTreeNotFound);
  TreeConnect[1].Flg = kSlotDisconnected;  // lookups want connected trees only
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.6", 7, 0, 0, 0, &slot, 8), kTreeNotFound);
}

TEST_F(SessionTreeTest, LookupsReachTheHighestSlotEverTaken) {
  EXPECT_EQ(QVX_TreeSlotsInUse(), 0);
  TreeConnectSt& last = TreeConnect[7];
  last.Flg = kSlotBound;
  last.Tid = 3;
  std::snprintf(last.src_addr, 32, "10.0.0.5");
  QVX_TreeSlotTaken(7);
  QVX_TreeSlotTaken(2);  // a lower slot leaves the mark where it is
  EXPECT_EQ(QVX_TreeSlotsInUse(), 8);
  int slot = -1;
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.5", 3, 0, 0, 0, &slot, 8), kTreeFound);
  EXPECT_EQ(slot, 7);
  // Freed by the clean-up, the slot keeps the mark; a recount lowers it.
  std::memset(&last, 0, sizeof last);
  TreeConnect[4].Flg = kSlotWaiting;
  QVX_TreeSlotsRecount();
  EXPECT_EQ(QVX_TreeSlotsInUse(), 5);
  TreeConnect[4].Tid = 9;
  QVX_SessionTreeClear();
  EXPECT_EQ(QVX_TreeSlotsInUse(), 0);
  EXPECT_EQ(TreeConnect[4].Flg, kSlotFree);  // below the mark: cleared
  EXPECT_EQ(TreeConnect[4].Tid, 0u);
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.5", 3, 0, 0, 0, &slot, 8), kTreeNotFound);
}

TEST_F(SessionTreeTest, ConnectAnswersBindTheirOwnConnectionsRequest) {
  TreeConnectSt& t = TreeConnect[2];
  t.Flg = kSlotWaiting;
  std::snprintf(t.dst_addr, 32, "10.0.0.1");
  std::snprintf(t.src_addr, 32, "10.0.0.5");
  std::snprintf(t.src_port, 16, "50123");
  const unsigned char mid[8] = {0x00, 0x01, 0, 0, 0, 0, 0, 0};  // 256: low byte 0
  const unsigned char sid[8] = {0x11, 0, 0, 0, 0x22, 0, 0, 0};
  std::memcpy(t.MessageId, mid, 8);
  std::memcpy(t.SessionId, sid, 8);
  QVX_TreeSlotsRecount();
  const unsigned char other[8] = {0x01, 0x01, 0, 0, 0, 0, 0, 0};
  int slot = -1;
  EXPECT_EQ(QVXTreeConnectInfoSet2("10.0.0.1", "10.0.0.5", "50123", 9, other, sid, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet2("10.0.0.2", "10.0.0.5", "50123", 9, mid, sid, &slot, 8), 1);
  // The same MessageId on another client, another connection of the client, another session.
  EXPECT_EQ(QVXTreeConnectInfoSet2("10.0.0.1", "10.0.0.6", "50123", 9, mid, sid, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet2("10.0.0.1", "10.0.0.5", "50124", 9, mid, sid, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet2("10.0.0.1", "10.0.0.5", "50123", 9, mid, other, &slot, 8), 1);
  EXPECT_EQ(t.Flg, kSlotWaiting);
  ASSERT_EQ(QVXTreeConnectInfoSet2("10.0.0.1", "10.0.0.5", "50123", 9, mid, sid, &slot, 8), 0);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(t.Flg, kSlotBound);
  EXPECT_EQ(t.Tid, 9u);

  // SMB1: Pid, Uid, Mid, the server and the client's connection must all agree.
  TreeConnectSt& s = TreeConnect[4];
  s.Flg = kSlotWaiting;
  s.Pid = 11, s.Uid = 12, s.Mid = 13;
  std::snprintf(s.dst_addr, 32, "10.0.0.1");
  std::snprintf(s.src_addr, 32, "10.0.0.5");
  std::snprintf(s.src_port, 16, "50123");
  QVX_TreeSlotsRecount();
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "50123", 3, 11, 12, 14, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "50123", 3, 11, 99, 13, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.7", "50123", 3, 11, 12, 13, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "445", 3, 11, 12, 13, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "50123", 3, 11, 12, 13, &slot, 8), 0);
  EXPECT_EQ(slot, 4);
}

TEST_F(SessionTreeTest, UnknownTreeIsGuessedFromTheOneShareWhereThePathExists) {
  fake.SetSessions({Session("10.0.0.5", "ALICE")});
  LoadShares({Share("data", "data"), Share("other", "other")});
  MakeFile("data/docs/a.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1", 50123);
  int slot = -1, how = -1;
  const std::string rel = "docs\\a.txt";
  ASSERT_EQ(QVXTreeIDGetInfo(21, 0, 0, 0, f.data(), rel.c_str(), &slot, &how, &data), 0);
  EXPECT_EQ(how, kTreeGuessed);
  const TreeConnectSt& t = TreeConnect[slot];
  EXPECT_EQ(t.Flg, kSlotBound);
  EXPECT_EQ(t.Tid, 21u);
  EXPECT_STREQ(t.SharePath, "\\\\10.0.0.1\\data");
  EXPECT_EQ(std::string(t.ShareLocalPath), fake.dir() + "data" + Sep());
  EXPECT_STREQ(t.src_port, "50123");
  EXPECT_STREQ(t.dst_port, "445");
  EXPECT_STREQ(t.Login_Name, "ALICE");
  EXPECT_TRUE(LogLines().empty());  // no "unknown" line
  // The next operation on the tree finds it.
  EXPECT_EQ(QVXTreeIDGetInfo(21, 0, 0, 0, f.data(), "x", &slot, &how, &data), 0);
  EXPECT_EQ(how, kTreeFound);
}

TEST_F(SessionTreeTest, NewFileCountsWhenItsParentExistsButNotInTheShareRoot) {
  LoadShares({Share("data", "data")});
  MakeFile("data/docs/keep.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  EXPECT_EQ(QVXTreeIDGetInfo(4, 0, 0, 0, f.data(), "docs\\new.txt", &slot, &how, &data), 0);
  // A new file straight in the share's folder is no evidence for that share.
  std::memset(TreeConnect, 0, sizeof(TreeConnectSt) * 8);
  EXPECT_EQ(QVXTreeIDGetInfo(4, 0, 0, 0, f.data(), "new.txt", &slot, &how, &data), 10);
}

TEST_F(SessionTreeTest, TwoSharesWithThePathGiveOneUnknownLineAndRowUntilFiftyOthers) {
  fake.SetSessions({Session("10.0.0.5", "ALICE")});
  LoadShares({Share("a", "a"), Share("b", "b"), Share("b2", "b")});
  MakeFile("a/x.txt");
  MakeFile("b/x.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(QVXTreeIDGetInfo(33, 0, 0, 0, f.data(), "x.txt", &slot, &how, &data), 10);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "[2026/12/09 10:20:07],unknown,33,,10.0.0.5,10.0.0.1,00:00:00:00:00:05,"
            "00:00:00:00:00:01,-,-,,,x.txt");
  ASSERT_EQ(nListIndex, 1);
  EXPECT_STREQ(AccessData[0].Action, "unknown");
  EXPECT_STREQ(AccessData[0].TreeID, "33");
  EXPECT_STREQ(AccessData[0].Path, "x.txt");
  EXPECT_STREQ(AccessData[0].LoginName, "");

  // Fifty other rows later the same access is logged again.
  for (int i = 0; i < 50; ++i) {
    std::string other = "o" + std::to_string(i);
    QVXTreeIDGetInfo(33, 0, 0, 0, f.data(), other.c_str(), &slot, &how, &data);
  }
  QVXTreeIDGetInfo(33, 0, 0, 0, f.data(), "x.txt", &slot, &how, &data);
  EXPECT_EQ(LogLines().size(), 52u);
}

TEST_F(SessionTreeTest, TwoSharesOnOneFolderCountOnce) {
  LoadShares({Share("b", "b"), Share("b2", "b")});
  MakeFile("b/x.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(1, 0, 0, 0, f.data(), "x.txt", &slot, &how, &data), 0);
  EXPECT_STREQ(TreeConnect[slot].SharePath, "\\\\10.0.0.1\\b");
}

TEST_F(SessionTreeTest, QuotedUnknownLineAndExcludedUnknownPath) {
  OptionInfo.PathDubileCorteSet = 1;
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  EXPECT_EQ(QVXTreeIDGetInfo(2, 0, 0, 0, f.data(), "a b.txt", &slot, &how, &data), 10);
  ASSERT_EQ(LogLines().size(), 1u);
  const std::string line = LogLines()[0];
  EXPECT_EQ(line.substr(line.size() - 12), ",,,\"a b.txt\"");
}

TEST_F(SessionTreeTest, FullTreeTableIsClearedForAGuess) {
  LoadShares({Share("data", "data")});
  MakeFile("data/a.txt");
  for (int i = 0; i < 8; ++i) TreeConnect[i].Flg = kSlotWaiting;
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(5, 0, 0, 0, f.data(), "a.txt", &slot, &how, &data), 0);
  EXPECT_EQ(slot, 0);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(TreeConnect[i].Flg, kSlotFree) << i;
  std::string k = fake.Contents(szLogfileName);
  EXPECT_NE(k.find("QVX_E15-001"), std::string::npos);
  EXPECT_NE(k.find("QVX_I15-001"), std::string::npos);
}

TEST_F(SessionTreeTest, UserNamePrefersTheCapturedLogOnForSmb1) {
  fake.SetSessions({Session("10.0.0.5", "FROMSERVER")});
  SessionSetup[3].Flg = kSlotBound;
  SessionSetup[3].Uid = 100;
  std::snprintf(SessionSetup[3].src_addr, 32, "10.0.0.5");
  std::snprintf(SessionSetup[3].Login_Name, 512, "CAPTURED");
  char name[512];
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 100), 0);
  EXPECT_STREQ(name, "CAPTURED");
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 0), 0);  // SMB2: the server's list
  EXPECT_STREQ(name, "FROMSERVER");
  OptionInfo.SessionSetupFlg = 0;
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 100), 0);
  EXPECT_STREQ(name, "FROMSERVER");
  EXPECT_EQ(QVX_UserNameSet("10.0.0.9", name, 0), 1);
  EXPECT_STREQ(name, "Not Find");
}

TEST_F(SessionTreeTest, CleanUpFreesDepartedClientsWithLogoutLinesAndPrunesTheirRows) {
  ASSERT_NO_FATAL_FAILURE(WithListView());
  OptionInfo.TreeConnectCnt = 8;
  OptionInfo.AccessDataCnt = 100;
  fake.SetSessions({Session("10.0.0.5", "ALICE")});
  auto fill = [](int i, const char* client, uint16_t flg, const char* share) {
    TreeConnectSt& t = TreeConnect[i];
    t.Flg = flg;
    t.Tid = 10 + i;
    t.Pid = 1, t.Uid = 2, t.Mid = 3;
    std::snprintf(t.src_addr, 32, "%s", client);
    std::snprintf(t.dst_addr, 32, "10.0.0.1");
    std::snprintf(t.SharePath, 512, "%s", share);
    std::snprintf(t.Login_Name, 512, "BOB");
    std::snprintf(t.src_mac, 128, "cm");
    std::snprintf(t.dst_mac, 128, "sm");
  };
  fill(0, "10.0.0.5", kSlotBound, "\\\\10.0.0.1\\data");         // alive
  fill(1, "10.0.0.6", kSlotBound, "\\\\10.0.0.1\\data");         // client gone
  fill(2, "10.0.0.5", kSlotDisconnected, "\\\\10.0.0.1\\docs");  // disconnected
  fill(3, "10.0.0.6", kSlotBound, "\\\\10.0.0.1\\tmp");          // gone, share excluded
  QVX_TreeSlotsRecount();
  fake.WriteText(fake.Path(kExclusionFileName), "01,00000000,-,00000000,0,2,1,\\tmp\r\r\n");
  ASSERT_EQ(ExclusionInfoRead(fake.Path(kExclusionFileName).c_str(), &ExclusionInfoDataNo, 20,
                              ExclusionInfoData),
            0);
  const char* rows[][2] = {{"10.0.0.5", "a"},
                           {"10.0.0.6", "b"},
                           {"10.0.0.6", "b2"},
                           {"host5(10.0.0.5)", "c"},
                           {"10.0.0.6", "d"}};
  for (auto& r : rows) {
    const char* cells[12] = {"access", "1", "", r[0], "10.0.0.1", "", "", "", "", "", "", r[1]};
    QVX_AppendRow(platform().Now(), cells, "test");
  }
  SessionSetup[0].Flg = kSlotBound;
  std::snprintf(SessionSetup[0].src_addr, 32, "10.0.0.6");
  SessionSetup[1].Flg = kSlotBound;
  std::snprintf(SessionSetup[1].src_addr, 32, "10.0.0.5");

  data.NextSessionChkTime = static_cast<time_t>(platform().Now().t) + 5;
  QVX_SmbInfoTableDelete(&data);  // not due yet
  EXPECT_EQ(TreeConnect[1].Flg, kSlotBound);

  data.NextSessionChkTime = 0;
  QVX_SmbInfoTableDelete(&data);
  EXPECT_EQ(data.NextSessionChkTime, static_cast<time_t>(platform().Now().t) + 10);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotBound);
  EXPECT_EQ(TreeConnect[1].Flg, kSlotFree);
  EXPECT_EQ(TreeConnect[2].Flg, kSlotFree);
  EXPECT_EQ(TreeConnect[3].Flg, kSlotFree);
  EXPECT_EQ(SessionSetup[0].Flg, kSlotFree);
  EXPECT_EQ(SessionSetup[1].Flg, kSlotBound);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "[2026/12/09 10:20:07],logout,11,BOB,10.0.0.6,10.0.0.1,cm,sm,,,,,\\\\10.0.0.1\\data "
            "[T:11 P:1 U:2 M:3][1]");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 37), "\\\\10.0.0.1\\docs [T:12 P:1 U:2 M:3][3]");
  // The rows of the departed client left; the host-name row of a connected client stays; the
  // records the rows left behind are cleared.
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[0].Path, "a");
  EXPECT_STREQ(AccessData[1].Path, "c");
  for (int i = 2; i < 5; ++i) EXPECT_EQ(AccessData[i].Path[0], '\0') << i;
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0][12], "a");
  EXPECT_EQ(view.rows[1][12], "c");
  EXPECT_EQ(view.status[0], "Login：1");
  // Counted after the rows were pruned and before the trees are freed.
  EXPECT_EQ(view.status[2],
            "Connection：F=4 W=0 U=3 | SessionSetup : F=126 W=0 U=2 | ListData F=98 U=2 | "
            "ComputerNameErrList：0");
}

// The window's thread draws from the records while capture prunes them: the rows move up under
// the list's lock, so a draw waits for the pass to end instead of reading a record half copied.
TEST_F(SessionTreeTest, PruningMovesTheRecordsUnderTheListLock) {
  // Asked of another thread, as the window's thread would: can it take the lock now?
  struct LockWatchingView : test::RecordingView {
    void DeleteRow(int item) override {
      bool free_to_draw = false;
      std::thread reader([&] {
        if (QVX_ListLock().try_lock()) {
          free_to_draw = true;
          QVX_ListLock().unlock();
        }
      });
      reader.join();
      drawable_while_moving.push_back(free_to_draw);
      test::RecordingView::DeleteRow(item);
    }
    std::vector<bool> drawable_while_moving;
  } watching;
  ASSERT_TRUE(QVX_OnInitDialog(watching));
  struct CloseFirst {  // the view goes before TearDown runs
    ~CloseFirst() { QVX_OnClose(); }
  } close_first;
  hExistingFile.reset();
  hExistingFile = platform().OpenWritable(log_, OpenMode::kCreateAlways);
  OptionInfo.AccessDataCnt = 100;
  fake.SetSessions({Session("10.0.0.5", "ALICE")});
  for (const char* client : {"10.0.0.6", "10.0.0.5", "10.0.0.6", "10.0.0.5", "10.0.0.6"}) {
    const char* cells[12] = {"access", "1", "", client, "10.0.0.1", "", "", "", "", "", "", client};
    QVX_AppendRow(platform().Now(), cells, "test");
  }
  data.NextSessionChkTime = 0;
  QVX_SmbInfoTableDelete(&data);
  EXPECT_EQ(watching.drawable_while_moving, (std::vector<bool>{false, false, false}));
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[0].Path, "10.0.0.5");
  EXPECT_STREQ(AccessData[1].Path, "10.0.0.5");
  EXPECT_EQ(AccessData[2].Path[0], '\0');
  ASSERT_EQ(watching.rows.size(), 2u);
  // Once the pass is over the window may draw again.
  std::thread after([] {
    ASSERT_TRUE(QVX_ListLock().try_lock());
    QVX_ListLock().unlock();
  });
  after.join();
}

TEST_F(SessionTreeTest, AFailedSessionListLogsNobodyOut) {
  ASSERT_NO_FATAL_FAILURE(WithListView());
  OptionInfo.TreeConnectCnt = 8;
  OptionInfo.SessionSetupFlg = 1;
  auto tree = [](int i, const char* client, uint16_t flg) {
    TreeConnectSt& t = TreeConnect[i];
    t.Flg = flg;
    t.Tid = 20 + i;
    std::snprintf(t.src_addr, 32, "%s", client);
    std::snprintf(t.dst_addr, 32, "10.0.0.1");
    std::snprintf(t.SharePath, 512, "\\\\10.0.0.1\\data");
    std::snprintf(t.Login_Name, 512, "U%d", i);
  };
  tree(0, "10.0.0.5", kSlotBound);
  tree(1, "10.0.0.6", kSlotBound);
  tree(2, "10.0.0.6", kSlotDisconnected);
  QVX_TreeSlotsRecount();
  SessionSetup[0].Flg = kSlotBound;
  std::snprintf(SessionSetup[0].src_addr, 32, "10.0.0.6");
  for (const char* client : {"10.0.0.5", "10.0.0.6"}) {
    const char* cells[12] = {"access", "1", "", client, "10.0.0.1", "", "", "", "", "", "", "p"};
    QVX_AppendRow(platform().Now(), cells, "test");
  }
  // One clean-up pass with the server's list as given, or with a list that cannot be read.
  auto clean_up = [&](bool fail, std::vector<ServerSession> list = {}) {
    fake.SetSessionsFail(fail);
    if (!fail) fake.SetSessions(std::move(list));
    data.NextSessionChkTime = 0;
    QVX_SmbInfoTableDelete(&data);
  };
  // The states of the three trees and the session slot, then the rows left.
  auto state = [&]() {
    return std::vector<int>{TreeConnect[0].Flg, TreeConnect[1].Flg, TreeConnect[2].Flg,
                            SessionSetup[0].Flg, nListIndex};
  };
  // The list has never been read: nobody is known to have gone; only the disconnected tree,
  // whose end was seen, is freed.
  clean_up(true);
  EXPECT_EQ(state(), (std::vector<int>{kSlotBound, kSlotBound, kSlotFree, kSlotBound, 2}));
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find(",logout,22,U2,"), std::string::npos);

  // Both clients listed once, then the list fails (smbstatus times out): the last good list
  // holds, and nobody is logged out.
  clean_up(false, {Session("10.0.0.5", "U0"), Session("10.0.0.6", "U1")});
  clean_up(true);
  EXPECT_EQ(state(), (std::vector<int>{kSlotBound, kSlotBound, kSlotFree, kSlotBound, 2}));
  EXPECT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(view.status[0], "Login：2");

  // The list is read again and one client has really gone: only it is logged out.
  clean_up(false, {Session("10.0.0.5", "U0")});
  EXPECT_EQ(state(), (std::vector<int>{kSlotBound, kSlotFree, kSlotFree, kSlotFree, 1}));
  ASSERT_EQ(LogLines().size(), 2u);
  EXPECT_NE(LogLines()[1].find(",logout,21,U1,10.0.0.6,"), std::string::npos);
}

TEST_F(SessionTreeTest, ATreeEndsWithItsConnectionAndNotWhileItIsOpen) {
  ASSERT_NO_FATAL_FAILURE(WithListView());
  OptionInfo.TreeConnectCnt = 8;
  auto tree = [](int i, const char* port) {
    TreeConnectSt& t = TreeConnect[i];
    t.Flg = kSlotBound;
    t.Tid = 30 + i;
    std::snprintf(t.src_addr, 32, "10.0.0.5");
    std::snprintf(t.dst_addr, 32, "10.0.0.1");
    std::snprintf(t.src_port, 16, "%s", port);
    std::snprintf(t.SharePath, 512, "\\\\10.0.0.1\\data");
  };
  tree(0, "40000");
  tree(1, "40001");
  QVX_TreeSlotsRecount();
  // The capture saw the connection of tree 0 open; the server's list (read moments before the
  // client logged on) does not name the client yet.
  auto frame = [](uint16_t port, uint8_t flags) {
    std::vector<unsigned char> e(14 + 40, 0);
    e[12] = 0x08;
    e[14] = 0x45;
    e[14 + 3] = 40;
    e[14 + 9] = 6;
    const unsigned char client[4] = {10, 0, 0, 5}, server[4] = {10, 0, 0, 1};
    std::memcpy(&e[14 + 12], client, 4);
    std::memcpy(&e[14 + 16], server, 4);
    e[14 + 20] = static_cast<unsigned char>(port >> 8);
    e[14 + 21] = static_cast<unsigned char>(port);
    e[14 + 22] = 445 >> 8;
    e[14 + 23] = 445 & 0xFF;
    e[14 + 32] = 0x50;
    e[14 + 33] = flags;
    return e;
  };
  auto syn = frame(40000, 0x02);
  CaptureConnections().Observe(syn.data(), static_cast<uint32_t>(syn.size()), 1);
  fake.SetSessions({Session("10.0.0.9", "other")});
  data.NextSessionChkTime = 0;
  QVX_SmbInfoTableDelete(&data);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotBound);  // its connection is open
  EXPECT_EQ(TreeConnect[1].Flg, kSlotFree);   // neither listed nor seen open
  ASSERT_EQ(LogLines().size(), 1u);
  // The connection ends (a server restart resets it): the tree ends at once, with its line.
  QVX_ConnectionTreesEnded("10.0.0.1", "10.0.0.5", "40000");
  EXPECT_EQ(TreeConnect[0].Flg, kSlotFree);
  ASSERT_EQ(LogLines().size(), 2u);
  EXPECT_NE(LogLines()[1].find(",logout,30,"), std::string::npos);
  CaptureConnections().Reset();
}

TEST_F(SessionTreeTest, AClientTheListDoesNotNameHasItReadAfreshOnceASecond) {
  fake.SetSessions({});
  char name[512];
  const int lists = fake.session_lists();
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 0), 1);
  EXPECT_STREQ(name, "Not Find");
  EXPECT_EQ(fake.session_cache_expiries(), 1);
  EXPECT_EQ(fake.session_lists(), lists + 2);
  // More misses in the same second read the (cached) list once each, and force nothing.
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 0), 1);
  EXPECT_EQ(QVX_UserNameSet("10.0.0.7", name, 0), 1);
  EXPECT_EQ(fake.session_cache_expiries(), 1);
  EXPECT_EQ(fake.session_lists(), lists + 4);
  // A client the list names costs no second read.
  fake.SetSessions({Session("10.0.0.5", "dave")});
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 0), 0);
  EXPECT_STREQ(name, "dave");
  EXPECT_EQ(fake.session_lists(), lists + 5);
  // A second later a miss reads it afresh again.
  fake.SetNow(2026, 12, 9, 10, 20, 8);
  EXPECT_EQ(QVX_UserNameSet("10.0.0.6", name, 0), 1);
  EXPECT_EQ(fake.session_cache_expiries(), 2);
  EXPECT_EQ(fake.session_lists(), lists + 7);
}

TEST_F(SessionTreeTest, ATreeKeepsTheUserItHadWhenTheListNoLongerNamesIt) {
  TreeConnectSt& t = TreeConnect[0];
  std::snprintf(t.src_addr, 32, "10.0.0.5");
  std::snprintf(t.dst_addr, 32, "10.0.0.1");
  std::snprintf(t.src_port, 16, "50000");
  fake.SetSessions({});
  EXPECT_EQ(QVX_TreeUserNameSet(&t, 0), 1);
  EXPECT_STREQ(t.Login_Name, "Not Find");
  fake.SetSessions({Session("10.0.0.5", "erin")});
  EXPECT_EQ(QVX_TreeUserNameSet(&t, 0), 0);
  EXPECT_STREQ(t.Login_Name, "erin");
  fake.SetSessions({});  // the session has left the list by the time a late frame is handled
  EXPECT_EQ(QVX_TreeUserNameSet(&t, 0), 0);
  EXPECT_STREQ(t.Login_Name, "erin");
  // The SMB1 session set-up's name for the client and UID comes first, as for any look-up.
  OptionInfo.SessionSetupFlg = 1;
  SessionSetup[0].Flg = kSlotBound;
  SessionSetup[0].Uid = 100;
  std::snprintf(SessionSetup[0].src_addr, 32, "10.0.0.5");
  std::snprintf(SessionSetup[0].Login_Name, 512, "ERIN2");
  EXPECT_EQ(QVX_TreeUserNameSet(&t, 100), 0);
  EXPECT_STREQ(t.Login_Name, "ERIN2");
}

TEST_F(SessionTreeTest, TwoSessionsOnOneConnectionEachNameTheirOwnUser) {
  // One TCP connection carries the log-ons of two users (a terminal server's redirector): each
  // tree is its own session's.
  fake.SetSessions({Session("10.0.0.5", "listed")});
  CaptureConnections().TakeLogon("10.0.0.1", "10.0.0.5", 50000, 2, 0x41, "ann");
  CaptureConnections().TakeLogon("10.0.0.1", "10.0.0.5", 50000, 2, 0x42, "bob");
  // SMB1: by the connection and UID.
  CaptureConnections().TakeLogon("10.0.0.1", "10.0.0.5", 50001, 1, 100, "CAROL");
  TreeConnectSt trees[4] = {};
  const uint64_t sessions[4] = {0x41, 0x42, 0, 0x43};
  const char* ports[4] = {"50000", "50000", "50001", "50002"};
  for (int i = 0; i < 4; ++i) {
    std::snprintf(trees[i].src_addr, 32, "10.0.0.5");
    std::snprintf(trees[i].dst_addr, 32, "10.0.0.1");
    std::snprintf(trees[i].src_port, 16, "%s", ports[i]);
    for (int b = 0; b < 8; ++b)
      trees[i].SessionId[b] = static_cast<unsigned char>(sessions[i] >> (8 * b));
  }
  trees[2].Uid = 100;
  for (TreeConnectSt& t : trees) QVX_TreeUserNameSet(&t, 0);
  EXPECT_STREQ(trees[0].Login_Name, "ann");
  EXPECT_STREQ(trees[1].Login_Name, "bob");
  EXPECT_STREQ(trees[2].Login_Name, "CAROL");
  // A session whose log-on the capture did not see: the server's list.
  EXPECT_STREQ(trees[3].Login_Name, "listed");
  // An SMB2 session keeps its user on another connection (multichannel).
  TreeConnectSt other = trees[0];
  other.Login_Name[0] = '\0';
  std::snprintf(other.src_port, 16, "50009");
  QVX_TreeUserNameSet(&other, 0);
  EXPECT_STREQ(other.Login_Name, "ann");
  CaptureConnections().Reset();
}

TEST_F(SessionTreeTest, OnlyAGuessedTreeIsReboundToTheShareWhereThePathExists) {
  LoadShares({Share("a", "a"), Share("b", "b")});
  MakeFile("b/sub/f.txt");
  MakeFile("a/x.txt");
  // Connected before the capture: its share was guessed from a path under a.
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(6, 0, 0, 0, f.data(), "x.txt", &slot, &how, &data), 0);
  ASSERT_EQ(how, kTreeGuessed);
  TreeConnectSt& t = TreeConnect[slot];
  EXPECT_STREQ(t.SharePath, "\\\\10.0.0.1\\a");
  char full[kAccessPathSize];
  ASSERT_TRUE(QVX_JoinSharePath(t.ShareLocalPath, "sub\\f.txt", full, sizeof full));
  int r = QVXAccessChkToTreeIDPathChg(full, "sub\\f.txt", platform().Now().t, slot, &data, 8);
  EXPECT_NE(r, kTimeUnreadable);
  EXPECT_EQ(std::string(full), fake.dir() + "b" + Sep() + "sub" + Sep() + "f.txt");
  EXPECT_EQ(std::string(t.ShareLocalPath), fake.dir() + "b");
  EXPECT_STREQ(t.SharePath, "\\\\10.0.0.1\\b");

  // A tree whose connect was seen stays on its share, whatever another share holds.
  TreeConnectSt& seen = TreeConnect[4];
  seen.Flg = kSlotBound;
  seen.Tid = 9;
  std::snprintf(seen.src_addr, 32, "10.0.0.5");
  std::snprintf(seen.dst_addr, 32, "10.0.0.1");
  std::snprintf(seen.SharePath, 512, "\\\\10.0.0.1\\a");
  std::snprintf(seen.ShareLocalPath, 512, "%s", (fake.dir() + "a").c_str());
  QVX_TreeSlotsRecount();
  ASSERT_TRUE(QVX_JoinSharePath(seen.ShareLocalPath, "sub\\f.txt", full, sizeof full));
  const std::string asked = full;
  r = QVXAccessChkToTreeIDPathChg(full, "sub\\f.txt", platform().Now().t, 4, &data, 8);
  EXPECT_EQ(r, kTimeUnreadable);
  EXPECT_EQ(std::string(full), asked);
  EXPECT_EQ(std::string(seen.ShareLocalPath), fake.dir() + "a");
  EXPECT_STREQ(seen.SharePath, "\\\\10.0.0.1\\a");
}

TEST(JoinSharePath, OneSeparatorBetweenFolderAndRequest) {
  char out[64];
  const std::string s(1, kPathSep);
  ASSERT_TRUE(QVX_JoinSharePath(("r" + s).c_str(), "\\a", out, sizeof out));
  EXPECT_EQ(std::string(out), "r" + s + "a");
  ASSERT_TRUE(QVX_JoinSharePath("r", "a\\b", out, sizeof out));
  EXPECT_EQ(std::string(out), "r" + s + "a" + s + "b");
  EXPECT_FALSE(QVX_JoinSharePath("r", std::string(100, 'x').c_str(), out, sizeof out));
  EXPECT_EQ(std::strlen(out), sizeof out - 1);  // cut inside the buffer
}

}  // namespace
}  // namespace qvx
