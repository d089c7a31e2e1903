#include "base/dbglog.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

// The debug log as written so far (its gathered lines first).
std::vector<std::string> DebugLines() {
  DbgLogFlush();
  return static_cast<test::FakePlatform&>(platform()).Lines(szLogfileName1);
}

class DbgLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetProgramState();
    std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
    std::snprintf(szLogfileName1, kLogPathSize, "%s", fake.Path("d.log").c_str());
    std::snprintf(szLogfileName2, kLogPathSize, "%s", fake.Path("e.log").c_str());
  }
  test::FakePlatform fake;
};

TEST_F(DbgLogTest, MakeIniFileNameJoinsTheExecutablesFolder) {
  char out[512];
  ASSERT_EQ(MakeIniFileName("Quorvix.ini", out), 1);
  EXPECT_EQ(std::string(out), fake.Path("Quorvix.ini"));

  fake.SetExecutablePath("");
  EXPECT_EQ(MakeIniFileName("Quorvix.ini", out), 0);

  // A result that does not fit is a failure, never an overflow.
  fake.SetExecutablePath(std::string(300, 'a') + "/" + std::string(200, 'b') + "/q.exe");
  char small[512];
  EXPECT_EQ(MakeIniFileName(std::string(100, 'c').c_str(), small, sizeof small), 0);
}

TEST_F(DbgLogTest, KernelAndEventLinesAppendInTheirFormat) {
  fake.WriteText(szLogfileName, "earlier\r\n");
  DiagLogLine(DiagLog::kKernel, 0, "QVX_I02-001 QVX_Dlg_Proc[%d][%ld] : Version 1.73 FP1\r\n", 812,
              0L);
  QVX_KLOG("QVX_E21-001 QVX_LogThread[%d][%ld] : パケット受信に失敗しました。\r\n");
  DiagLogLine(DiagLog::kEvent, 0, "QVX_I02-001 QVX_Dlg_Proc[%d][%ld] : Version 1.73 FP1\r\n", 9,
              5L);
  auto k = fake.Lines(szLogfileName);
  ASSERT_EQ(k.size(), 3u);
  EXPECT_EQ(k[0], "earlier");  // opened for append, not truncated
  EXPECT_EQ(k[1], "QVX_I02-001 QVX_Dlg_Proc[812][0] : Version 1.73 FP1");
  EXPECT_EQ(k[2].rfind("QVX_E21-001 QVX_LogThread[", 0), 0u);
  EXPECT_NE(k[2].find("] : パケット受信に失敗しました。"), std::string::npos);
  EXPECT_EQ(fake.Lines(szLogfileName2)[0], "QVX_I02-001 QVX_Dlg_Proc[9][5] : Version 1.73 FP1");
}

TEST_F(DbgLogTest, ErrorsAndWarningsAlsoGoToTheSystemLogWithTheirIds) {
  ASSERT_TRUE(DbgLogCreate());
  DiagLogLine(DiagLog::kKernel, 0, "QVX_I03-002 QVX_LogThread[%d][%ld] : start\r\n", 1, 0L);
  DiagLogLine(DiagLog::kEvent, 0, "QVX_I02-001 QVX_Dlg_Proc[%d][%ld] : start\r\n", 1, 0L);
  QVX_KLOG("QVX_E21-070 QVX_LogThread[%d][%ld] : 5 frames dropped by the capture\r\n");
  QVX_ELOG("QVX_W11-008 LogFileAccess[%d][%ld] : reopened %s\r\n", "a\nb");
  QVX_KLOG("QVX_D31-020 x[%d][%ld] : refused\r\n");
  // The debug log's own errors too (a kernel log that cannot be written says so there).
  std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("no/such/dir/k.log").c_str());
  DbgLogPrint(nullptr, szLogfileName, nullptr, "x\r\n", 3, 0);
  const auto& s = fake.system_log();
  ASSERT_EQ(s.size(), 3u);
  EXPECT_TRUE(s[0].first);
  EXPECT_EQ(s[0].second.rfind("QVX_E21-070 QVX_LogThread[", 0), 0u);
  EXPECT_NE(s[0].second.find(" : 5 frames dropped by the capture"), std::string::npos);
  EXPECT_EQ(s[0].second.back(), 'e');  // no line end
  EXPECT_FALSE(s[1].first);
  EXPECT_NE(s[1].second.find("reopened a<0A>b"), std::string::npos);  // escaped as in the log
  EXPECT_TRUE(s[2].first);
  EXPECT_EQ(s[2].second.rfind("QVX_E11-001 LogFileAccess[", 0), 0u);
}

