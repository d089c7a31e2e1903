// The access log under faults: a full disk, a file removed or replaced from outside, reopening
// while lines are written.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "accesslog/access_log.h"
#include "accesslog/rotation.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;

const std::string kHeader(kAccessLogHeader);

// An access line as the program writes them, for file n.
std::string AccessLine(int n, const char* user = "alice") {
  char line[200];
  std::snprintf(line, sizeof line,
                "[2026/12/09 10:20:07],access,7,%s,10.1.2.3,10.1.2.4,--,--,SMB2_CREATE,Create,"
                "12,Rd  ,/srv/docs/f%04d.txt\r\n",
                user, n);
  return line;
}

class LogFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QVX_AccessLogTakeNotices();  // what an earlier test left unread
    OptionSetDefaults(&OptionInfo);
    std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
    std::snprintf(szLogfileName2, sizeof szLogfileName2, "%s", fake.Path("e.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
    DiagLogLine(DiagLog::kEvent, 0, "start\r\n");
    // The access log on a disk of its own, which the tests fill; the kernel log stays writable.
    folder = fake.Path("logs");
    fs::create_directories(folder);
    log = folder + kPathSep + "Quorvix.log";
    std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", log.c_str());
    OptionInfo.LogFileWriteFlg = 1;
    QVX_AccessLogStartUp(nullptr);
    ASSERT_EQ(OptionInfo.LogFileWriteFlg, 1);
    lost_before = QVX_AccessLogLinesLost();
  }
  int Write(const std::string& line) { return QVX_AccessLogWrite(line.data(), line.size()); }
  std::string Kernel() { return fake.Contents(szLogfileName); }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }

  test::FakePlatform fake;
  std::string folder, log;
  uint64_t lost_before = 0;
};

TEST_F(LogFaultsTest, ShortWriteIsRolledBackAndTheLineNamed) {
  ASSERT_EQ(Write(AccessLine(1)), 1);
  // Room for a third of the next line: the disk takes that much and is full.
  fake.SetSmallDisk(folder, 40);
  const int writes = fake.small_disk_writes();
  EXPECT_EQ(Write(AccessLine(2, "bob")), 0);
  EXPECT_EQ(fake.small_disk_writes() - writes, 1);  // one write call for the line
  EXPECT_EQ(fake.short_writes(), 1);
  // Nothing of it stays, and the room it took is free again.
  EXPECT_EQ(fake.Contents(log), kHeader + AccessLine(1));
  EXPECT_EQ(fake.room(), 40);
  EXPECT_EQ(QVX_AccessLogLinesLost() - lost_before, 1u);
  const std::string k = Kernel();
  EXPECT_NE(k.find("QVX_E11-006 QVX_AccessLogWrite["), std::string::npos);
  EXPECT_NE(k.find("lost line: time=[2026/12/09 10:20:07] user=bob client=10.1.2.3 "
                   "cmd=SMB2_CREATE op=Rd   path=/srv/docs/f0002.txt"),
            std::string::npos)
      << k;
  EXPECT_EQ(k.find("QVX_E11-007"), std::string::npos);  // nothing was left behind
}

TEST_F(LogFaultsTest, FullDiskThenSpaceAgainLeavesNoPartialLine) {
  const size_t one = AccessLine(0).size();
  // Room for two lines and a half.
  fake.SetSmallDisk(folder, static_cast<int64_t>(2 * one + one / 2));
  std::vector<int> written, lost;
  for (int i = 1; i <= 6; ++i) (Write(AccessLine(i)) == 1 ? written : lost).push_back(i);
  EXPECT_EQ(written, (std::vector<int>{1, 2}));
  EXPECT_EQ(lost, (std::vector<int>{3, 4, 5, 6}));
  // Space comes back: the next line starts at a line's start.
  fake.SetSmallDisk(folder, -1);
  ASSERT_EQ(Write(AccessLine(7)), 1);
  EXPECT_EQ(fake.Contents(log), kHeader + AccessLine(1) + AccessLine(2) + AccessLine(7));
  EXPECT_EQ(QVX_AccessLogLinesLost() - lost_before, 4u);
  const std::string k = Kernel();
  EXPECT_EQ(Count(k, "QVX_E11-006"), 4);
  for (int i : lost) {
    char path[40];
    std::snprintf(path, sizeof path, "path=/srv/docs/f%04d.txt\r\n", i);
    EXPECT_EQ(Count(k, path), 1) << path;
  }
  EXPECT_EQ(Count(k, "path=/srv/docs/f0007.txt"), 0);
}

TEST_F(LogFaultsTest, LostLineWithAPathLongerThanAKernelLineIsNamedWhole) {
  std::string line = AccessLine(1);
  const std::string tail(700, 'x');
  line.insert(line.size() - 2, tail);
  fake.SetSmallDisk(folder, 0);
  EXPECT_EQ(Write(line), 0);
  EXPECT_NE(Kernel().find("/srv/docs/f0001.txt" + tail + "\r\n"), std::string::npos);
}

TEST_F(LogFaultsTest, AnUnchangedFileIsLeftAlone) {
  ASSERT_EQ(Write(AccessLine(1)), 1);
  EXPECT_EQ(QVX_AccessLogCheckFile(), 0);
  EXPECT_TRUE(QVX_AccessLogTakeNotices().empty());
  ASSERT_EQ(Write(AccessLine(2)), 1);
  EXPECT_EQ(fake.Contents(log), kHeader + AccessLine(1) + AccessLine(2));
  EXPECT_EQ(Kernel().find("QVX_W11-008"), std::string::npos);
}

