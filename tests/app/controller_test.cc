#include "app/controller.h"

#include <gtest/gtest.h>

#include <string>

#include "accesslog/access_log.h"
#include "app/dbglog.h"
#include "app/listview.h"
#include "app/option.h"
#include "app/startup.h"
#include "app/tables.h"
#include "platform/profile.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"
#include "tracking/access_data.h"

namespace qvx {
namespace {

// The debug log as written so far (its gathered lines first).
std::vector<std::string> DebugLines() {
  DbgLogFlush();
  return static_cast<test::FakePlatform&>(platform()).Lines(szLogfileName1);
}

class ControllerTest : public ::testing::Test {
 protected:
  void Start(const std::string& ini = "", std::vector<const char*> args = {}) {
    if (!ini.empty()) fake.WriteText(fake.Path("Quorvix.ini"), "[Option]\r\n" + ini);
    ASSERT_TRUE(QVX_StartUp(static_cast<int>(args.size()), args.data()));
    ASSERT_TRUE(QVX_OnInitDialog(view));
  }
  void TearDown() override {
    if (QVX_View()) QVX_OnClose();
  }
  std::vector<std::string> Kernel() { return fake.Lines(szLogfileName); }
  std::vector<std::string> Event() { return fake.Lines(szLogfileName2); }
  static bool Has(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  test::FakePlatform fake;
  test::RecordingView view;
};

TEST_F(ControllerTest, InitialisationWritesTheVersionLineAndSetsUpTheWindow) {
  Start();
  auto k = Kernel();
  ASSERT_FALSE(k.empty());
  EXPECT_EQ(k[0].rfind("QVX_I02-001 QVX_Dlg_Proc[", 0), 0u);
  EXPECT_NE(k[0].find("] : Version 1.73 FP1"), std::string::npos);
  EXPECT_EQ(Event()[0].substr(0, 26), k[0].substr(0, 26));
  // The debug log was created with its one start-up line.
  EXPECT_EQ(DebugLines().size(), 1u);
  EXPECT_EQ(view.status[0], "Login：0");
  EXPECT_EQ(view.status[1], " ");
  EXPECT_TRUE(view.checks[kIdmStop]);
  EXPECT_TRUE(view.tray_icon);  // StartTask defaults to 1
  EXPECT_EQ(OptionInfo.TrayIconFlg, 1);
  EXPECT_TRUE(view.timer);
  EXPECT_TRUE(view.posted.empty());
  EXPECT_EQ(nCmdLineOptSc, 0);
  EXPECT_EQ(nAccessKindFlg, 3);
}

TEST_F(ControllerTest, ListCellsShowWireValuesEscaped) {
  Start();
  ASSERT_EQ(InsItem(nullptr, "2026/12/09 10:20:07", 0, 0, 0), 0);
  SetSubitem(nullptr, "/srv/data/a\r\nb<1>.txt", 0, 12, 0);
  SetSubitem(nullptr, "alice", 0, 3, 0);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.CellText(0, 12), "/srv/data/a<0D><0A>b<3C>1>.txt");
  EXPECT_EQ(view.CellText(0, 3), "alice");
  // The record keeps the text as it came: repeats are judged on it.
  EXPECT_STREQ(AccessData[0].Path, "/srv/data/a\r\nb<1>.txt");
}

TEST_F(ControllerTest, ScOptionAndAutoStart) {
  Start("AutoStart=1\r\nLogFileWriteFlg=1\r\nSMB=0\r\nServiceTaskWait=250\r\n", {"SC"});
  EXPECT_EQ(nCmdLineOptSc, 1);
  EXPECT_TRUE(Has(Kernel(), "SC オプション"));
  EXPECT_TRUE(Has(Kernel(), "QVX_I02-011"));
  ASSERT_EQ(view.posted.size(), 1u);
  EXPECT_EQ(view.posted[0], kIdmStart);
  EXPECT_EQ(view.status[1], "LOG");
  EXPECT_EQ(nAccessKindFlg, 2);
  EXPECT_EQ(fake.slept_ms(), 250);  // the "SC" start-up pause
}

TEST_F(ControllerTest, ShutdownWritesItsEventLines) {
  Start();
  std::string event = szLogfileName2;
  QVX_OnClose();
  auto e = fake.Lines(event);
  std::vector<std::string> want = {"KillTimer START",
                                   "KillTimer END",
                                   "free START",
                                   "SessionSetup free ",
                                   "TreeConnect free ",
                                   "NetWkShareInfo free ",
                                   "NetWkShareInfoBuf free ",
                                   "NetWkSessionInfo free ",
                                   "AccessData free ",
                                   "DeleteCriticalSection init START",
                                   "DeleteCriticalSection init END",
                                   "CloseHandle END"};
  size_t at = 0;
  for (const auto& l : e) {
    if (at < want.size() && l.size() >= want[at].size() &&
        l.compare(l.size() - want[at].size(), want[at].size(), want[at]) == 0)
      ++at;
  }
  EXPECT_EQ(at, want.size()) << "missing or out of order: " << want[std::min(at, want.size() - 1)];
  EXPECT_FALSE(view.tray_icon);
  EXPECT_FALSE(view.timer);
  EXPECT_TRUE(view.ended);
  EXPECT_EQ(fake.slept_ms(), 1000);  // ServiceTaskWait grace
}

TEST_F(ControllerTest, MenuChecksAndWindowCommands) {
  Start();
  QVX_OnCommand(kIdmStart);
  EXPECT_TRUE(view.checks[kIdmStart]);
  EXPECT_FALSE(view.checks[kIdmStop]);
  QVX_OnCommand(kIdmStop);
  EXPECT_FALSE(view.checks[kIdmStart]);
  EXPECT_TRUE(view.checks[kIdmStop]);
  EXPECT_EQ(view.delete_all_count, 1);  // Stop clears the list

  QVX_OnCommand(kIdmTopWindow);
  EXPECT_TRUE(view.topmost);
  EXPECT_EQ(OptionInfo.TopWindowFlg, 1);
  EXPECT_TRUE(view.dialogs.empty());  // opens nothing
  QVX_OnCommand(kIdmTopWindow);
  EXPECT_FALSE(view.topmost);

  QVX_OnCommand(kIdmScrollEnd);
  EXPECT_EQ(OptionInfo.ScrollEndFlg, 1);
  QVX_OnCommand(kIdmTrayIconDel);
  EXPECT_FALSE(view.tray_icon);
  EXPECT_EQ(OptionInfo.TrayIconFlg, 0);
  QVX_OnCommand(kIdmTrayIconInput);
  EXPECT_TRUE(view.tray_icon);
  EXPECT_FALSE(view.shown);
  QVX_OnCommand(kIdmOption);
  QVX_OnCommand(kIdmVersion);
  EXPECT_EQ(view.dialogs, (std::vector<int>{kDlgOption, kDlgVersion}));
  QVX_OnCommand(kIdmEnd);
  EXPECT_TRUE(view.close_posted);
}

TEST_F(ControllerTest, ReferenceOpensTheSelectedPath) {
  Start();
  QVX_OnCommand(kIdmReference);
  EXPECT_TRUE(view.opened.empty());  // no selection: nothing

  std::string path = "/srv/share/" + std::string(288, 'x') + " ";  // 300 characters
  view.InsertRow(0, "2026/12/09 10:20:07");
  view.SetCell(0, 12, path.c_str());
  view.selected = 0;
  QVX_OnCommand(kIdmReference);
  ASSERT_EQ(view.opened.size(), 1u);
  EXPECT_EQ(view.opened[0], path.substr(0, 299));  // whole path, one trailing blank removed
}

TEST_F(ControllerTest, LogViewerFallsBackToNotepadThenReports) {
  Start();
  const size_t boxes = fake.boxes().size();  // start-up's own (missing filter files)
  view.shell_result = 2;
  QVX_OnCommand(kIdmLogViewer);
  ASSERT_EQ(view.ran.size(), 1u);
  EXPECT_EQ(view.ran[0], "NOTEPAD " + fake.Path("Quorvix.log"));
  EXPECT_EQ(fake.boxes().size(), boxes);
  view.run_result = 0;
  QVX_OnCommand(kIdmLogViewer);
  ASSERT_EQ(fake.boxes().size(), boxes + 1);
  EXPECT_EQ(fake.boxes().back().text, "ログファイルが開けません:エラー コード = 0");
  EXPECT_TRUE(Has(Event(), "QVX_E02-012"));
}

TEST_F(ControllerTest, ListIsClearedOnceAtViewRefreshTime) {
  Start("ViewRefreshTime=30\r\n");
  fake.SetNow(2026, 12, 9, 10, 29, 59);
  QVX_OnTimer();
  EXPECT_EQ(view.delete_all_count, 0);
  fake.SetNow(2026, 12, 9, 10, 30, 0);
  QVX_OnTimer();
  EXPECT_EQ(view.delete_all_count, 1);
  fake.SetNow(2026, 12, 9, 10, 30, 1);
  QVX_OnTimer();
  fake.SetNow(2026, 12, 9, 10, 30, 59);
  QVX_OnTimer();
  EXPECT_EQ(view.delete_all_count, 1);  // rows added during the rest of the minute stay
  fake.SetNow(2026, 12, 9, 10, 31, 0);
  QVX_OnTimer();
  fake.SetNow(2026, 12, 9, 11, 30, 0);
  QVX_OnTimer();
  EXPECT_EQ(view.delete_all_count, 2);  // the next hour
}

TEST_F(ControllerTest, DailyRestartRunsOncePerHourMatch) {
  Start("ResetTime=3\r\n");
  fake.SetNow(2026, 12, 10, 3, 0, 0);
  QVX_OnTimer();
  fake.SetNow(2026, 12, 10, 3, 0, 1);
  QVX_OnTimer();
  int stops = 0;
  for (const auto& l : Event()) stops += l.find("QVX_I02-040") != std::string::npos;
  EXPECT_EQ(stops, 1);
  EXPECT_TRUE(Has(Event(), "QVX_I02-041"));
}

TEST_F(ControllerTest, TimerSwitchesTheAccessLogOnItsChecks) {
  Start("LogFileWriteFlg=1\r\nLogFileChangeFlg=1\r\nLogChgDayFlg=200\r\n");
  const std::string log = fake.Path("Quorvix.log");
  const std::string dated = fake.Path("Quorvix270101000000.log");
  fake.SetNow(2026, 12, 31, 23, 50, 0);
  QVX_OnTimer();
  fake.SetNow(2027, 1, 1, 0, 0, 0);
  QVX_OnTimer();
  EXPECT_TRUE(fake.FileExists(dated));
  EXPECT_EQ(fake.Contents(log), kAccessLogHeader);
  EXPECT_TRUE(Has(Event(), "QVX_I10-004"));
}

TEST_F(ControllerTest, ReNewKeepsOptionInfo) {
  Start("ErrorLevel=3\r\n");
  QVX_OnCommand(kIdmReNew);
  EXPECT_EQ(OptionInfo.ErrorLevel, 3);
  EXPECT_EQ(ProfileLookup(fake.Contents(fake.Path("Quorvix.ini")), "Option", "ErrorLevel"), "0");
  EXPECT_EQ(ProfileLookup(fake.Contents(fake.Path("Quorvix.ini")), "Option", "LogFilePath"),
            fake.Path("Quorvix.log"));
  EXPECT_TRUE(Has(Event(), "QVX_I02-013"));
  EXPECT_TRUE(Has(Event(), "QVX_I02-051"));
}

}  // namespace
}  // namespace qvx
