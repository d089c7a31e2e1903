#include "platform/session_reader.h"

#include <utility>

namespace qvx {

SessionReader::SessionReader(Query query, std::chrono::milliseconds life,
                             std::chrono::milliseconds retry_after)
    : query_(std::move(query)), life_(life), retry_after_(retry_after) {}

SessionReader::~SessionReader() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  wake_.notify_all();
  // A query under way is waited for: it ends at its own time limit.
  if (thread_.joinable()) thread_.join();
}

bool SessionReader::List(std::vector<ServerSession>* out) {
  std::lock_guard<std::mutex> lock(mu_);
  const bool fresh = valid_ && std::chrono::steady_clock::now() - read_at_ < life_;
  if (!fresh) {
    wanted_ = true;
    if (!started_) {
      started_ = true;
      thread_ = std::thread([this] { Loop(); });
    }
    wake_.notify_one();
  }
  if (!valid_ || failed_) return false;
  *out = sessions_;
  return true;
}

void SessionReader::Expire() {
  std::lock_guard<std::mutex> lock(mu_);
  read_at_ = std::chrono::steady_clock::time_point{};
}

bool SessionReader::Pending() {
  std::lock_guard<std::mutex> lock(mu_);
  return !valid_ && !failed_;
}

void SessionReader::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    wake_.wait(lock, [this] { return wanted_ || stop_; });
    if (stop_) return;
    if (failed_) {
      const auto until = failed_at_ + retry_after_;
      if (std::chrono::steady_clock::now() < until) {
        wake_.wait_until(lock, until, [this] { return stop_; });
        continue;
      }
    }
    wanted_ = false;
    busy_ = true;
    lock.unlock();
    std::vector<ServerSession> sessions;
    const bool ok = query_(&sessions);
    lock.lock();
    busy_ = false;
    const auto now = std::chrono::steady_clock::now();
    if (!ok) {
      failed_ = true;
      failed_at_ = now;
      continue;
    }
    failed_ = false;
    sessions_ = std::move(sessions);
    read_at_ = now;
    valid_ = true;
  }
}

}  // namespace qvx
