// The access events as syslog records (RFC 5424; the event's JSON is the message), sent to the
// local syslog socket (unix:/dev/log), to a collector over TCP (tcp:HOST:PORT, octet-counting
// framing, RFC 6587) or over RELP (relp:HOST:PORT, every record acknowledged). The capture thread
// only queues a record; a sender thread of the sink sends them in order, and when the collector
// is gone it connects again (every second) while the queue holds what comes meanwhile. A full
// queue drops new records: each one dropped is counted, and the count is told on the console, in
// the kernel log and to the collector itself (a "dropped" record) as soon as it can be sent again.
//
// Over RELP a record is kept until the collector has acknowledged it; records sent on a
// connection that broke before their answer came are sent again on the next one ("at least
// once": the collector may get such a record twice). Each record carries "seq", its number in the
// run, so that a duplicate is recognised by host, PROCID and seq, and a dropped record leaves a
// gap in the numbers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/access_event.h"
#include "platform/platform.h"

namespace qvx {

// One RFC 5424 record: "<134>1 TIME HOST quorvix PID MSGID - MSG" (facility local0, severity
// informational).
std::string QVX_SyslogRecord(const std::string& time, std::string_view host, long pid,
                             std::string_view msgid, std::string_view msg);
// The record as it travels on a TCP stream: "LENGTH SP RECORD".
std::string QVX_OctetCounted(const std::string& record);

class SyslogSink : public EventSink {
 public:
  // target: "unix:PATH", "tcp:HOST:PORT" or "relp:HOST:PORT". queue_max: records held while the
  // collector cannot take them (over RELP: sent and not yet acknowledged ones included).
  SyslogSink(std::string target, size_t queue_max, std::string host, std::string version, long pid);
  ~SyslogSink() override;
  void Start();
  // Sends what is queued (for at most drain_ms), then ends the sender. What could not be sent is
  // counted as dropped.
  void Stop(int drain_ms);
  void Write(const AccessEvent& e) override;

  // Records the collector took (over RELP: acknowledged), records dropped (queue full, refused,
  // or not taken by the end), records sent again after a connection broke (possible duplicates).
  uint64_t sent() const;
  uint64_t dropped() const;
  uint64_t resent() const;
  // Notices for the console since the last call (connection lost and back, records dropped).
  std::vector<std::string> TakeNotices();

 private:
  struct Pending {
    std::string record;
    uint64_t told = 0;  // a "dropped" record: how many drops it tells of
    uint32_t txnr = 0;  // RELP: the transaction it was last sent in
  };
  class Connection;

  void Run();
  void Enqueue(std::string record);
  void Notice(const std::string& text);
  // The "dropped" record for the drops not yet told, queued first.
  void QueueDropNotice();
  // One record (or answer) taken by the collector.
  void Delivered(const Pending& p);
  // The connection broke: what waited for an answer goes back to the front of the queue.
  void Requeue();

  const std::string target_;
  const size_t queue_max_;
  const std::string host_, version_;
  const long pid_;
  const bool stream_;
  const bool relp_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;    // not yet sent (on this connection)
  std::deque<Pending> unacked_;  // RELP: sent, waiting for the collector's answer
  std::vector<std::string> notices_;
  uint64_t seq_ = 0;  // the last record's number (dropped ones take theirs too)
  uint64_t sent_ = 0;
  uint64_t resent_ = 0;
  uint64_t dropped_ = 0;         // all records dropped in the run
  uint64_t dropped_untold_ = 0;  // dropped since the collector last heard of it
  bool stop_ = false;
  int64_t drain_until_ = 0;
  std::thread thread_;
};

}  // namespace qvx
