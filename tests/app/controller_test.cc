#include "app/controller.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "accesslog/access_log.h"
#include "accesslog/log_writer.h"
#include "app/listview.h"
#include "app/startup.h"
#include "app/tables.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_loop.h"
#include "capture/fake_connector.h"
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
  QVX_LogWriter().Sync();  // the switch is the writer's work
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

// The fake connector's adapter for the configured server, in network byte order.
void ServeAdapter(const char* ip) {
  unsigned a, b, c, d;
  std::sscanf(ip, "%u.%u.%u.%u", &a, &b, &c, &d);
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  test::Fake().adapters = {{IpAddress::V4(bytes), "veth-srv"}};
}

class CaptureCommandTest : public ControllerTest {
 protected:
  void SetUp() override {
    test::Fake().data = &data;
    test::Fake().stop_when_empty = false;
  }
  // Starts the program on a view of the test's own, with an adapter for its server address.
  void StartOn(View& window) {
    ASSERT_TRUE(QVX_StartUp(0, nullptr));
    fake.WriteText(fake.Path("Quorvix.ini"),
                   "[Option]\r\nIpAddress=10.213.0.1\r\nServiceTaskWait=0\r\n");
    ASSERT_TRUE(QVX_OnInitDialog(window));
    ServeAdapter("10.213.0.1");
  }
  int Opens() {
    int n = 0;
    for (const auto& c : test::Fake().calls) n += c.rfind("open ", 0) == 0;
    return n;
  }
  test::FakeConnectorGuard con;
};

TEST_F(CaptureCommandTest, StartAndStopAreTwoCommands) {
  Start("IpAddress=10.213.0.1\r\nServiceTaskWait=0\r\n");
  // No adapter carries the address: Start fails, and Stop then stays stopped.
  QVX_OnCommand(kIdmStart);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  // The menu shows what capture does: stopped.
  EXPECT_FALSE(view.checks[kIdmStart]);
  EXPECT_TRUE(view.checks[kIdmStop]);
  const size_t enums = test::Fake().calls.size();
  QVX_OnCommand(kIdmStop);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_EQ(test::Fake().calls.size(), enums);  // no second start was tried
  EXPECT_EQ(view.delete_all_count, 1);

  // Start twice runs one capture; one Stop ends it.
  ServeAdapter("10.213.0.1");
  QVX_OnCommand(kIdmStart);
  QVX_OnCommand(kIdmStart);
  EXPECT_EQ(data.LoggingFlg.load(), 1);
  EXPECT_EQ(Opens(), 1);
  QVX_OnCommand(kIdmStop);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_FALSE(data.hThread.joinable());
}

TEST_F(CaptureCommandTest, RestartRestartsOnlyARunningCapture) {
  Start("IpAddress=10.213.0.1\r\nServiceTaskWait=0\r\nResetTime=3\r\n");
  ServeAdapter("10.213.0.1");
  QVX_OnCommand(kIdmWinPcapRestart);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_EQ(Opens(), 0);
  EXPECT_TRUE(Has(Event(), "QVX_I77-031"));
  EXPECT_TRUE(Has(Event(), "QVX_I02-032"));

  QVX_OnCommand(kIdmStart);
  QVX_OnCommand(kIdmWinPcapRestart);
  EXPECT_EQ(data.LoggingFlg.load(), 1);
  EXPECT_EQ(Opens(), 2);
  EXPECT_EQ(test::Fake().calls.back(), "filter");

  // The daily restart likewise.
  fake.SetNow(2026, 12, 10, 3, 0, 0);
  QVX_OnTimer();
  EXPECT_EQ(data.LoggingFlg.load(), 1);
  EXPECT_EQ(Opens(), 3);
  QVX_OnCommand(kIdmStop);
  fake.SetNow(2026, 12, 10, 4, 0, 0);
  QVX_OnTimer();
  fake.SetNow(2026, 12, 11, 3, 0, 0);
  QVX_OnTimer();
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_EQ(Opens(), 3);
}

