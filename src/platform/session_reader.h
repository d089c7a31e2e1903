// The server's session list, read on a thread of its own. Asking the server can take long (a
// hanging smbstatus runs into its time limit, an enumeration waits on the service); whoever asks
// for the list (the capture thread, for every access of a client it cannot name) gets the last
// list read at once and never waits for a query. A failed query is not tried again for a pause
// counted from its end.
#pragma once

// Not <chrono>: Windows-built files cannot include it (their execution character set); the
// clock and durations come with <condition_variable>.
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace qvx {

class SessionReader {
 public:
  using Query = std::function<bool(std::vector<ServerSession>*)>;
  // A list is fresh for life; a failed query waits retry_after before the next.
  SessionReader(Query query, std::chrono::milliseconds life, std::chrono::milliseconds retry_after);
  ~SessionReader();
  SessionReader(const SessionReader&) = delete;
  SessionReader& operator=(const SessionReader&) = delete;

  // The last list read, while the newest query did not fail; false before any list was read and
  // after a failure. Sets a new query on its way when the list is older than its life.
  bool List(std::vector<ServerSession>* out);
  // The next List asks for a new list (and answers from the old one meanwhile).
  void Expire();
  // No list was read yet, and no query failed yet.
  bool Pending();

 private:
  void Loop();

  const Query query_;
  const std::chrono::milliseconds life_, retry_after_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool started_ = false;
  bool wanted_ = false;
  bool stop_ = false;
  bool busy_ = false;
  bool valid_ = false;
  bool failed_ = false;
  std::chrono::steady_clock::time_point read_at_{}, failed_at_{};
  std::vector<ServerSession> sessions_;
  std::thread thread_;
};

}  // namespace qvx
