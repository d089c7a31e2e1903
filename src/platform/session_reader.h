// A list of the server's (its sessions, its open files), read on a thread of its own. Asking the
// server can take long (a hanging smbstatus runs into its time limit, an enumeration waits on the
// service); whoever asks for the list (the capture thread, for every access of a client it cannot
// name) gets the last list read at once and never waits for a query. A failed query is not tried
// again for a pause counted from its end.
#pragma once

// Not <chrono>: Windows-built files cannot include it (their execution character set); the
// clock and durations come with <condition_variable>.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace qvx {

template <class T>
class ListReader {
 public:
  using Query = std::function<bool(T*)>;
  // A list is fresh for life; a failed query waits retry_after before the next.
  ListReader(Query query, std::chrono::milliseconds life, std::chrono::milliseconds retry_after);
  ~ListReader();
  ListReader(const ListReader&) = delete;
  ListReader& operator=(const ListReader&) = delete;

  // The last list read, while the newest query did not fail; false before any list was read and
  // after a failure. Sets a new query on its way when the list is older than its life.
  bool List(T* out);
  // The last list read (nullptr before any), how many were read, and whether the newest query
  // failed. Starts no query.
  std::shared_ptr<const T> Last(uint64_t* reads, bool* failed);
  // A new query: at once, or after the one under way; never within life of the start of the one
  // before, so that a stream of asks reads the server about once per life.
  void Ask();
  // The next List asks for a new list (and answers from the old one meanwhile).
  void Expire();
  // No list was read yet, and no query failed yet.
  bool Pending();

 private:
  void Start();
  void Loop();

  const Query query_;
  const std::chrono::milliseconds life_, retry_after_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool started_ = false;
  bool wanted_ = false;
  bool asked_ = false;
  bool stop_ = false;
  bool failed_ = false;
  uint64_t reads_ = 0;
  std::chrono::steady_clock::time_point read_at_{}, failed_at_{}, query_at_{};
  std::shared_ptr<const T> list_;
  std::thread thread_;
};

using SessionReader = ListReader<std::vector<ServerSession>>;
using OpenFilesReader = ListReader<ServerOpenFiles>;

// The snapshot a platform hands out of its open-files reader.
OpenFilesSnapshot QVX_OpenFilesSnapshotOf(OpenFilesReader& reader);

}  // namespace qvx
