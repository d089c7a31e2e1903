#include "tracking/access_data.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "app/controller.h"
#include "app/listview.h"
#include "app/tables.h"
#include "audit/tree_lookup.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"

namespace qvx {
namespace {

// Rows through the real controller and view port, as the handlers append them.
class AccessDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.WriteText(fake.Path("Quorvix.ini"),
                   "[Option]\r\nNbtstatChgOn=0\r\nMemperformanceSelect=2\r\nAccessDataCnt=60\r\n");
    ASSERT_TRUE(QVX_OnInitDialog(view));
    std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  }
  void TearDown() override { QVX_OnClose(); }
  int Append(const std::string& tid, const std::string& path, const char* op = "Rd  ",
             const char* client = "10.0.0.2") {
    const char* cells[12] = {"access", tid.c_str(), "alice", client, "10.0.0.1", "--",
                             "--",     "NTCreate",  "info",  "5",    op,         path.c_str()};
    return QVX_AppendRow(fake.Now(), cells, "QVX_Test");
  }
  bool Suppressed(int tid, const std::string& path, const char* op = "Rd  ") {
    SameAccessKey k;
    k.tid = tid;
    k.operation = op;
    k.client = "10.0.0.2";
    k.server = "10.0.0.1";
    k.path = path.c_str();
    return QVX_SameAccessFound(k, QVX_SameAccessLines(OptionInfo));
  }
  test::FakePlatform fake;
  test::RecordingView view;
};

TEST_F(AccessDataTest, RowsFillRecordsAndTheView) {
  ASSERT_EQ(OptionInfo.AccessDataCnt, 60);
  ASSERT_EQ(Append("7", "/srv/docs/a.txt"), 0);
  EXPECT_EQ(nListIndex, 1);
  EXPECT_EQ(AccessData[0].UseFlg, 1);
  EXPECT_STREQ(AccessData[0].AccessTime, "2026/12/09 10:20:07");
  EXPECT_STREQ(AccessData[0].TreeID, "7");
  EXPECT_STREQ(AccessData[0].Operation, "Rd  ");
  EXPECT_STREQ(AccessData[0].Path, "/srv/docs/a.txt");
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0][12], "/srv/docs/a.txt");
  EXPECT_EQ(view.rows[0][0], "2026/12/09 10:20:07");
}

TEST_F(AccessDataTest, ClearingEmptiesEveryRecordWritten) {
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Append(std::to_string(i), "/srv/" + std::to_string(i)), 0);
  AccessData_DeleteItem(1, 0);  // the last record moves up and is cleared
  EXPECT_EQ(nListIndex, 4);
  QVX_AccessDataClear();
  for (int i = 0; i < OptionInfo.AccessDataCnt; ++i) {
    ASSERT_EQ(AccessData[i].UseFlg, 0) << i;
    ASSERT_STREQ(AccessData[i].Path, "") << i;
  }
}

TEST_F(AccessDataTest, LongTextsAreCutToTheirFields) {
  std::string path(700, 'p');
  ASSERT_EQ(Append("12345678901234567890", path, "ReNmXX"), 0);
  EXPECT_EQ(std::string(AccessData[0].Path), std::string(599, 'p'));
  EXPECT_STREQ(AccessData[0].TreeID, "123456789012345");
  EXPECT_STREQ(AccessData[0].Operation, "ReNm");
  EXPECT_EQ(AccessData[0].Operation[7], '\0');
}

TEST_F(AccessDataTest, DeletingRowTwoOfFive) {
  for (int i = 0; i < 5; ++i) Append(std::to_string(i), "/p" + std::to_string(i));
  AccessData_DeleteItem(2, 0);
  EXPECT_EQ(nListIndex, 4);
  const char* want[] = {"/p0", "/p1", "/p3", "/p4"};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(AccessData[i].Path, want[i]);
  EXPECT_EQ(AccessData[4].UseFlg, 0);
  EXPECT_EQ(AccessData[4].Path[0], '\0');
  // Beyond the last row only the last row goes.
  AccessData_DeleteItem(9, 0);
  EXPECT_EQ(nListIndex, 3);
  EXPECT_STREQ(AccessData[2].Path, "/p3");
  EXPECT_EQ(AccessData[3].UseFlg, 0);
}

TEST_F(AccessDataTest, SuppressionLooksBackSameAccNonLogLineRows) {
  ASSERT_EQ(OptionInfo.SameAccNonLogLine, 50);
  // The window is the last 50 rows: a row with 49 rows after it is the oldest one inside.
  Append("9", "/srv/x");
  for (int i = 0; i < 49; ++i) Append("1", "/filler" + std::to_string(i));
  EXPECT_TRUE(Suppressed(9, "/srv/x"));  // 49 rows back
  Append("1", "/filler49");
  EXPECT_FALSE(Suppressed(9, "/srv/x"));  // 50 rows back: outside
  EXPECT_TRUE(Suppressed(1, "/filler49"));
  EXPECT_FALSE(Suppressed(1, "/filler49", "Wt  "));  // other operation
  EXPECT_FALSE(Suppressed(2, "/filler49"));          // other tree
  OptionInfo.SameAccNonLogFlg = 0;
  EXPECT_FALSE(Suppressed(1, "/filler49"));
}

