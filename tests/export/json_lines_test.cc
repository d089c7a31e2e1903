#include "export/json_lines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "accesslog/access_log.h"
#include "accesslog/csv_sink.h"
#include "accesslog/log_writer.h"
#include "accesslog/rotation.h"
#include "base/data.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

// The access log with its own rotation (a switch at 1000 bytes, checked every second) and the
// JSON Lines file beside it, wired as the Linux shell wires them.
class JsonRotationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::StartSizeRotatedLog(fake));
    ASSERT_TRUE(json.Open());
    sinks.Add(&QVX_CsvLogSink());
    sinks.Add(&json);
    QVX_SetLogSwitchFollower([this](const std::string& stamp) { json.FollowSwitch(stamp); });
  }
  void TearDown() override {
    QVX_SetLogSwitchFollower(nullptr);
    QVX_AccessLogClose();
  }
  void Emit(const std::string& path) {
    AccessEvent e;
    e.when = fake.Now();
    e.action = "access";
    e.user = "qvxuser";
    e.command = "SMB2_CREATE";
    e.operation = "Rd  ";
    e.path = path;
    sinks.Write(e);
  }
  std::vector<std::string> Paths(const std::string& file) {
    return test::SrvPathsIn(fake.Contents(file));
  }

  test::FakePlatform fake;
  JsonLinesSink json{fake.Path("Quorvix.jsonl"), "fs1", "1.2.3"};
  // Without its thread the writer writes each event at once, under the log's lock.
  LogWriter sinks{&g_critSec};
};

TEST_F(JsonRotationTest, TheJsonFileSwitchesWithTheAccessLogUnderTheSameStamp) {
  for (int i = 0; i < 20; ++i) Emit("/srv/docs/before" + std::to_string(i) + ".txt");
  fake.SetNow(2026, 12, 9, 10, 30, 1);
  QVX_LogRotationTick(fake.Now());
  Emit("/srv/docs/after.txt");
  const std::string csv_old = fake.Path("Quorvix261209103001.log");
  const std::string json_old = fake.Path("Quorvix261209103001.jsonl");
  ASSERT_TRUE(fake.FileExists(csv_old));
  ASSERT_TRUE(fake.FileExists(json_old));
  EXPECT_EQ(Paths(json_old), Paths(csv_old));
  EXPECT_EQ(Paths(json_old).size(), 20u);
  EXPECT_EQ(Paths(fake.Path("Quorvix.jsonl")), std::vector<std::string>{"/srv/docs/after.txt"});
  EXPECT_EQ(Paths(fake.Path("Quorvix.log")), std::vector<std::string>{"/srv/docs/after.txt"});
}

TEST_F(JsonRotationTest, ATakenDatedNameKeepsTheJsonFileGoingAndSaysSo) {
  const std::string json_old = fake.Path("Quorvix261209103001.jsonl");
  fake.WriteText(json_old, "an earlier run\n");
  for (int i = 0; i < 20; ++i) Emit("/srv/docs/before" + std::to_string(i) + ".txt");
  fake.SetNow(2026, 12, 9, 10, 30, 1);
  QVX_LogRotationTick(fake.Now());
  Emit("/srv/docs/after.txt");
  EXPECT_EQ(fake.Contents(json_old), "an earlier run\n");
  EXPECT_EQ(Paths(fake.Path("Quorvix.jsonl")).size(), 21u);
  EXPECT_NE(fake.Contents(szLogfileName).find("QVX_E61-002"), std::string::npos);
}

TEST_F(JsonRotationTest, ARenameAtStartTakesTheJsonFileAlongUnderTheSameStamp) {
  Emit("/srv/docs/first run.txt");
  QVX_AccessLogClose();
  json.Reopen();  // what the first run left: both files
  OptionInfo.StartLogChg = 1;
  fake.SetNow(2026, 12, 10, 8, 0, 0);
  QVX_AccessLogStartUp(nullptr);
  ASSERT_EQ(QVX_AccessLogStartStamp(), "261210080000");
  JsonLinesSink second(fake.Path("Quorvix.jsonl"), "fs1", "1.2.3");
  ASSERT_TRUE(second.Open(QVX_AccessLogStartStamp()));
  EXPECT_EQ(Paths(fake.Path("Quorvix261210080000.log")),
            std::vector<std::string>{"/srv/docs/first run.txt"});
  EXPECT_EQ(Paths(fake.Path("Quorvix261210080000.jsonl")),
            std::vector<std::string>{"/srv/docs/first run.txt"});
  EXPECT_TRUE(Paths(fake.Path("Quorvix.jsonl")).empty());
  // A start that renamed nothing leaves the stamp empty.
  QVX_AccessLogClose();
  OptionInfo.StartLogChg = 0;
  QVX_AccessLogStartUp(nullptr);
  EXPECT_EQ(QVX_AccessLogStartStamp(), "");
}

// Between the access log's line and the JSON line of one event, the timer asks for a switch: it
// must wait until the event is in both files, so that both land in the old files.
TEST_F(JsonRotationTest, ASwitchAskedForBetweenTheTwoLinesOfAnEventWaitsForTheEvent) {
  struct Between : EventSink {
    std::function<void()> on_write;
    void Write(const AccessEvent&) override { on_write(); }
  };
  for (int i = 0; i < 20; ++i) Emit("/srv/docs/before" + std::to_string(i) + ".txt");
  sinks.ClearOutputs();
  Between between;
  sinks.Add(&QVX_CsvLogSink());
  sinks.Add(&between);
  sinks.Add(&json);
  std::thread timer;
  std::atomic<bool> switched{false};
  between.on_write = [&] {
    fake.SetNow(2026, 12, 9, 10, 30, 1);
    timer = std::thread([&] {
      QVX_LogRotationTick(fake.Now());
      switched = true;
    });
    // Without the event's lock the switch would be done well within this time.
    for (int i = 0; i < 50 && !switched; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  Emit("/srv/docs/during.txt");
  timer.join();
  ASSERT_TRUE(switched);
  const std::string csv_old = fake.Path("Quorvix261209103001.log");
  const std::string json_old = fake.Path("Quorvix261209103001.jsonl");
  EXPECT_EQ(Paths(csv_old).back(), "/srv/docs/during.txt");
  EXPECT_EQ(Paths(json_old), Paths(csv_old));
  EXPECT_TRUE(Paths(fake.Path("Quorvix.jsonl")).empty());
}

}  // namespace
}  // namespace qvx
