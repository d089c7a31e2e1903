#include "platform/session_reader.h"

#include <utility>

namespace qvx {

template <class T>
ListReader<T>::ListReader(Query query, std::chrono::milliseconds life,
                          std::chrono::milliseconds retry_after)
    : query_(std::move(query)), life_(life), retry_after_(retry_after) {}

template <class T>
ListReader<T>::~ListReader() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  wake_.notify_all();
  // A query under way is waited for: it ends at its own time limit.
  if (thread_.joinable()) thread_.join();
}

template <class T>
void ListReader<T>::Start() {
  if (!started_) {
    started_ = true;
    thread_ = std::thread([this] { Loop(); });
  }
  wake_.notify_one();
}

template <class T>
bool ListReader<T>::List(T* out) {
  std::lock_guard<std::mutex> lock(mu_);
  const bool fresh = list_ && std::chrono::steady_clock::now() - read_at_ < life_;
  if (!fresh) {
    wanted_ = true;
    Start();
  }
  if (!list_ || failed_) return false;
  *out = *list_;
  return true;
}

template <class T>
std::shared_ptr<const T> ListReader<T>::Last(uint64_t* reads, bool* failed) {
  std::lock_guard<std::mutex> lock(mu_);
  *reads = reads_;
  *failed = failed_;
  return list_;
}

template <class T>
void ListReader<T>::Ask() {
  std::lock_guard<std::mutex> lock(mu_);
  wanted_ = true;
  asked_ = true;
  Start();
}

template <class T>
void ListReader<T>::Expire() {
  std::lock_guard<std::mutex> lock(mu_);
  read_at_ = std::chrono::steady_clock::time_point{};
}

template <class T>
bool ListReader<T>::Pending() {
  std::lock_guard<std::mutex> lock(mu_);
  return !list_ && !failed_;
}

template <class T>
void ListReader<T>::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    wake_.wait(lock, [this] { return wanted_ || stop_; });
    if (stop_) return;
    const auto now = std::chrono::steady_clock::now();
    auto until = now;
    if (failed_ && failed_at_ + retry_after_ > until) until = failed_at_ + retry_after_;
    if (asked_ && query_at_ + life_ > until) until = query_at_ + life_;
    if (until > now) {
      wake_.wait_until(lock, until, [this] { return stop_; });
      continue;
    }
    wanted_ = false;
    asked_ = false;
    query_at_ = now;
    lock.unlock();
    auto list = std::make_shared<T>();
    const bool ok = query_(list.get());
    lock.lock();
    if (!ok) {
      failed_ = true;
      failed_at_ = std::chrono::steady_clock::now();
      continue;
    }
    failed_ = false;
    list_ = std::move(list);
    read_at_ = std::chrono::steady_clock::now();
    ++reads_;
  }
}

template class ListReader<std::vector<ServerSession>>;
template class ListReader<ServerOpenFiles>;

OpenFilesSnapshot QVX_OpenFilesSnapshotOf(OpenFilesReader& reader) {
  OpenFilesSnapshot s;
  s.served = true;
  s.list = reader.Last(&s.reads, &s.failed);
  return s;
}

}  // namespace qvx
