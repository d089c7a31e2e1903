#include "app/maintenance.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audit/departed.h"
#include "tracking/access_data.h"
#include "tracking/session_tree_fixture.h"

namespace qvx {
namespace {

using test::Frame;
using test::Session;
using MaintenanceTest = test::SessionTreeTest;

TEST_F(MaintenanceTest, CleanUpFreesDepartedClientsWithLogoutLinesAndPrunesTheirRows) {
  ASSERT_NO_FATAL_FAILURE(WithListView());
  OptionInfo.TreeConnectCnt = 8;
  ASSERT_TRUE(QVX_SessionTreeAlloc());  // the tree table of that size
  run_.TakeOptions();
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
  QVX_ProgramLogonTables().SlotsRecount();
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
TEST_F(MaintenanceTest, PruningMovesTheRecordsUnderTheListLock) {
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

}  // namespace
}  // namespace qvx