// A view that behaves like a window owned by another thread: a row written from the capture
// thread is handed to the window's thread and waits until that thread has taken it, as a
// synchronous window message does. A row that nobody takes within 3 s is counted as lost.
class WindowThreadView : public test::RecordingView {
 public:
  void InsertRow(int item, const char* text) override {
    if (std::this_thread::get_id() == owner) {
      RecordingView::InsertRow(item, text);
      return;
    }
    std::unique_lock<std::mutex> lock(mu);
    const std::string copy = text;
    bool done = false;
    pending.push_back([this, item, copy, &done] {
      RecordingView::InsertRow(item, copy.c_str());
      done = true;
    });
    cv.notify_all();
    if (!cv.wait_for(lock, std::chrono::seconds(3), [&] { return done; })) {
      ++lost;
      pending.clear();
    }
  }
  void WaitForCaptureThread(const std::atomic<bool>& ended) override {
    std::unique_lock<std::mutex> lock(mu);
    while (!ended) {
      while (!pending.empty()) {
        pending.front()();
        pending.pop_front();
      }
      cv.notify_all();
      cv.wait_for(lock, std::chrono::milliseconds(1));
    }
  }
  // The rows as they were when Stop cleared the list.
  void DeleteAllRows() override {
    kept = rows;
    RecordingView::DeleteAllRows();
  }
  // Serves rows until n were written (as the message loop does while the window is idle).
  void ServeRows(size_t n) {
    std::unique_lock<std::mutex> lock(mu);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (rows.size() < n && std::chrono::steady_clock::now() < give_up) {
      while (!pending.empty()) {
        pending.front()();
        pending.pop_front();
      }
      cv.notify_all();
      cv.wait_for(lock, std::chrono::milliseconds(1));
    }
  }

  std::thread::id owner = std::this_thread::get_id();
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::function<void()>> pending;
  std::vector<std::vector<std::string>> kept;
  int lost = 0;
};

int RowWriter(SMB2_HEADER_ST*, unsigned long, unsigned char*, long, int, DATA* data) {
  char when[32];
  std::snprintf(when, sizeof when, "row %d", nListIndex);
  if (InsItem(data->hListView, when, nListIndex, 0, 0) == 0) ++nListIndex;
  return 0;
}
int RowWriter2(SMB2_HEADER_ST* h, unsigned long l, unsigned char* d, long c, DATA* data) {
  return RowWriter(h, l, d, c, 0, data);
}

// Stop while the capture thread is writing rows into a window of the stopping thread: the stop
// returns, every row written before it is in the window in order, none waited in vain.
TEST_F(CaptureCommandTest, StopWhileRowsArriveNeitherHangsNorLosesRows) {
  WindowThreadView window;
  ASSERT_NO_FATAL_FAILURE(StartOn(window));
  for (int i = 0; i < 200; ++i)
    test::Fake().frames.push_back(
        {test::MakeFrame("10.213.0.2", "10.213.0.1", test::Smb2Payload(0x05)), 0, 0});
  for (auto& f : test::Fake().frames) f.reported = static_cast<unsigned long>(f.bytes.size());
  QVX_CaptureDispatch.Smb2OtherCmd = RowWriter2;
  QVX_CaptureDispatch.Smb2FileStandardInfo = RowWriter;

  QVX_OnCommand(kIdmStart);
  ASSERT_EQ(data.LoggingFlg.load(), 1);
  window.ServeRows(5);
  QVX_OnCommand(kIdmStop);  // rows are still arriving
  QVX_CaptureDispatchReset();
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_FALSE(data.hThread.joinable());
  EXPECT_EQ(window.lost, 0);
  ASSERT_GE(window.kept.size(), 5u);
  for (size_t i = 0; i < window.kept.size(); ++i)
    EXPECT_EQ(window.kept[i][0], "row " + std::to_string(i));
  QVX_OnClose();
}

// A close that another thread sends while the window waits for the capture thread (the window
// answers sent messages then) ends the program; the restart that was waiting must not start a
// capture on the freed tables afterwards.
class ClosingView : public test::RecordingView {
 public:
  void WaitForCaptureThread(const std::atomic<bool>&) override {
    if (!closing) {
      closing = true;
      QVX_OnClose();
    }
  }
  bool closing = false;
};

TEST_F(CaptureCommandTest, CloseWhileARestartWaitsEndsIt) {
  ClosingView window;
  ASSERT_NO_FATAL_FAILURE(StartOn(window));
  QVX_OnCommand(kIdmStart);
  ASSERT_EQ(data.LoggingFlg.load(), 1);
  QVX_OnCommand(kIdmWinPcapRestart);
  EXPECT_TRUE(window.closing);
  EXPECT_TRUE(window.ended);
  EXPECT_EQ(QVX_View(), nullptr);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_FALSE(data.hThread.joinable());
  EXPECT_EQ(Opens(), 1);  // no capture after the close
}

}  // namespace
}  // namespace qvx
