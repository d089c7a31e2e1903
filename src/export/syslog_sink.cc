#include "export/syslog_sink.h"

#include <chrono>

#include "base/dbglog.h"
#include "base/steady_clock.h"
#include "export/json_event.h"
#include "export/relp.h"

namespace qvx {

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

// Records sent over RELP before their answers are awaited.
constexpr size_t kRelpWindow = 128;
// How long the collector may take to answer the RELP "open".
constexpr int kRelpOpenWaitMs = 5000;
// A collector that answers nothing for this long while records wait for it is taken as gone:
// the connection is dropped and the records are sent again on a new one.
constexpr int64_t kRelpAnswerWaitMs = 30000;

// The channel to the collector and, over RELP, the session on it.
class SyslogSink::Connection {
 public:
  Connection(std::unique_ptr<MessageChannel> channel, bool stream, bool relp)
      : channel_(std::move(channel)), stream_(stream), relp_(relp) {}

  // RELP: the "open" handshake. False and *error when the collector does not take the session.
  bool Open(std::string* error) {
    if (!relp_) return true;
    const std::string open = QVX_RelpFrame(1, "open", QVX_RelpOpenOffers());
    next_txnr_ = 2;
    if (!channel_->Send(open.data(), open.size())) {
      *error = "the RELP open could not be sent";
      return false;
    }
    const int64_t until = SteadyNowMs() + kRelpOpenWaitMs;
    std::vector<RelpFrame> answers;
    while (answers.empty()) {
      const int64_t left = until - SteadyNowMs();
      if (left <= 0 || !Read(static_cast<int>(left), &answers)) {
        *error = "no answer to the RELP open";
        return false;
      }
    }
    if (answers.front().txnr != 1 || !answers.front().Ok()) {
      *error = "the collector refused the RELP session: " + answers.front().command + " " +
               answers.front().data.substr(0, 80);
      return false;
    }
    return true;
  }

  bool SendRecord(const std::string& record) {
    const std::string wire = stream_ ? QVX_OctetCounted(record) : record;
    return channel_->Send(wire.data(), wire.size());
  }
  bool SendRaw(const std::string& bytes) { return channel_->Send(bytes.data(), bytes.size()); }

  uint32_t NextTxnr() {
    const uint32_t t = next_txnr_;
    next_txnr_ = next_txnr_ >= kRelpTxnrMax ? 1 : next_txnr_ + 1;
    return t;
  }

  // Waits at most timeout_ms for answers and adds every whole one to *out. False when the
  // connection is gone or the collector speaks no RELP.
  bool Read(int timeout_ms, std::vector<RelpFrame>* out) {
    char buf[4096];
    const long n = channel_->Receive(buf, sizeof buf, timeout_ms);
    if (n < 0) return false;
    reader_.Feed(buf, static_cast<size_t>(n));
    RelpFrame f;
    int rc;
    while ((rc = reader_.Next(&f)) == 1) out->push_back(f);
    return rc == 0;
  }

 private:
  std::unique_ptr<MessageChannel> channel_;
  const bool stream_, relp_;
  uint32_t next_txnr_ = 1;
  RelpReader reader_;
};

SyslogSink::SyslogSink(std::string target, size_t queue_max, std::string host, std::string version,
                       long pid)
    : target_(std::move(target)),
      queue_max_(queue_max == 0 ? 1 : queue_max),
      host_(std::move(host)),
      version_(std::move(version)),
      pid_(pid),
      stream_(target_.rfind("tcp:", 0) == 0 || target_.rfind("relp:", 0) == 0),
      relp_(target_.rfind("relp:", 0) == 0) {}

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
    drain_until_ = SteadyNowMs() + drain_ms;
  }
  wake_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> g(lock_);
  auto records = [](const std::deque<Pending>& q) {
    size_t n = 0;
    for (const Pending& p : q) n += p.told == 0;
    return n;
  };
  const size_t unsent = records(queue_), unanswered = records(unacked_);
  if (unsent + unanswered > 0) {
    dropped_ += unsent + unanswered;
    QVX_KLOG(
        "QVX_E61-012 SyslogSink[%d][%ld] : %zu syslog records not sent and %zu not acknowledged "
        "at the end (%s)\r\n",
        unsent, unanswered, target_.c_str());
    std::string text = std::to_string(unsent) + " syslog records could not be sent to " + target_;
    if (unanswered > 0)
      text +=
          " and " + std::to_string(unanswered) + " were not acknowledged (they may have arrived)";
    notices_.push_back(text + " by the end");
  }
  queue_.clear();
  unacked_.clear();
}

void SyslogSink::Write(const AccessEvent& e) {
  if (!e.to_records) return;
  uint64_t seq;
  {
    std::lock_guard<std::mutex> g(lock_);
    seq = ++seq_;
  }
  Enqueue(QVX_SyslogRecord(QVX_Iso8601(e.when), host_, pid_, "access",
                           QVX_EventJson(e, host_, version_, seq)));
}