#ifndef _WIN32
// Windows keeps an open file from being renamed or deleted.
TEST_F(LogFaultsTest, ReplacedFileIsReopenedUnderItsName) {
  ASSERT_EQ(Write(AccessLine(1)), 1);
  fs::rename(log, log + ".old");
  fake.WriteText(log, "");             // someone else's new, empty file
  ASSERT_EQ(Write(AccessLine(2)), 1);  // still the open file until the check
  EXPECT_EQ(QVX_AccessLogCheckFile(), 1);
  ASSERT_EQ(Write(AccessLine(3)), 1);
  // The moved file keeps its lines (none written twice); the new one gets the header.
  EXPECT_EQ(fake.Contents(log + ".old"), kHeader + AccessLine(1) + AccessLine(2));
  EXPECT_EQ(fake.Contents(log), kHeader + AccessLine(3));
  EXPECT_EQ(Count(Kernel(), "QVX_W11-008"), 1);
  const auto notices = QVX_AccessLogTakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find(log + " was replaced"), std::string::npos) << notices[0];
  // Told once: the next check finds the file right.
  EXPECT_EQ(QVX_AccessLogCheckFile(), 0);
  EXPECT_TRUE(QVX_AccessLogTakeNotices().empty());
}

TEST_F(LogFaultsTest, RemovedFolderIsMadeAgainAndTheLinesSinceTheCheckFollow) {
  ASSERT_EQ(Write(AccessLine(1)), 1);
  EXPECT_EQ(QVX_AccessLogCheckFile(), 0);  // line 1 was in the file when it was last seen
  ASSERT_EQ(Write(AccessLine(2)), 1);
  fs::remove_all(folder);
  ASSERT_EQ(Write(AccessLine(3)), 1);  // into the deleted file
  EXPECT_EQ(QVX_AccessLogCheckFile(), 1);
  ASSERT_EQ(Write(AccessLine(4)), 1);
  EXPECT_EQ(fake.Contents(log), kHeader + AccessLine(2) + AccessLine(3) + AccessLine(4));
  const auto notices = QVX_AccessLogTakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("was removed"), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("folder made anew"), std::string::npos) << notices[0];
  EXPECT_EQ(QVX_AccessLogLinesLost(), lost_before);
}

TEST_F(LogFaultsTest, AFolderThatCannotBeMadeIsRetriedAndToldOnce) {
  fs::remove_all(folder);
  fake.WriteText(folder, "a file where the folder was");
  EXPECT_EQ(QVX_AccessLogCheckFile(), 0);
  EXPECT_EQ(QVX_AccessLogCheckFile(), 0);
  EXPECT_EQ(QVX_AccessLogTakeNotices().size(), 1u);
  // The lines meanwhile are lost, each named.
  EXPECT_EQ(Write(AccessLine(1)), 0);
  EXPECT_EQ(Count(Kernel(), "path=/srv/docs/f0001.txt"), 1);
  fs::remove(folder);
  EXPECT_EQ(QVX_AccessLogCheckFile(), 1);
  ASSERT_EQ(Write(AccessLine(2)), 1);
  EXPECT_EQ(fake.Contents(log), kHeader + AccessLine(2));
}

// SIGHUP while a writer thread appends as fast as it can and the log is moved away again and
// again: every line lands exactly once, whole, in order, after the one header of its file.
TEST_F(LogFaultsTest, ReopenStormLosesNoLine) {
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    for (int i = 0; !stop.load(); ++i) {
      const std::string l = AccessLine(i);
      if (Write(l) != 1) break;
      written.store(i + 1);
    }
  });
  std::vector<std::string> files;
  for (int k = 0; k < 50; ++k) {
    while (written.load() < (k + 1) * 20) std::this_thread::yield();
    const std::string moved = log + "." + std::to_string(k);
    fs::rename(log, moved);
    files.push_back(moved);
    if (k % 2 == 0) fake.WriteText(log, "");  // "create", or none: the reopen makes it
    ASSERT_EQ(QVX_LogsReopen(), 1);
    ASSERT_EQ(QVX_LogsReopen(), 1);  // a second signal at once changes nothing
  }
  stop = true;
  writer.join();
  files.push_back(log);
  int next = 0;
  for (const std::string& f : files) {
    const auto lines = fake.Lines(f);
    ASSERT_FALSE(lines.empty()) << f;
    EXPECT_EQ(lines[0] + "\r\n", kHeader) << f;
    for (size_t i = 1; i < lines.size(); ++i) {
      ASSERT_EQ(lines[i] + "\r\n", AccessLine(next)) << f << " line " << i;
      ++next;
    }
  }
  EXPECT_EQ(next, written.load());
  EXPECT_EQ(QVX_AccessLogLinesLost(), lost_before);
}
#endif

TEST(DiagLogReopenTest, ReopenFollowsTheNameAndLeavesClosedLogsClosed) {
  test::FakePlatform fake;
  OptionSetDefaults(&OptionInfo);
  const std::string k = fake.Path("k.log");
  std::snprintf(szLogfileName, sizeof szLogfileName, "%s", k.c_str());
  std::snprintf(szLogfileName2, sizeof szLogfileName2, "%s", fake.Path("e.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "one\r\n");
  DbgLogReopenAll();
  DiagLogLine(DiagLog::kKernel, 1, "two\r\n");
  EXPECT_EQ(fake.Contents(k), "one\r\ntwo\r\n");
  // The event log was never opened: a reopen does not create it.
  EXPECT_FALSE(fs::exists(szLogfileName2));
#ifndef _WIN32
  fs::rename(k, k + ".1");
  DbgLogReopenAll();
  DiagLogLine(DiagLog::kKernel, 1, "three\r\n");
  EXPECT_EQ(fake.Contents(k + ".1"), "one\r\ntwo\r\n");
  EXPECT_EQ(fake.Contents(k), "three\r\n");
#endif
}

}  // namespace
}  // namespace qvx
