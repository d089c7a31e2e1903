// The access events as syslog records (RFC 5424; the event's JSON is the message), sent to the
// local syslog socket (unix:/dev/log) or to a collector over TCP (tcp:HOST:PORT, octet-counting
// framing, RFC 6587). The capture thread only queues a record; a sender thread of the sink sends
// them in order, and when the collector is gone it connects again (every second) while the
// queue holds what comes meanwhile. A full queue drops new records: each one dropped is counted,
// and the count is told on the console, in the kernel log and to the collector itself (a
// "dropped" record) as soon as it can be sent again.
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
  // target: "unix:PATH" or "tcp:HOST:PORT". queue_max: records held while the collector cannot
  // take them.
  SyslogSink(std::string target, size_t queue_max, std::string host, std::string version, long pid);
  ~SyslogSink() override;
  void Start();
  // Sends what is queued (for at most drain_ms), then ends the sender. What could not be sent is
  // counted as dropped.
  void Stop(int drain_ms);
  void Write(const AccessEvent& e) override;

  uint64_t sent() const;
  uint64_t dropped() const;
  // Notices for the console since the last call (connection lost and back, records dropped).
  std::vector<std::string> TakeNotices();

 private:
  void Run();
  void Enqueue(std::string record);
  void Notice(const std::string& text);

  const std::string target_;
  const size_t queue_max_;
  const std::string host_, version_;
  const long pid_;
  const bool stream_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::vector<std::string> notices_;
  uint64_t sent_ = 0;
  uint64_t dropped_ = 0;         // all records dropped in the run
  uint64_t dropped_untold_ = 0;  // dropped since the collector last heard of it
  bool stop_ = false;
  int64_t drain_until_ = 0;
  std::thread thread_;
};

}  // namespace qvx
