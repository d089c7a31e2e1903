#include "accesslog/log_writer.h"

#include <algorithm>
#include <cstdio>

#include "base/data.h"
#include "base/dbglog.h"
#include "base/steady_clock.h"

namespace qvx {

namespace {

// Events written between two looks at the clock inside a large batch.
constexpr size_t kClockEvery = 256;

}  // namespace

HeldEvent::HeldEvent(const AccessEvent& e)
    : when(e.when),
      action(e.action),
      tree(e.tree),
      user(e.user),
      client(e.client),
      server(e.server),
      client_mac(e.client_mac),
      server_mac(e.server_mac),
      command(e.command),
      info(e.info),
      size(e.size),
      operation(e.operation),
      path(e.path),
      path_detail(e.path_detail),
      acl(e.acl),
      to_list(e.to_list) {}

AccessEvent HeldEvent::View() const {
  AccessEvent e;
  e.when = when;
  e.action = action;
  e.tree = tree;
  e.user = user;
  e.client = client;
  e.server = server;
  e.client_mac = client_mac;
  e.server_mac = server_mac;
  e.command = command;
  e.info = info;
  e.size = size;
  e.operation = operation;
  e.path = path;
  e.path_detail = path_detail;
  e.acl = acl;
  e.to_records = true;
  e.to_list = to_list;
  return e;
}

size_t HeldEvent::Bytes() const {
  return sizeof *this + action.size() + tree.size() + user.size() + client.size() + server.size() +
         client_mac.size() + server_mac.size() + command.size() + info.size() + size.size() +
         operation.size() + path.size() + path_detail.size() + acl.size();
}

LogWriter::LogWriter(std::recursive_mutex* lock, size_t queue_max, size_t bytes_max)
    : lock_(lock), queue_max_(queue_max < 1 ? 1 : queue_max), bytes_max_(bytes_max) {
  stats_.queue_max = queue_max_;
}

LogWriter::~LogWriter() { Stop(); }

void LogWriter::Add(EventSink* sink) {
  std::lock_guard<std::mutex> g(mu_);
  outputs_.push_back(sink);
}

void LogWriter::Remove(EventSink* sink) {
  std::lock_guard<std::mutex> g(mu_);
  outputs_.erase(std::remove(outputs_.begin(), outputs_.end(), sink), outputs_.end());
}

void LogWriter::ClearOutputs() {
  std::lock_guard<std::mutex> g(mu_);
  outputs_.clear();
}

void LogWriter::Start(bool durable) {
  std::lock_guard<std::mutex> g(mu_);
  durable_ = durable;
  if (running_) return;
  running_ = true;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void LogWriter::Stop() {
  {
    std::lock_guard<std::mutex> g(mu_);
    if (!running_) return;
    stop_ = true;
  }
  work_.notify_all();
  thread_.join();
  std::deque<Item> left;
  {
    std::lock_guard<std::mutex> g(mu_);
    running_ = false;
    stop_ = false;
    left.swap(queue_);
    queued_bytes_ = 0;
  }
  room_.notify_all();
  done_.notify_all();
  // Whatever was queued after the thread's last look (a late event) is written here.
  std::lock_guard<std::recursive_mutex> g(*lock_);
  for (Item& i : left) {
    if (i.event) WriteNow(*i.event);
    if (i.job) i.job();
  }
  if (!left.empty() && durable_) FlushOutputs();
}

bool LogWriter::Running() const {
  std::lock_guard<std::mutex> g(mu_);
  return running_;
}

bool LogWriter::WantsRecords() const {
  std::lock_guard<std::mutex> g(mu_);
  for (const EventSink* s : outputs_)
    if (s->WantsRecords()) return true;
  return false;
}

void LogWriter::WriteNow(const HeldEvent& e) {
  const AccessEvent view = e.View();
  for (EventSink* s : outputs_) s->Write(view);
}

void LogWriter::FlushOutputs() {
  for (EventSink* s : outputs_) s->Flush();
}

uint64_t LogWriter::Enqueue(Item item, bool bounded) {
  std::unique_lock<std::mutex> lk(mu_);
  const size_t bytes = item.event ? item.event->Bytes() : 0;
  if (bounded && running_ && (queue_.size() >= queue_max_ || queued_bytes_ + bytes > bytes_max_) &&
      !queue_.empty()) {
    // Full: capture waits here, and the kernel's buffer takes what comes meanwhile.
    ++stats_.waits;
    const int64_t from = SteadyNowMs();
    room_.wait(lk, [&] {
      return !running_ || stop_ || queue_.empty() ||
             (queue_.size() < queue_max_ && queued_bytes_ + bytes <= bytes_max_);
    });
    stats_.waited_ms += SteadyNowMs() - from;
  }
  item.seq = ++next_seq_;
  item.queued_ms = SteadyNowMs();
  queued_bytes_ += bytes;
  queue_.push_back(std::move(item));
  stats_.most_queued = std::max(stats_.most_queued, queue_.size());
  const uint64_t seq = next_seq_;
  lk.unlock();
  work_.notify_one();
  return seq;
}

void LogWriter::Write(const AccessEvent& e) {
  if (!e.to_records) return;
  if (!Running()) {
    // No thread (before start-up is done, after shutdown, in tests): written at once.
    std::lock_guard<std::recursive_mutex> g(*lock_);
    std::lock_guard<std::mutex> o(mu_);
    WriteNow(HeldEvent(e));
    ++stats_.written;
    return;
  }
  Item item;
  item.event = std::make_unique<HeldEvent>(e);
  Enqueue(std::move(item), true);
}

void LogWriter::Post(std::function<void()> job) {
  if (!Running()) {
    std::lock_guard<std::recursive_mutex> g(*lock_);
    job();
    return;
  }
  Item item;
  item.job = std::move(job);
  Enqueue(std::move(item), false);
}

void LogWriter::WaitDone(uint64_t seq) {
  std::unique_lock<std::mutex> lk(mu_);
  done_.wait(lk, [&] { return done_seq_ >= seq || !running_; });
}

void LogWriter::Do(const std::function<void()>& job) {
  if (!Running()) {
    std::lock_guard<std::recursive_mutex> g(*lock_);
    job();
    return;
  }
  Item item;
  item.job = job;
  WaitDone(Enqueue(std::move(item), false));
}

void LogWriter::Sync() {
  Do([this] {
    if (durable_) {
      FlushOutputs();
      std::lock_guard<std::mutex> g(mu_);
      ++stats_.flushes;
    }
  });
}

LogWriter::Stats LogWriter::stats() const {
  std::lock_guard<std::mutex> g(mu_);
  Stats s = stats_;
  s.queued = queue_.size();
  int64_t oldest = oldest_in_hand_ms_;
  for (const Item& i : queue_)
    if (i.event) {
      if (oldest < 0 || i.queued_ms < oldest) oldest = i.queued_ms;
      break;
    }
  s.lag_ms = oldest < 0 ? 0 : SteadyNowMs() - oldest;
  return s;
}

void LogWriter::Run() {
  std::unique_lock<std::mutex> lk(mu_);
  int64_t last_flush = SteadyNowMs();
  bool dirty = false;  // written since the last flush
  const auto flush = [&] {
    const std::vector<EventSink*> outputs = outputs_;
    lk.unlock();
    {
      std::lock_guard<std::recursive_mutex> g(*lock_);
      for (EventSink* s : outputs) s->Flush();
    }
    lk.lock();
    ++stats_.flushes;
    dirty = false;
    last_flush = SteadyNowMs();
  };
  for (;;) {
    while (queue_.empty() && !stop_) {
      if (!dirty || !durable_) {
        dirty = false;
        work_.wait(lk);
        continue;
      }
      // The queue ran empty: flush, but not sooner than the gap after the last one, so that a
      // steady trickle of events still shares its flushes.
      const int64_t due = last_flush + kFlushGapMs - SteadyNowMs();
      if (due <= 0) break;
      work_.wait_for(lk, std::chrono::milliseconds(due));
    }
    if (queue_.empty()) {
      // A flush that came due, or the end: the last events are on disk before the outputs close.
      if (dirty && durable_) flush();
      if (stop_) break;
      continue;
    }
    std::deque<Item> batch;
    batch.swap(queue_);
    queued_bytes_ = 0;
    oldest_in_hand_ms_ = -1;
    for (const Item& i : batch)
      if (i.event) {
        oldest_in_hand_ms_ = i.queued_ms;
        break;
      }
    const std::vector<EventSink*> outputs = outputs_;
    const bool durable = durable_;
    lk.unlock();
    room_.notify_all();

    uint64_t written = 0, flushes = 0;
    {
      std::lock_guard<std::recursive_mutex> g(*lock_);
      const auto flush_here = [&] {
        for (EventSink* s : outputs) s->Flush();
        ++flushes;
        dirty = false;
        last_flush = SteadyNowMs();
      };
      size_t n = 0;
      for (Item& i : batch) {
        if (i.event) {
          const AccessEvent view = i.event->View();
          for (EventSink* s : outputs) s->Write(view);
          ++written;
          dirty = true;
        } else if (i.job) {
          // A switch, reopen or shutdown step finds every line before it on disk.
          if (durable && dirty) flush_here();
          i.job();
        }
        // A long batch is made durable on the way, so that no line waits past the bound.
        if (++n % kClockEvery == 0 && durable && dirty && SteadyNowMs() - last_flush >= kFlushMaxMs)
          flush_here();
      }
    }
    lk.lock();
    oldest_in_hand_ms_ = -1;
    stats_.written += written;
    stats_.flushes += flushes;
    done_seq_ = batch.back().seq;
    done_.notify_all();
    if (!durable) dirty = false;
    const int64_t since = SteadyNowMs() - last_flush;
    if (dirty && ((queue_.empty() && since >= kFlushGapMs) || since >= kFlushMaxMs)) flush();
  }
}

LogWriter& QVX_LogWriter() {
  static LogWriter* writer = new LogWriter(&g_critSec);  // outlives every thread that writes
  return *writer;
}

namespace {

// What the console last heard: whether the writer was behind, and how many waits it was told.
bool g_told_behind = false;
uint64_t g_told_waits = 0;
int64_t g_told_at_ms = 0;

// Behind: a quarter of the queue in use, or the oldest event waiting a second.
bool Behind(const LogWriter::Stats& s) { return s.queued * 4 >= s.queue_max || s.lag_ms >= 1000; }

std::string BehindText(const LogWriter::Stats& s) {
  char text[160];
  std::snprintf(text, sizeof text, "%zu events queued (%zu%% of the queue), the oldest %.1f s old",
                s.queued, s.queued * 100 / (s.queue_max ? s.queue_max : 1),
                static_cast<double>(s.lag_ms) / 1000.0);
  return text;
}

}  // namespace

std::vector<std::string> QVX_LogWriterNotices() {
  std::vector<std::string> out;
  const LogWriter::Stats s = QVX_LogWriter().stats();
  const int64_t now = SteadyNowMs();
  if (s.waits > g_told_waits) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the access-log queue was full: capture waited for the writer %llu times "
                  "(%lld ms in all; the capture buffer took the load meanwhile)",
                  static_cast<unsigned long long>(s.waits), static_cast<long long>(s.waited_ms));
    out.emplace_back(text);
    g_told_waits = s.waits;
  }
  if (Behind(s)) {
    // Told when it falls behind, then every 10 s while it stays behind.
    if (!g_told_behind || now - g_told_at_ms >= 10000) {
      out.push_back("the access-log writer is behind: " + BehindText(s));
      g_told_behind = true;
      g_told_at_ms = now;
    }
  } else if (g_told_behind) {
    out.emplace_back("the access-log writer has caught up");
    g_told_behind = false;
  }
  for (const std::string& t : out)
    QVX_KLOG("QVX_W11-020 QVX_LogWriter[%d][%ld] : %s\r\n", t.c_str());
  return out;
}

std::string QVX_LogWriterStatus() {
  const LogWriter::Stats s = QVX_LogWriter().stats();
  if (!Behind(s)) return "";
  char text[120];
  std::snprintf(text, sizeof text, "Writer behind: %zu%% of the queue, %.1f s",
                s.queued * 100 / (s.queue_max ? s.queue_max : 1),
                static_cast<double>(s.lag_ms) / 1000.0);
  return text;
}

}  // namespace qvx
