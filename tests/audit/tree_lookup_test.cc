#include "audit/tree_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tracking/access_data.h"
#include "tracking/session_tree_fixture.h"

namespace qvx {
namespace {

using test::Frame;
using test::Session;
using TreeLookupTest = test::SessionTreeTest;

TEST_F(TreeLookupTest, UnknownTreeIsGuessedFromTheOneShareWhereThePathExists) {
  fake.SetSessions({Session("10.0.0.5", "ALICE")});
  LoadShares({Share("data", "data"), Share("other", "other")});
  MakeFile("data/docs/a.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1", 50123);
  int slot = -1, how = -1;
  const std::string rel = "docs\\a.txt";
  ASSERT_EQ(QVXTreeIDGetInfo(21, 0, 0, 0, f.data(), rel.c_str(), &slot, &how, At(f)), 0);
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
  EXPECT_EQ(QVXTreeIDGetInfo(21, 0, 0, 0, f.data(), "x", &slot, &how, At(f)), 0);
  EXPECT_EQ(how, kTreeFound);
}

TEST_F(TreeLookupTest, ARunKeepsItsTreesInItsOwnTables) {
  LoadShares({Share("data", "data")});
  MakeFile("data/a.txt");
  LogonTables mine;
  ASSERT_TRUE(mine.Alloc(4, 3));
  run_->tables = &mine;
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(21, 0, 0, 0, f.data(), "a.txt", &slot, &how, At(f)), 0);
  EXPECT_EQ(how, kTreeGuessed);
  EXPECT_EQ(mine.tree(slot).Tid, 21u);
  EXPECT_EQ(mine.SlotsInUse(), slot + 1);
  // Nothing of it in the program's tables: a run on them does not know the tree.
  EXPECT_EQ(QVX_ProgramLogonTables().SlotsInUse(), 0);
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.5", 21, 0, 0, 0, &slot, 8), kTreeNotFound);
  // A full table of three trees takes the next tree into slot 0 once emptied, never past its end.
  for (uint32_t tid = 22; tid <= 24; ++tid)
    ASSERT_EQ(QVXTreeIDGetInfo(tid, 0, 0, 0, f.data(), "a.txt", &slot, &how, At(f)), 0) << tid;
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(mine.tree(0).Tid, 24u);
  EXPECT_EQ(mine.tree(1).Flg, kSlotFree);
  run_->tables = &QVX_ProgramLogonTables();
}

TEST_F(TreeLookupTest, NewFileCountsWhenItsParentExistsButNotInTheShareRoot) {
  LoadShares({Share("data", "data")});
  MakeFile("data/docs/keep.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  EXPECT_EQ(QVXTreeIDGetInfo(4, 0, 0, 0, f.data(), "docs\\new.txt", &slot, &how, At(f)), 0);
  // A new file straight in the share's folder is no evidence for that share.
  std::memset(TreeConnect, 0, sizeof(TreeConnectSt) * 8);
  EXPECT_EQ(QVXTreeIDGetInfo(4, 0, 0, 0, f.data(), "new.txt", &slot, &how, At(f)), 10);
}

TEST_F(TreeLookupTest, TwoSharesWithThePathGiveOneUnknownLineAndRowUntilFiftyOthers) {
  fake.SetSessions({Session("10.0.0.5", "ALICE")});
  LoadShares({Share("a", "a"), Share("b", "b"), Share("b2", "b")});
  MakeFile("a/x.txt");
  MakeFile("b/x.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(QVXTreeIDGetInfo(33, 0, 0, 0, f.data(), "x.txt", &slot, &how, At(f)), 10);
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
    QVXTreeIDGetInfo(33, 0, 0, 0, f.data(), other.c_str(), &slot, &how, At(f));
  }
  QVXTreeIDGetInfo(33, 0, 0, 0, f.data(), "x.txt", &slot, &how, At(f));
  EXPECT_EQ(LogLines().size(), 52u);
}

TEST_F(TreeLookupTest, TwoSharesOnOneFolderCountOnce) {
  LoadShares({Share("b", "b"), Share("b2", "b")});
  MakeFile("b/x.txt");
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(1, 0, 0, 0, f.data(), "x.txt", &slot, &how, At(f)), 0);
  EXPECT_STREQ(TreeConnect[slot].SharePath, "\\\\10.0.0.1\\b");
}

TEST_F(TreeLookupTest, QuotedUnknownLineAndExcludedUnknownPath) {
  OptionInfo.PathDubileCorteSet = 1;
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  EXPECT_EQ(QVXTreeIDGetInfo(2, 0, 0, 0, f.data(), "a b.txt", &slot, &how, At(f)), 10);
  ASSERT_EQ(LogLines().size(), 1u);
  const std::string line = LogLines()[0];
  EXPECT_EQ(line.substr(line.size() - 12), ",,,\"a b.txt\"");
}

TEST_F(TreeLookupTest, FullTreeTableIsClearedForAGuess) {
  LoadShares({Share("data", "data")});
  MakeFile("data/a.txt");
  for (int i = 0; i < 8; ++i) TreeConnect[i].Flg = kSlotWaiting;
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(5, 0, 0, 0, f.data(), "a.txt", &slot, &how, At(f)), 0);
  EXPECT_EQ(slot, 0);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(TreeConnect[i].Flg, kSlotFree) << i;
  std::string k = fake.Contents(szLogfileName);
  EXPECT_NE(k.find("QVX_E15-001"), std::string::npos);
  EXPECT_NE(k.find("QVX_I15-001"), std::string::npos);
}

TEST_F(TreeLookupTest, OnlyAGuessedTreeIsReboundToTheShareWhereThePathExists) {
  LoadShares({Share("a", "a"), Share("b", "b")});
  MakeFile("b/sub/f.txt");
  MakeFile("a/x.txt");
  // Connected before the capture: its share was guessed from a path under a.
  auto f = Frame("10.0.0.5", "10.0.0.1");
  int slot = -1, how = -1;
  ASSERT_EQ(QVXTreeIDGetInfo(6, 0, 0, 0, f.data(), "x.txt", &slot, &how, At(f)), 0);
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
  QVX_ProgramLogonTables().SlotsRecount();
  ASSERT_TRUE(QVX_JoinSharePath(seen.ShareLocalPath, "sub\\f.txt", full, sizeof full));
  const std::string asked = full;
  r = QVXAccessChkToTreeIDPathChg(full, "sub\\f.txt", platform().Now().t, 4, &data, 8);
  EXPECT_EQ(r, kTimeUnreadable);
  EXPECT_EQ(std::string(full), asked);
  EXPECT_EQ(std::string(seen.ShareLocalPath), fake.dir() + "a");
  EXPECT_STREQ(seen.SharePath, "\\\\10.0.0.1\\a");
}

}  // namespace
}  // namespace qvx
