#include "app/list_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accesslog/csv_sink.h"
#include "app/controller.h"
#include "audit/events.h"
#include "base/option.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"
#include "support/sample_event.h"

namespace qvx {
namespace {

class ListSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.WriteText(fake.Path("Quorvix.ini"), "[Option]\r\nNbtstatChgOn=0\r\nAccessDataCnt=60\r\n");
    ASSERT_TRUE(QVX_OnInitDialog(view));
  }
  void TearDown() override { QVX_OnClose(); }
  static AccessEvent Row() {
    AccessEvent e = test::SampleAccessEvent();
    e.action = "disconnect";
    e.command = "SMB2_TREE_DISCONNECT";
    e.size = "0";
    e.operation = "";
    e.path = "\\\\srv\\share";
    e.path_detail = " [T:7 P:0 U:1 M:2]";
    return e;
  }
  test::FakePlatform fake;
  test::RecordingView view;
  ListSink sink;
};

TEST_F(ListSinkTest, OneRowInColumnOrderWithoutTheRecordDetail) {
  sink.Write(Row());
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0],
            (std::vector<std::string>{"2026/12/09 10:20:07", "disconnect", "7", "alice", "10.0.0.2",
                                      "10.0.0.1", "aa:aa:aa:aa:aa:aa", "bb:bb:bb:bb:bb:bb",
                                      "SMB2_TREE_DISCONNECT", "open", "0", "", "\\\\srv\\share"}));
}

TEST_F(ListSinkTest, RecordOnlyEventsMakeNoRow) {
  AccessEvent e = Row();
  e.to_list = false;
  sink.Write(e);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_FALSE(sink.WantsRecords());
}

TEST_F(ListSinkTest, StandardOutputsAreTheLogThenTheList) {
  QVX_InstallStandardSinks();
  QVX_InstallStandardSinks();  // installing again does not double them
  OptionInfo.LogFileWriteFlg = 0;
  EXPECT_EQ(QVX_Sinks().size(), 2u);
  EXPECT_FALSE(QVX_Sinks().WantRecords());
  OptionInfo.LogFileWriteFlg = 1;
  EXPECT_TRUE(QVX_Sinks().WantRecords());
  QVX_Sinks().Write(Row());
  EXPECT_EQ(view.rows.size(), 1u);
}

TEST_F(ListSinkTest, ABoundTreeTurnsItsWaitingRowIntoItsConnectRow) {
  AccessEvent waiting = Row();
  waiting.action = "connect";
  waiting.tree = "WAIT3";
  waiting.user = "";
  sink.Write(Row());
  sink.Write(waiting);
  EXPECT_FALSE(sink.TreeBound("WAIT4", "9", "bob", nullptr));  // no such row: nothing changes
  EXPECT_TRUE(sink.TreeBound("WAIT3", "9", "bob", nullptr));
  ASSERT_EQ(view.rows.size(), 2u);
  EXPECT_EQ(view.rows[0][2], "7");  // the other row keeps its tree
  EXPECT_EQ(view.rows[1][1], "connect");
  EXPECT_EQ(view.rows[1][2], "9");
  EXPECT_EQ(view.rows[1][3], "bob");
  EXPECT_FALSE(sink.TreeBound("WAIT3", "9", "bob", nullptr));  // bound once only
}

}  // namespace
}  // namespace qvx