void SyslogSink::Enqueue(std::string record) {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (queue_.size() + unacked_.size() >= queue_max_) {
      if (dropped_untold_ == 0)
        QVX_KLOG(
            "QVX_E61-010 SyslogSink[%d][%ld] : syslog queue full (%zu): records dropped (%s)\r\n",
            queue_max_, target_.c_str());
      ++dropped_;
      ++dropped_untold_;
      return;
    }
    queue_.push_back(Pending{std::move(record)});
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

uint64_t SyslogSink::resent() const {
  std::lock_guard<std::mutex> g(lock_);
  return resent_;
}

void SyslogSink::QueueDropNotice() {
  LocalTime now = platform().Now();
  std::string msg = "{\"dropped\":" + std::to_string(dropped_untold_) +
                    ",\"dropped_total\":" + std::to_string(dropped_) + ",\"host\":";
  QVX_JsonString(&msg, host_);
  msg += ",\"program\":\"quorvix\",\"version\":";
  QVX_JsonString(&msg, version_);
  msg += "}";
  Pending p{QVX_SyslogRecord(QVX_Iso8601(now), host_, pid_, "dropped", msg), dropped_untold_};
  dropped_untold_ = 0;
  queue_.push_front(std::move(p));
}

void SyslogSink::Delivered(const Pending& p) {
  if (p.told > 0)
    notices_.push_back(std::to_string(p.told) +
                       " syslog records were dropped (queue full); the collector was told");
  else
    ++sent_;
}

void SyslogSink::Requeue() {
  size_t again = 0;
  for (auto it = unacked_.rbegin(); it != unacked_.rend(); ++it) {
    again += it->told == 0;
    queue_.push_front(std::move(*it));
  }
  unacked_.clear();
  if (again == 0) return;
  resent_ += again;
  QVX_KLOG(
      "QVX_E61-013 SyslogSink[%d][%ld] : connection to %s broke before %zu records were "
      "acknowledged: they are sent again\r\n",
      target_.c_str(), again);
  notices_.push_back("the connection to " + target_ + " broke before " + std::to_string(again) +
                     " syslog records were acknowledged; they are sent again (the collector may "
                     "hold some of them twice: same host, PROCID and seq)");
}

void SyslogSink::Run() {
  std::unique_ptr<Connection> conn;
  bool told_down = false;
  int64_t next_try = 0;
  int64_t last_answer = 0;  // RELP: when the collector last answered (or the wait began)
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    if (!conn && SteadyNowMs() < next_try) {
      // Until the next try only the end can wake the sender (records coming meanwhile wait).
      wake_.wait_for(g, std::chrono::milliseconds(next_try - SteadyNowMs()),
                     [this] { return stop_; });
    } else {
      wake_.wait_for(g, std::chrono::milliseconds(200), [this] {
        return stop_ || !queue_.empty() || !unacked_.empty() || dropped_untold_ > 0;
      });
    }
    // At the end the collector still hears of drops, when it is there to hear it.
    const bool done = queue_.empty() && unacked_.empty() && (dropped_untold_ == 0 || !conn);
    if (stop_ && (done || SteadyNowMs() >= drain_until_)) break;
    if (queue_.empty() && unacked_.empty() && dropped_untold_ == 0) continue;
    if (!conn) {
      if (SteadyNowMs() < next_try) continue;
      g.unlock();
      std::string error;
      std::unique_ptr<MessageChannel> channel = platform().OpenMessageChannel(target_, &error);
      if (channel) {
        conn = std::make_unique<Connection>(std::move(channel), stream_, relp_);
        if (!conn->Open(&error)) conn.reset();
      }
      g.lock();
      if (!conn) {
        next_try = SteadyNowMs() + 1000;
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
    if (dropped_untold_ > 0) QueueDropNotice();
    bool ok;
    if (!relp_) {
      const std::string record = queue_.front().record;
      g.unlock();
      ok = conn->SendRecord(record);
      g.lock();
      if (ok) {
        Delivered(queue_.front());
        queue_.pop_front();
      }
    } else {
      // Fill the window, then take the answers that came.
      if (unacked_.empty()) last_answer = SteadyNowMs();
      std::string out;
      while (unacked_.size() < kRelpWindow && !queue_.empty()) {
        Pending p = std::move(queue_.front());
        queue_.pop_front();
        p.txnr = conn->NextTxnr();
        out += QVX_RelpFrame(p.txnr, "syslog", p.record);
        unacked_.push_back(std::move(p));
      }
      std::vector<RelpFrame> answers;
      g.unlock();
      const bool sent = out.empty() || conn->SendRaw(out);
      // The answers the collector gave before it went are taken even when this send failed: a
      // record it acknowledged is not sent again.
      const bool heard = conn->Read(sent ? 200 : 0, &answers);
      ok = sent && heard;
      g.lock();
      if (!answers.empty()) last_answer = SteadyNowMs();
      if (ok && !unacked_.empty() && SteadyNowMs() - last_answer > kRelpAnswerWaitMs) {
        QVX_KLOG(
            "QVX_E61-015 SyslogSink[%d][%ld] : %s answered nothing for %lld s: reconnecting\r\n",
            target_.c_str(), static_cast<long long>(kRelpAnswerWaitMs / 1000));
        ok = false;
      }
      for (const RelpFrame& a : answers) {
        if (a.command == "serverclose") {
          ok = false;
          break;
        }
        if (a.command != "rsp") continue;
        for (auto it = unacked_.begin(); it != unacked_.end(); ++it) {
          if (it->txnr != a.txnr) continue;
          if (a.Ok()) {
            Delivered(*it);
          } else if (it->told == 0) {
            // Refused: sending it again would be refused again.
            QVX_KLOG("QVX_E61-014 SyslogSink[%d][%ld] : %s refused a record: %s\r\n",
                     target_.c_str(), a.data.substr(0, 80).c_str());
            ++dropped_;
            ++dropped_untold_;
          }
          unacked_.erase(it);
          break;
        }
      }
    }
    if (!ok) {
      Requeue();
      conn.reset();
      next_try = 0;  // one immediate reconnect: a collector restarted is back at once
    }
  }
  // A RELP session that is done is closed in order (the collector then logs no broken session).
  if (conn && relp_ && queue_.empty() && unacked_.empty()) {
    g.unlock();
    std::vector<RelpFrame> answers;
    if (conn->SendRaw(QVX_RelpFrame(conn->NextTxnr(), "close", ""))) conn->Read(1000, &answers);
  }
}

}  // namespace qvx