TEST_F(AccessDataTest, ExtremeWindowsLookBackEverythingOrNothing) {
  Append("9", "/srv/x");
  Append("1", "/srv/y");
  OptionInfo.SameAccNonLogLine = INT_MAX;
  EXPECT_TRUE(Suppressed(9, "/srv/x"));
  OptionInfo.SameAccNonLogLine = 0;
  EXPECT_FALSE(Suppressed(1, "/srv/y"));
  // A window below zero holds no row, however far below.
  OptionInfo.SameAccNonLogLine = -1;
  EXPECT_FALSE(Suppressed(1, "/srv/y"));
  OptionInfo.SameAccNonLogLine = INT_MIN;
  EXPECT_FALSE(Suppressed(9, "/srv/x"));
  EXPECT_FALSE(Suppressed(1, "/srv/y"));
}

TEST_F(AccessDataTest, OnlyWholeTextsMatch) {
  // A row keeps 599 characters of a path: a longer access is another one, not a repeat of it.
  const std::string long_path(700, 'p');
  Append("4", long_path);
  EXPECT_FALSE(Suppressed(4, long_path));
  EXPECT_TRUE(Suppressed(4, long_path.substr(0, 599)));
  EXPECT_FALSE(Suppressed(4, long_path.substr(0, 598)));
  // Texts that are the start of another, either way round.
  Append("4", "/srv/ab", "Rd  ");
  EXPECT_FALSE(Suppressed(4, "/srv/a"));
  EXPECT_FALSE(Suppressed(4, "/srv/abc"));
  EXPECT_FALSE(Suppressed(4, "/srv/ab", "Rd"));
  EXPECT_FALSE(Suppressed(4, "/srv/ab", "Rd   "));
  EXPECT_FALSE(Suppressed(4, "/srv/ab", "Rd  XXXXXXXXXX"));
  EXPECT_TRUE(Suppressed(4, "/srv/ab", "Rd  "));
  // The tree number is compared as a number: a row's " 04" is tree 4.
  Append(" 04", "/srv/n");
  EXPECT_TRUE(Suppressed(4, "/srv/n"));
  EXPECT_FALSE(Suppressed(40, "/srv/n"));
}

TEST_F(AccessDataTest, ARowThatChangesIsComparedByItsNewTexts) {
  // The check keeps a digest in each row it has looked at; a later change of the row must count.
  Append("WAIT3", "\\\\srv\\docs [T:0]", "");
  Append("4", "/srv/a");
  EXPECT_FALSE(Suppressed(7, "\\\\srv\\docs [T:0]", ""));
  EXPECT_TRUE(Suppressed(4, "/srv/a"));
  // A waiting row becomes a connect row of tree 7; another row gets a new path and address.
  SetSubitem(nullptr, "7", 0, 2, 0);
  SetSubitem(nullptr, "/srv/b", 1, 12, 0);
  EXPECT_TRUE(Suppressed(7, "\\\\srv\\docs [T:0]", ""));
  EXPECT_FALSE(Suppressed(4, "/srv/a"));
  EXPECT_TRUE(Suppressed(4, "/srv/b"));
  SetSubitem(nullptr, "pc9(10.0.0.9)", 1, 4, 0);
  EXPECT_FALSE(Suppressed(4, "/srv/b"));
  // Rows that move up keep what they compare as.
  AccessData_DeleteItem(0, 0);
  Append("4", "/srv/c");
  EXPECT_TRUE(Suppressed(4, "/srv/c"));
  EXPECT_FALSE(Suppressed(7, "\\\\srv\\docs [T:0]", ""));
  QVX_AccessDataReset();
  EXPECT_FALSE(Suppressed(4, "/srv/c"));
  Append("4", "/srv/d");
  EXPECT_FALSE(Suppressed(4, "/srv/c"));
  EXPECT_TRUE(Suppressed(4, "/srv/d"));
}

TEST_F(AccessDataTest, UnknownTreeKeyHasNoOperationAndTracesEachRow) {
  OptionInfo.ErrorLevel = 2;
  Append("3", "\\dir\\f.txt", "Err");
  Append("4", "\\other");
  SameAccessKey k;
  k.tid = 3;
  k.client = "10.0.0.2";
  k.server = "10.0.0.1";
  k.path = "\\dir\\f.txt";
  k.caller = "QVXTreeIDGetInfo";
  EXPECT_TRUE(QVX_SameAccessFound(k, QVX_SameAccessLines(OptionInfo)));
  std::string kernel = fake.Contents(szLogfileName);
  EXPECT_NE(kernel.find("QVX_D31-010 QVXTreeIDGetInfo["), std::string::npos);
}