TEST_F(DbgLogTest, LongLinesAreCutInsideTheBufferAndStillEndTheLine) {
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  std::string path(5000, 'p');
  QVX_KLOG("QVX_E02-003 QVX_Dlg_Proc[%d][%ld] : ログファイル設定失敗。LogPathBuf=%s\r\n",
           path.c_str());
  std::string text = fake.Contents(szLogfileName);
  ASSERT_EQ(text.size(), std::strlen("start\r\n") + kDbgBufSize - 1);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(DbgLogTest, ValuesFromTheWireCannotStartALineOfTheirOwn) {
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  QVX_KLOG("QVX_D31-004 QVX_Smb2FileStandardInfo[%d][%ld] : szAccessPathName=%s\r\n",
           "a\r\nQVX_I02-001 forged");
  DiagLogLine(DiagLog::kEvent, 0, "user=%s\r\n", "x\ny");
  auto k = fake.Lines(szLogfileName);
  ASSERT_EQ(k.size(), 2u);
  EXPECT_NE(k[1].find(" : szAccessPathName=a<0D><0A>QVX_I02-001 forged"), std::string::npos);
  EXPECT_EQ(fake.Contents(szLogfileName2), "user=x<0A>y\r\n");
}

TEST_F(DbgLogTest, WriteToAMissingFolderLeavesAnE11LineInTheDebugLog) {
  ASSERT_TRUE(DbgLogCreate());
  std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("no/such/dir/k.log").c_str());
  EXPECT_EQ(DbgLogPrint(nullptr, szLogfileName, nullptr, "x\r\n", 3, 0), 0);
  auto d = DebugLines();
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].rfind("QVX_E11-001 LogFileAccess[", 0), 0u);
  EXPECT_NE(d[0].find("ログファイルが作成できません。" + std::string(szLogfileName)),
            std::string::npos);
  // Mode 1 with no open handle is a write failure.
  EXPECT_EQ(DbgLogPrint(nullptr, szLogfileName, nullptr, "x\r\n", 3, 1), 0);
  EXPECT_EQ(DebugLines()[1].rfind("QVX_E11-003 LogFileAccess[", 0), 0u);
}

TEST_F(DbgLogTest, DebugLogRestartsEmptyAfter40000Lines) {
  ASSERT_TRUE(DbgLogCreate());
  for (int i = 1; i <= 40000; ++i) DbgCrumb(i);
  EXPECT_EQ(DebugLines().size(), 40000u);
  DbgCrumb(40001);
  auto lines = DebugLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "QVXDBG[40001] : ");
}

TEST_F(DbgLogTest, DebugLogRecyclesAt1000LinesWhenAsynchronous) {
  OptionInfo.AsynchronousFlg = 1;
  ASSERT_TRUE(DbgLogCreate());
  for (int i = 1; i <= 1001; ++i) DbgCrumb(i);
  auto lines = DebugLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "QVXDBG[1001] : ");
  // The overlapped path appends like the plain one.
  DiagLogLine(DiagLog::kKernel, 0, "a\r\n");
  DiagLogLine(DiagLog::kKernel, 1, "b\r\n");
  EXPECT_EQ(fake.Contents(szLogfileName), "a\r\nb\r\n");
}

TEST_F(DbgLogTest, GatheredDebugLinesAreWrittenAtClose) {
  ASSERT_TRUE(DbgLogCreate());
  for (int i = 1; i <= 3; ++i) DbgCrumb(i);
  DbgLogCloseAll();
  auto lines = fake.Lines(szLogfileName1);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "QVXDBG[3] : ");
}

TEST_F(DbgLogTest, CrumbsCarryTheLineNumber) {
  ASSERT_TRUE(DbgLogCreate());
  for (int line : {0, 9, 10, 99, 100, 2147483647, -5}) DbgCrumb(line);
  EXPECT_EQ(DebugLines(), (std::vector<std::string>{
                              "QVXDBG[0] : ", "QVXDBG[9] : ", "QVXDBG[10] : ", "QVXDBG[99] : ",
                              "QVXDBG[100] : ", "QVXDBG[2147483647] : ", "QVXDBG[0] : "}));
}

TEST_F(DbgLogTest, CrumbsOfAnotherThreadArriveInOrder) {
  ASSERT_TRUE(DbgLogCreate());
  std::thread worker([] {
    for (int i = 1; i <= 5000; ++i) DbgCrumb(i);
    DbgLogFlush();  // as the capture thread does when it ends
  });
  worker.join();
  DbgCrumb(99999);
  auto lines = DebugLines();
  ASSERT_EQ(lines.size(), 5001u);
  EXPECT_EQ(lines[0], "QVXDBG[1] : ");
  EXPECT_EQ(lines[4999], "QVXDBG[5000] : ");
  EXPECT_EQ(lines[5000], "QVXDBG[99999] : ");
  EXPECT_EQ(DbgLogPrintCount(), 5001);
  // A line written directly comes after the writing thread's own earlier crumbs.
  DbgCrumb(7);
  DiagLogLine(DiagLog::kDebug, 1, "direct\r\n");
  lines = DebugLines();
  ASSERT_EQ(lines.size(), 5003u);
  EXPECT_EQ(lines[5001], "QVXDBG[7] : ");
  EXPECT_EQ(lines[5002], "direct");
}

