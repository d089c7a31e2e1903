#include "accesslog/log_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "accesslog/access_log.h"
#include "accesslog/csv_sink.h"
#include "accesslog/rotation.h"
#include "base/data.h"
#include "base/dbglog.h"
#include "base/option.h"
#ifndef _WIN32
#include "export/json_lines.h"  // the JSON Lines file is the Linux build's
#endif
#include "support/fake_platform.h"
#include "support/sample_event.h"

namespace qvx {
namespace {

// Records what reaches it, in order: a path per event, "flush" per flush, and what jobs add.
struct Recorder : EventSink {
  std::mutex mu;
  std::vector<std::string> seen;
  std::atomic<int> flushes{0};
  int write_us = 0;               // each write takes this long (a slow disk)
  std::atomic<bool> hold{false};  // writes wait while set
  void Write(const AccessEvent& e) override {
    while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (write_us) std::this_thread::sleep_for(std::chrono::microseconds(write_us));
    Add(std::string(e.path));
  }
  void Flush() override {
    ++flushes;
    Add("flush");
  }
  void Add(const std::string& s) {
    std::lock_guard<std::mutex> g(mu);
    seen.push_back(s);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> g(mu);
    std::vector<std::string> out;
    for (const std::string& s : seen)
      if (s != "flush") out.push_back(s);
    return out;
  }
};

AccessEvent Event(const std::string& path) {
  static thread_local std::string keep;
  keep = path;
  AccessEvent e = test::SampleAccessEvent();
  e.path = keep;
  return e;
}

std::string Name(int i) { return "/srv/share/f" + std::to_string(i) + ".txt"; }

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { writer.Add(&rec); }
  std::recursive_mutex lock;
  Recorder rec;
  LogWriter writer{&lock};
};

// A burst from the capture thread comes out whole, in order, once each, with far fewer
// flushes than events; the last ones are flushed before Stop returns.
TEST_F(LogWriterTest, ABurstIsWrittenInOrderAndFlushedInBatches) {
  writer.Start(true);
  for (int i = 0; i < 20000; ++i) writer.Write(Event(Name(i)));
  writer.Stop();
  const std::vector<std::string> got = rec.Events();
  ASSERT_EQ(got.size(), 20000u);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(got[i], Name(i));
  EXPECT_EQ(rec.seen.back(), "flush");
  EXPECT_GE(rec.flushes.load(), 1);
  EXPECT_LT(rec.flushes.load(), 200);
  EXPECT_EQ(writer.stats().written, 20000u);
}

// One event on a quiet server is on disk soon, with no further event to push it out.
TEST_F(LogWriterTest, AQueueThatRunsEmptyIsFlushed) {
  writer.Start(true);
  writer.Write(Event(Name(1)));
  for (int i = 0; i < 400 && rec.flushes == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(rec.flushes.load(), 1);
  writer.Stop();
  EXPECT_EQ(rec.flushes.load(), 1);  // nothing written since: no second flush
}

// While the queue never runs empty (a slow disk under a long burst) flushes still come on the
// way, not only at the end.
TEST_F(LogWriterTest, ALongBatchIsFlushedOnTheWay) {
  rec.write_us = 1000;
  rec.hold = true;
  writer.Start(true);
  for (int i = 0; i < 1200; ++i) writer.Write(Event(Name(i)));
  rec.hold = false;  // one batch of 1,200 writes of a millisecond each
  writer.Stop();
  std::vector<std::string> seen = rec.seen;
  size_t first_flush = 0;
  while (first_flush < seen.size() && seen[first_flush] != "flush") ++first_flush;
  EXPECT_LT(first_flush, 700u);  // within about 200 ms of a second-long batch
  EXPECT_GE(rec.flushes.load(), 3);
}

TEST_F(LogWriterTest, LogFileSelectZeroNeverFlushes) {
  writer.Start(false);
  for (int i = 0; i < 100; ++i) writer.Write(Event(Name(i)));
  writer.Sync();
  writer.Stop();
  EXPECT_EQ(rec.Events().size(), 100u);
  EXPECT_EQ(rec.flushes.load(), 0);
}

// A job (a switch, a reopen) runs between the events queued before and after it, after the
// earlier ones were flushed; Do waits for it, Post does not.
TEST_F(LogWriterTest, JobsRunInTheirPlaceAfterAFlush) {
  writer.Start(true);
  for (int i = 0; i < 100; ++i) writer.Write(Event(Name(i)));
  writer.Post([this] { rec.Add("job"); });
  for (int i = 100; i < 200; ++i) writer.Write(Event(Name(i)));
  bool done = false;
  writer.Do([&] { done = true; });
  EXPECT_TRUE(done);
  writer.Stop();
  const std::vector<std::string>& seen = rec.seen;
  auto at = [&](const std::string& s) {
    return std::find(seen.begin(), seen.end(), s) - seen.begin();
  };
  const auto job = at("job");
  ASSERT_LT(job, static_cast<long>(seen.size()));
  EXPECT_EQ(job, at(Name(100)) - 1);
  EXPECT_EQ(seen[job - 1], "flush");
  EXPECT_EQ(seen[job - 2], Name(99));
}

// A full queue makes the capture thread wait (counted), and nothing is lost.
TEST(LogWriterQueueTest, AFullQueueHoldsTheProducerUntilThereIsRoom) {
  std::recursive_mutex lock;
  Recorder rec;
  LogWriter writer(&lock, 4);
  writer.Add(&rec);
  rec.hold = true;
  writer.Start(true);
  std::atomic<int> handed{0};
  std::thread capture([&] {
    for (int i = 0; i < 50; ++i) {
      writer.Write(Event(Name(i)));
      ++handed;
    }
  });
  for (int i = 0; i < 200 && writer.stats().waits == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_LT(handed.load(), 50);
  EXPECT_GE(writer.stats().waits, 1u);
  EXPECT_LE(writer.stats().most_queued, 4u);
  rec.hold = false;
  capture.join();
  writer.Stop();
  const std::vector<std::string> got = rec.Events();
  ASSERT_EQ(got.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(got[i], Name(i));
}

// The real outputs behind the writer: the access log and (Linux) the JSON Lines file switch
// together when the rotation check runs on the writer, each event whole on one side of the
// switch; the lines reach the file with one flush per batch, and no size query per line.
class WriterFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::StartSizeRotatedLog(fake));
    writer.ClearOutputs();
    writer.Add(&QVX_CsvLogSink());
#ifndef _WIN32
    ASSERT_TRUE(json.Open());
    writer.Add(&json);
    QVX_SetLogSwitchFollower([this](const std::string& stamp) { json.FollowSwitch(stamp); });
#endif
  }
  void TearDown() override {
    writer.Stop();
    writer.ClearOutputs();
    writer.Add(&QVX_CsvLogSink());
    QVX_SetLogSwitchFollower(nullptr);
    QVX_AccessLogClose();
  }
  std::vector<std::string> Paths(const std::string& file) {
    return test::SrvPathsIn(fake.Contents(file));
  }
  test::FakePlatform fake;
#ifndef _WIN32
  JsonLinesSink json{fake.Path("Quorvix.jsonl"), "fs1", "1.2.3"};
#endif
  // The program's own: the rotation tick hands its work to it.
  LogWriter& writer = QVX_LogWriter();
};

TEST_F(WriterFilesTest, TheSwitchFallsBetweenTwoEventsInBothFiles) {
  writer.Start(true);
  std::vector<std::string> before, after;
  for (int i = 0; i < 300; ++i) {
    before.push_back(Name(i));
    writer.Write(Event(before.back()));
  }
  fake.SetNow(2026, 12, 9, 10, 30, 1);
  QVX_LogRotationTick(fake.Now());
  for (int i = 300; i < 600; ++i) {
    after.push_back(Name(i));
    writer.Write(Event(after.back()));
  }
  writer.Stop();
  EXPECT_EQ(Paths(fake.Path("Quorvix261209103001.log")), before);
  EXPECT_EQ(Paths(fake.Path("Quorvix.log")), after);
#ifndef _WIN32
  EXPECT_EQ(Paths(fake.Path("Quorvix261209103001.jsonl")), before);
  EXPECT_EQ(Paths(fake.Path("Quorvix.jsonl")), after);
#endif
}

TEST_F(WriterFilesTest, LinesCostNeitherAFlushNorASizeQueryEach) {
  writer.Start(true);
  const int flushes = fake.flushes(), sizes = fake.size_queries();
  for (int i = 0; i < 2000; ++i) writer.Write(Event(Name(i)));
  writer.Stop();
  EXPECT_EQ(Paths(fake.Path("Quorvix.log")).size(), 2000u);
#ifndef _WIN32
  EXPECT_EQ(Paths(fake.Path("Quorvix.jsonl")).size(), 2000u);
  EXPECT_GE(fake.flushes() - flushes, 2);  // the access log and the JSON file, at least once
#endif
  EXPECT_GE(fake.flushes() - flushes, 1);
  EXPECT_LT(fake.flushes() - flushes, 100);
  EXPECT_LT(fake.size_queries() - sizes, 10);
}

}  // namespace
}  // namespace qvx