TEST_F(AccessDataTest, RowsWithHostNamesAreComparedByAddress) {
  // With host names shown the row reads "name(addr)"; a known tree's key holds the address.
  Append("5", "/srv/y", "Rd  ", "pc1(10.0.0.2)");
  EXPECT_TRUE(Suppressed(5, "/srv/y"));
  // A name with brackets of its own; a name that merely holds the address; another client.
  Append("6", "/srv/y", "Rd  ", "lab(2)(10.0.0.2)");
  EXPECT_TRUE(Suppressed(6, "/srv/y"));
  Append("7", "/srv/y", "Rd  ", "10.0.0.2(10.0.0.23)");
  Append("8", "/srv/y", "Rd  ", "pc1(10.0.0.22)");
  EXPECT_FALSE(Suppressed(7, "/srv/y"));
  EXPECT_FALSE(Suppressed(8, "/srv/y"));
  // An unknown tree's key holds the display text, which may have been resolved differently.
  SameAccessKey k;
  k.tid = 5;
  k.client = "other-name(10.0.0.2)";
  k.server = "srv(10.0.0.1)";
  k.path = "/srv/y";
  EXPECT_TRUE(QVX_SameAccessFound(k, QVX_SameAccessLines(OptionInfo)));
  k.server = "srv(10.0.0.10)";
  EXPECT_FALSE(QVX_SameAccessFound(k, QVX_SameAccessLines(OptionInfo)));
}

TEST_F(AccessDataTest, AFullListLetsItsOldestTenthGoAndCountsIt) {
  OptionInfo.ErrorLevel = 6;
  OptionInfo.ScrollEndFlg = 1;
  for (int i = 0; i < 60; ++i) ASSERT_EQ(Append("1", "/r" + std::to_string(i)), 0);
  EXPECT_EQ(view.visible.back(), 59);
  const unsigned long long dropped = QVX_ListRowsDropped();
  // The 61st row: the 6 oldest go, the table and the view move up together, the new row is last.
  EXPECT_EQ(Append("1", "/new"), 0);
  EXPECT_EQ(nListIndex, 55);
  EXPECT_EQ(QVX_ListRowsDropped() - dropped, 6u);
  ASSERT_EQ(view.rows.size(), 55u);
  EXPECT_STREQ(AccessData[0].Path, "/r6");
  EXPECT_STREQ(AccessData[53].Path, "/r59");
  EXPECT_STREQ(AccessData[54].Path, "/new");
  EXPECT_EQ(AccessData[55].UseFlg, 0);
  EXPECT_EQ(AccessData[59].UseFlg, 0);
  EXPECT_EQ(view.visible.back(), 54);
  std::string kernel = fake.Contents(szLogfileName);
  EXPECT_EQ(kernel.find("QVX_E81-001 InsItem["), std::string::npos);  // nothing was refused
  EXPECT_NE(kernel.find("QVX_D21-003 QVX_Test["), std::string::npos);
  EXPECT_NE(kernel.find("ViewItem DEL : Userd nListIndex = 60 : oldest 6 rows"), std::string::npos);
  // Full again: another tenth goes.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Append("1", "/more" + std::to_string(i)), 0);
  EXPECT_EQ(nListIndex, 60);
  EXPECT_EQ(Append("1", "/again"), 0);
  EXPECT_EQ(nListIndex, 55);
  EXPECT_STREQ(AccessData[54].Path, "/again");
  EXPECT_EQ(QVX_ListRowsDropped() - dropped, 12u);
}

TEST_F(AccessDataTest, RecordsFillWithoutTheListView) {
  OptionInfo.AccessLogOnly = 1;
  OptionInfo.ScrollEndFlg = 1;
  Append("7", "/srv/z");
  Append("7", "/srv/z2");
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(view.visible.empty());
  EXPECT_EQ(nListIndex, 2);
  EXPECT_TRUE(Suppressed(7, "/srv/z"));
}

TEST_F(AccessDataTest, RowsThatAreNotRecordsTouchOnlyTheView) {
  EXPECT_EQ(InsItem(nullptr, "plain", 100, 0, 1), 0);  // beyond the capacity, still shown
  SetSubitem(nullptr, "cell", 100, 3, 1);
  ASSERT_EQ(view.rows.size(), 101u);
  EXPECT_EQ(view.rows[100][3], "cell");
  EXPECT_EQ(nListIndex, 0);
  SetSubitem(nullptr, "refused", 60, 3, 0);
  EXPECT_NE(fake.Contents(szLogfileName).find("QVX_E91-001 InsItem["), std::string::npos);
}

TEST_F(AccessDataTest, StatusTexts) {
  EXPECT_EQ(view.status[0], "Login：0");
  EXPECT_EQ(view.status[1], " ");
  QVX_StatusLogin(3);
  EXPECT_EQ(view.status[0], "Login：3");
}

}  // namespace
}  // namespace qvx
