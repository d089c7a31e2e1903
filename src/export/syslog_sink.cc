#include "export/syslog_sink.h"

#include <chrono>

#include "base/dbglog.h"
#include "export/json_event.h"

namespace qvx {

namespace {
int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

std::string QVX_SyslogRecord(const std::string& time, std::string_view host, long pid,
                             std::string_view msgid, std::string_view msg) {
  std::string r = "<134>1 " + time + " ";
  r.append(host.empty() ? "-" : host).append(" quorvix ").append(std::to_string(pid));
  r.append(" ").append(msgid).append(" - ").append(msg);
  return r;
}

std::string QVX_OctetCounted(const std::string& record) {
  return std::to_string(record.size()) + " " + record;
}

SyslogSink::SyslogSink(std::string target, size_t queue_max, std::string host, std::string version,
                       long pid)
    : target_(std::move(target)),
      queue_max_(queue_max == 0 ? 1 : queue_max),
      host_(std::move(host)),
      version_(std::move(version)),
      pid_(pid),
      stream_(target_.rfind("tcp:", 0) == 0) {}

SyslogSink::~SyslogSink() { Stop(0); }

void SyslogSink::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
}

void SyslogSink::Stop(int drain_ms) {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (!thread_.joinable()) return;
    stop_ = true;
    drain_until_ = NowMs() + drain_ms;
  }
  wake_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> g(lock_);
  if (!queue_.empty()) {
    dropped_ += queue_.size();
    QVX_KLOG("QVX_E61-012 SyslogSink[%d][%ld] : %zu syslog records not sent at the end (%s)\r\n",
             queue_.size(), target_.c_str());
    notices_.push_back(std::to_string(queue_.size()) + " syslog records could not be sent to " +
                       target_ + " by the end");
    queue_.clear();
  }
}

void SyslogSink::Write(const AccessEvent& e) {
  if (!e.to_records) return;
  Enqueue(QVX_SyslogRecord(QVX_Iso8601(e.when), host_, pid_, "access",
                           QVX_EventJson(e, host_, version_)));
}

void SyslogSink::Enqueue(std::string record) {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (queue_.size() >= queue_max_) {
      if (dropped_untold_ == 0)
        QVX_KLOG(
            "QVX_E61-010 SyslogSink[%d][%ld] : syslog queue full (%zu): records dropped (%s)\r\n",
            queue_max_, target_.c_str());
      ++dropped_;
      ++dropped_untold_;
      return;
    }
    queue_.push_back(std::move(record));
  }
  wake_.notify_one();
}

void SyslogSink::Notice(const std::string& text) {
  std::lock_guard<std::mutex> g(lock_);
  notices_.push_back(text);
}

std::vector<std::string> SyslogSink::TakeNotices() {
  std::lock_guard<std::mutex> g(lock_);
  std::vector<std::string> out;
  out.swap(notices_);
  return out;
}

uint64_t SyslogSink::sent() const {
  std::lock_guard<std::mutex> g(lock_);
  return sent_;
}

uint64_t SyslogSink::dropped() const {
  std::lock_guard<std::mutex> g(lock_);
  return dropped_;
}

void SyslogSink::Run() {
  std::unique_ptr<MessageChannel> channel;
  bool told_down = false;
  int64_t next_try = 0;
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    wake_.wait_for(g, std::chrono::milliseconds(200),
                   [this] { return stop_ || !queue_.empty() || dropped_untold_ > 0; });
    if (stop_ && (queue_.empty() || NowMs() >= drain_until_)) return;
    if (queue_.empty() && dropped_untold_ == 0) continue;
    if (!channel) {
      if (NowMs() < next_try) continue;
      g.unlock();
      std::string error;
      channel = platform().OpenMessageChannel(target_, &error);
      g.lock();
      if (!channel) {
        next_try = NowMs() + 1000;
        if (!told_down) {
          told_down = true;
          QVX_KLOG("QVX_E61-011 SyslogSink[%d][%ld] : syslog collector unreachable: %s\r\n",
                   error.c_str());
          notices_.push_back("the syslog collector " + target_ + " cannot be reached (" + error +
                             "); records wait in the queue (at most " + std::to_string(queue_max_) +
                             ")");
        }
        continue;
      }
      if (told_down) {
        told_down = false;
        notices_.push_back("the syslog collector " + target_ + " is reached again");
      }
    }
    // Records dropped meanwhile are told to the collector first, where they are missed.
    std::string record;
    uint64_t telling = 0;
    if (dropped_untold_ > 0) {
      telling = dropped_untold_;
      LocalTime now = platform().Now();
      std::string msg = "{\"dropped\":" + std::to_string(telling) +
                        ",\"dropped_total\":" + std::to_string(dropped_) + ",\"host\":";
      QVX_JsonString(&msg, host_);
      msg += ",\"program\":\"quorvix\",\"version\":";
      QVX_JsonString(&msg, version_);
      msg += "}";
      record = QVX_SyslogRecord(QVX_Iso8601(now), host_, pid_, "dropped", msg);
    } else {
      record = queue_.front();
    }
    const std::string wire = stream_ ? QVX_OctetCounted(record) : record;
    g.unlock();
    const bool ok = channel->Send(wire.data(), wire.size());
    g.lock();
    if (!ok) {
      channel.reset();
      next_try = 0;  // one immediate reconnect: a collector restarted is back at once
      continue;
    }
    if (telling > 0) {
      dropped_untold_ -= telling;
      notices_.push_back(std::to_string(telling) +
                         " syslog records were dropped (queue full); the collector was told");
    } else {
      queue_.pop_front();
      ++sent_;
    }
  }
}

}  // namespace qvx
