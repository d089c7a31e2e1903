#include "tracking/session_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audit/tree_lookup.h"
#include "tracking/access_data.h"
#include "tracking/connection_tracker.h"
#include "tracking/session_tree_fixture.h"

namespace qvx {
namespace {

using test::Frame;
using test::Session;
using test::SessionTreeTest;

TEST_F(SessionTreeTest, TwoClientsWithTheSameTidFindTheirOwnTrees) {
  for (int i = 0; i < 2; ++i) {
    TreeConnect[i].Flg = kSlotBound;
    TreeConnect[i].Tid = 7;
  }
  std::snprintf(TreeConnect[0].src_addr, 32, "10.0.0.5");
  std::snprintf(TreeConnect[1].src_addr, 32, "10.0.0.6");
  QVX_ProgramLogonTables().SlotsRecount();
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
  EXPECT_EQ(QVX_ProgramLogonTables().SlotsInUse(), 0);
  TreeConnectSt& last = TreeConnect[7];
  last.Flg = kSlotBound;
  last.Tid = 3;
  std::snprintf(last.src_addr, 32, "10.0.0.5");
  QVX_ProgramLogonTables().SlotTaken(7);
  QVX_ProgramLogonTables().SlotTaken(2);  // a lower slot leaves the mark where it is
  EXPECT_EQ(QVX_ProgramLogonTables().SlotsInUse(), 8);
  int slot = -1;
  EXPECT_EQ(QVXTreeConnectInfoChk("10.0.0.5", 3, 0, 0, 0, &slot, 8), kTreeFound);
  EXPECT_EQ(slot, 7);
  // Freed by the clean-up, the slot keeps the mark; a recount lowers it.
  std::memset(&last, 0, sizeof last);
  TreeConnect[4].Flg = kSlotWaiting;
  QVX_ProgramLogonTables().SlotsRecount();
  EXPECT_EQ(QVX_ProgramLogonTables().SlotsInUse(), 5);
  TreeConnect[4].Tid = 9;
  QVX_SessionTreeClear();
  EXPECT_EQ(QVX_ProgramLogonTables().SlotsInUse(), 0);
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
  QVX_ProgramLogonTables().SlotsRecount();
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
  QVX_ProgramLogonTables().SlotsRecount();
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "50123", 3, 11, 12, 14, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "50123", 3, 11, 99, 13, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.7", "50123", 3, 11, 12, 13, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "445", 3, 11, 12, 13, &slot, 8), 1);
  EXPECT_EQ(QVXTreeConnectInfoSet("10.0.0.1", "10.0.0.5", "50123", 3, 11, 12, 13, &slot, 8), 0);
  EXPECT_EQ(slot, 4);
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
  run_.TakeOptions();
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", name, 100), 0);
  EXPECT_STREQ(name, "FROMSERVER");
  EXPECT_EQ(QVX_UserNameSet("10.0.0.9", name, 0), 1);
  EXPECT_STREQ(name, "Not Find");
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
  EXPECT_EQ(QVX_TreeUserNameSet(QVX_UserSources(*run_), &t, 0, run_.tracker), 1);
  EXPECT_STREQ(t.Login_Name, "Not Find");
  fake.SetSessions({Session("10.0.0.5", "erin")});
  EXPECT_EQ(QVX_TreeUserNameSet(QVX_UserSources(*run_), &t, 0, run_.tracker), 0);
  EXPECT_STREQ(t.Login_Name, "erin");
  fake.SetSessions({});  // the session has left the list by the time a late frame is handled
  EXPECT_EQ(QVX_TreeUserNameSet(QVX_UserSources(*run_), &t, 0, run_.tracker), 0);
  EXPECT_STREQ(t.Login_Name, "erin");
  // The SMB1 session set-up's name for the client and UID comes first, as for any look-up.
  OptionInfo.SessionSetupFlg = 1;
  run_.TakeOptions();
  SessionSetup[0].Flg = kSlotBound;
  SessionSetup[0].Uid = 100;
  std::snprintf(SessionSetup[0].src_addr, 32, "10.0.0.5");
  std::snprintf(SessionSetup[0].Login_Name, 512, "ERIN2");
  EXPECT_EQ(QVX_TreeUserNameSet(QVX_UserSources(*run_), &t, 100, run_.tracker), 0);
  EXPECT_STREQ(t.Login_Name, "ERIN2");
}

TEST_F(SessionTreeTest, TwoSessionsOnOneConnectionEachNameTheirOwnUser) {
  // One TCP connection carries the log-ons of two users (a terminal server's redirector): each
  // tree is its own session's.
  fake.SetSessions({Session("10.0.0.5", "listed")});
  run_.tracker.TakeLogon("10.0.0.1", "10.0.0.5", 50000, 2, 0x41, "ann");
  run_.tracker.TakeLogon("10.0.0.1", "10.0.0.5", 50000, 2, 0x42, "bob");
  // SMB1: by the connection and UID.
  run_.tracker.TakeLogon("10.0.0.1", "10.0.0.5", 50001, 1, 100, "CAROL");
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
  for (TreeConnectSt& t : trees) QVX_TreeUserNameSet(QVX_UserSources(*run_), &t, 0, run_.tracker);
  EXPECT_STREQ(trees[0].Login_Name, "ann");
  EXPECT_STREQ(trees[1].Login_Name, "bob");
  EXPECT_STREQ(trees[2].Login_Name, "CAROL");
  // A session whose log-on the capture did not see: the server's list.
  EXPECT_STREQ(trees[3].Login_Name, "listed");
  // An SMB2 session keeps its user on another connection (multichannel).
  TreeConnectSt other = trees[0];
  other.Login_Name[0] = '\0';
  std::snprintf(other.src_port, 16, "50009");
  QVX_TreeUserNameSet(QVX_UserSources(*run_), &other, 0, run_.tracker);
  EXPECT_STREQ(other.Login_Name, "ann");
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