// Two threads taking turns: the main thread leaves the odd crumbs 1, 3, ..., the worker the
// even ones, each waiting for the other's before its next. The worker neither flushes nor ends
// before the caller looks.
class TakingTurns {
 public:
  explicit TakingTurns(int crumbs) : crumbs_(crumbs) {
    worker_ = std::thread([this] {
      for (int i = 2; i <= crumbs_; i += 2) {
        Await(i);
        DbgCrumb(i);
        Pass(i + 1);
      }
      Await(crumbs_ + 1000);  // stays alive, holding nothing of its own
    });
    for (int i = 1; i <= crumbs_; i += 2) {
      Await(i);
      DbgCrumb(i);
      Pass(i + 1);
    }
    Await(crumbs_ + 1);
  }
  ~TakingTurns() {
    Pass(crumbs_ + 1000);
    worker_.join();
  }
  static std::vector<std::string> Expected(int crumbs) {
    std::vector<std::string> out;
    for (int i = 1; i <= crumbs; ++i) out.push_back("QVXDBG[" + std::to_string(i) + "] : ");
    return out;
  }

 private:
  void Await(int turn) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return turn_ >= turn; });
  }
  void Pass(int turn) {
    std::lock_guard<std::mutex> lock(mu_);
    turn_ = turn;
    cv_.notify_all();
  }
  int crumbs_;
  std::mutex mu_;
  std::condition_variable cv_;
  int turn_ = 1;
  std::thread worker_;
};

TEST_F(DbgLogTest, CrumbsOfAllThreadsKeepTheOrderTheyWereMadeIn) {
  ASSERT_TRUE(DbgLogCreate());
  TakingTurns turns(40);
  // The main thread's own line follows every crumb before it, the worker's included.
  DiagLogLine(DiagLog::kDebug, 1, "after\r\n");
  auto want = TakingTurns::Expected(40);
  want.push_back("after");
  EXPECT_EQ(DebugLines(), want);
  EXPECT_EQ(DbgLogPrintCount(), 41);
}

#ifndef _WIN32
// A crash keeps the lines that explain it: a child that gathered crumbs on two threads dies of a
// fatal signal before any of them was due; its debug log must hold them all, in order.
void CrashWithCrumbs(int sig) {
  ASSERT_TRUE(DbgLogCreate());
  DbgLogCatchCrashes();
  DiagLogLine(DiagLog::kDebug, 1, "start\r\n");
  TakingTurns turns(30);
  DbgCrumb(777);
  if (sig == SIGABRT) std::abort();
  std::raise(sig);
}

// Killed by the signal, or ended by a sanitizer's report of it.
bool DiedOfCrash(int status) {
  return (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL) ||
         (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST_F(DbgLogTest, AFatalSignalWritesOutTheHeldLinesOfEveryThread) {
  GTEST_FLAG_SET(death_test_style, "fast");
  for (int sig : {SIGSEGV, SIGABRT}) {
    fake.WriteText(szLogfileName1, "");
    EXPECT_EXIT(CrashWithCrumbs(sig), DiedOfCrash, "") << sig;
    auto want = TakingTurns::Expected(30);
    want.insert(want.begin(), "start");
    want.push_back("QVXDBG[777] : ");
    EXPECT_EQ(fake.Lines(szLogfileName1), want) << "signal " << sig;
  }
}
#endif

TEST_F(DbgLogTest, NonEventWriteLogFlgSilencesTheDebugLog) {
  ASSERT_TRUE(DbgLogCreate());
  DbgCrumb(1);
  OptionInfo.NonEventWriteLogFlg = 1;
  DbgCrumb(2);
  EXPECT_EQ(DbgLogPrint1(nullptr, szLogfileName1, nullptr, "x", 1, 1), 1);
  EXPECT_EQ(DebugLines().size(), 1u);
}

TEST_F(DbgLogTest, ScMessageBoxIsSkippedUnderSc) {
  ScMessageBox(nullptr, "shown", "c", kMbOk);
  nCmdLineOptSc = 1;
  ScMessageBox(nullptr, "hidden", "c", kMbOk);
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "shown");
}

}  // namespace
}  // namespace qvx
