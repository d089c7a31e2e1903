#include "audit/departed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/maintenance.h"
#include "tracking/access_data.h"
#include "tracking/connection_tracker.h"
#include "tracking/session_tree_fixture.h"

namespace qvx {
namespace {

using test::Frame;
using test::Session;
using DepartedTest = test::SessionTreeTest;

TEST_F(DepartedTest, AFailedSessionListLogsNobodyOut) {
  ASSERT_NO_FATAL_FAILURE(WithListView());
  OptionInfo.TreeConnectCnt = 8;
  OptionInfo.SessionSetupFlg = 1;
  run_.TakeOptions();
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
  QVX_ProgramLogonTables().SlotsRecount();
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

TEST_F(DepartedTest, ATreeEndsWithItsConnectionAndNotWhileItIsOpen) {
  ASSERT_NO_FATAL_FAILURE(WithListView());
  OptionInfo.TreeConnectCnt = 8;
  run_.TakeOptions();
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
  QVX_ProgramLogonTables().SlotsRecount();
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
  run_.tracker.Observe(syn.data(), static_cast<uint32_t>(syn.size()), 1);
  fake.SetSessions({Session("10.0.0.9", "other")});
  data.NextSessionChkTime = 0;
  QVX_SmbInfoTableDelete(&data);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotBound);  // its connection is open
  EXPECT_EQ(TreeConnect[1].Flg, kSlotFree);   // neither listed nor seen open
  ASSERT_EQ(LogLines().size(), 1u);
  // The connection ends (a server restart resets it): the tree ends at once, with its line.
  QVX_ConnectionTreesEnded(*run_, "10.0.0.1", "10.0.0.5", "40000");
  EXPECT_EQ(TreeConnect[0].Flg, kSlotFree);
  ASSERT_EQ(LogLines().size(), 2u);
  EXPECT_NE(LogLines()[1].find(",logout,30,"), std::string::npos);
}

}  // namespace
}  // namespace qvx
