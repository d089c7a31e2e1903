// The file outputs of access events (the access log, JSON Lines, the syslog sender's queue),
// written by one writer thread from a bounded queue. The capture thread only copies an event
// into the queue and goes on, so a slow disk never holds capture up; the writer makes what it
// wrote durable once per batch (when the queue has run empty, and at least every 200 ms while
// events keep coming), never once per line.
//
// Everything else that touches those files (the rotation check and switch, the reopen on SIGHUP,
// the check that the log still has its name) is handed to the writer as a job: it runs on the
// writer thread after every event queued before it, under the same lock as the writes
// (g_critSec), so an event is never split between two files nor written twice.
//
// When the queue is full the capture thread waits for room: the kernel's capture buffer then
// takes the load, and frames it cannot hold are counted as drops. Each wait is counted and the
// time spent in it added up.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/access_event.h"

namespace qvx {

// An event that owns its texts, as it waits in the queue.
struct HeldEvent {
  explicit HeldEvent(const AccessEvent& e);
  AccessEvent View() const;
  size_t Bytes() const;

  LocalTime when;
  std::string action, tree, user, client, server, client_mac, server_mac, command, info, size,
      operation, path, path_detail, acl;
  bool to_list = true;
};

class LogWriter : public EventSink {
 public:
  // Bounds of the queue: events, and the bytes of their texts.
  static constexpr size_t kQueueMax = 16384;
  static constexpr size_t kQueueBytesMax = 32u << 20;
  // After a flush the next one waits at least this long while events keep trickling in, and a
  // written event is made durable at most kFlushMaxMs later.
  static constexpr int kFlushGapMs = 50;
  static constexpr int kFlushMaxMs = 200;

  // lock: held around every write, flush and job (g_critSec).
  explicit LogWriter(std::recursive_mutex* lock, size_t queue_max = kQueueMax,
                     size_t bytes_max = kQueueBytesMax);
  ~LogWriter() override;
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // The outputs it writes, in order. Changed only while no capture runs.
  void Add(EventSink* sink);
  void Remove(EventSink* sink);
  void ClearOutputs();

  // Starts the writer thread; durable: flush the outputs once per batch (LogFileSelect not 0).
  void Start(bool durable);
  // Writes what is queued, flushes it (when durable) and ends the thread. Afterwards, and
  // before Start, every event and job is carried out at once on the caller's thread.
  void Stop();
  bool Running() const;

  // The capture thread's hand-off: the event is copied into the queue (waiting for room when
  // it is full). Events for the list alone are not queued.
  void Write(const AccessEvent& e) override;
  bool WantsRecords() const override;

  // Runs job on the writer thread after everything queued before it, under the lock; at once
  // when the thread is not running. Post returns at once, Do waits until the job is done.
  void Post(std::function<void()> job);
  void Do(const std::function<void()>& job);
  // Waits until everything queued before the call is written and, when durable, on disk.
  void Sync();

  struct Stats {
    size_t queued = 0;       // events waiting now
    size_t queue_max = 0;    // the bound
    size_t most_queued = 0;  // the most that ever waited at once
    int64_t lag_ms = 0;      // how long the oldest event not yet written has waited
    uint64_t written = 0;    // events handed to the outputs
    uint64_t flushes = 0;    // batches made durable
    uint64_t waits = 0;      // times the capture thread found the queue full
    int64_t waited_ms = 0;   // the time it spent waiting for room
  };
  Stats stats() const;

 private:
  struct Item {
    std::unique_ptr<HeldEvent> event;  // or
    std::function<void()> job;
    int64_t queued_ms = 0;
    uint64_t seq = 0;
  };

  void Run();
  uint64_t Enqueue(Item item, bool bounded);
  void WriteNow(const HeldEvent& e);
  void FlushOutputs();
  void WaitDone(uint64_t seq);

  std::recursive_mutex* const lock_;
  const size_t queue_max_;
  const size_t bytes_max_;
  mutable std::mutex mu_;
  std::condition_variable work_;  // the writer: something to do
  std::condition_variable room_;  // the capture thread: room in the queue
  std::condition_variable done_;  // Do and Sync: their item is done
  std::deque<Item> queue_;
  size_t queued_bytes_ = 0;
  std::vector<EventSink*> outputs_;
  bool running_ = false;
  bool stop_ = false;
  bool durable_ = false;
  uint64_t next_seq_ = 0;
  uint64_t done_seq_ = 0;
  int64_t oldest_in_hand_ms_ = -1;  // queued time of the oldest event of the batch being written
  Stats stats_;
  std::thread thread_;
};

// The program's writer (its lock is g_critSec).
LogWriter& QVX_LogWriter();

// What the console and the kernel log should hear of the writer since the last call: that it
// fell behind (its queue's fill and lag), that the capture thread had to wait for it, that it
// caught up. Called once a second by the shells.
std::vector<std::string> QVX_LogWriterNotices();
// The writer's state for the status bar when it is behind ("Writer behind: 45% of the queue,
// 1.2 s"); "" when it keeps up.
std::string QVX_LogWriterStatus();

}  // namespace qvx
