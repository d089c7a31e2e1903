#include "export/syslog_sink.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "export/json_event.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

AccessEvent Event(std::string_view path, std::string_view op) {
  AccessEvent e;
  e.when = {2026, 12, 9, 5,
            35,   0,  3, 1796762100};  // 05:35 at UTC+09:00 is 20:35 UTC the day before
  e.action = "access";
  e.tree = "1771639982";
  e.user = "qvxuser";
  e.client = "10.213.0.2";
  e.server = "10.213.0.1";
  e.client_mac = "0e:62:af:b1:99:ab";
  e.server_mac = "5a:46:7f:6a:b0:10";
  e.command = "SMB2_CREATE";
  e.info = "-";
  e.size = "19";
  e.operation = op;
  e.path = path;
  return e;
}

// A local syslog socket of the test's own.
class Collector {
 public:
  explicit Collector(const std::string& path) : path_(path) {}
  ~Collector() {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  void Listen() {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path_.c_str(), sizeof sa.sun_path - 1);
    ASSERT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  std::string Next() {
    char buf[65536];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  std::string path_;
  int fd_ = -1;
};

TEST(JsonEventTest, TimeCarriesItsOffsetAndValuesAreEscaped) {
  EXPECT_EQ(QVX_Iso8601(Event("", "").when), "2026-12-09T05:35:00+09:00");
  LocalTime west{2026, 1, 1, 0, 0, 0, 4, 1767245400};  // 00:00 at UTC-05:30
  EXPECT_EQ(QVX_Iso8601(west), "2026-01-01T00:00:00-05:30");
  std::string s;
  QVX_JsonString(&s, std::string("a\"b\\c\x01\xE6\x97\xA5\xFF", 10));
  EXPECT_EQ(s, "\"a\\\"b\\\\c\\u0001\xE6\x97\xA5<FF>\"");
  AccessEvent e = Event("/srv/share/docs/a,b.txt", "Rd  ");
  e.path_detail = " [T:1]";
  EXPECT_EQ(QVX_EventJson(e, "fs1", "1.2.3"),
            "{\"time\":\"2026-12-09T05:35:00+09:00\",\"action\":\"access\",\"tree\":\"1771639982\","
            "\"user\":\"qvxuser\",\"client\":\"10.213.0.2\",\"server\":\"10.213.0.1\","
            "\"client_mac\":\"0e:62:af:b1:99:ab\",\"server_mac\":\"5a:46:7f:6a:b0:10\","
            "\"command\":\"SMB2_CREATE\",\"info\":\"-\",\"size\":\"19\",\"operation\":\"Rd  \","
            "\"path\":\"/srv/share/docs/a,b.txt [T:1]\",\"host\":\"fs1\",\"program\":\"quorvix\","
            "\"version\":\"1.2.3\"}");
  // A permission change carries the descriptor it set; no other record has the field.
  e.acl = "D:(A;;0x1f01ff;;;S-1-1-0)";
  EXPECT_NE(
      QVX_EventJson(e, "fs1", "1.2.3")
          .find("\"path\":\"/srv/share/docs/a,b.txt [T:1]\",\"acl\":\"D:(A;;0x1f01ff;;;S-1-1-0)\","
                "\"host\""),
      std::string::npos);
  EXPECT_EQ(QVX_OctetCounted("<134>1 x"), "8 <134>1 x");
}

TEST(SyslogSinkTest, RecordsAreRfc5424WithTheEventsJsonAndRowOnlyEventsAreNotSent) {
  test::FakePlatform fake;
  const std::string sock = fake.Path("log.sock");
  Collector c(sock);
  c.Listen();
  SyslogSink sink("unix:" + sock, 100, "fs1", "1.2.3", 42);
  sink.Start();
  AccessEvent row_only = Event("/srv/x", "Rd  ");
  row_only.to_records = false;
  sink.Write(row_only);
  sink.Write(Event("/srv/share/a.txt", "Del "));
  EXPECT_EQ(c.Next(), "<134>1 2026-12-09T05:35:00+09:00 fs1 quorvix 42 access - " +
                          QVX_EventJson(Event("/srv/share/a.txt", "Del "), "fs1", "1.2.3", 1));
  sink.Stop(1000);
  EXPECT_EQ(sink.sent(), 1u);
  EXPECT_EQ(sink.dropped(), 0u);
}

TEST(SyslogSinkTest, AFullQueueDropsCountsAndTellsTheCollectorOnceItIsBack) {
  test::FakePlatform fake;
  const std::string sock = fake.Path("late.sock");
  Collector c(sock);
  SyslogSink sink("unix:" + sock, 2, "fs1", "1.2.3", 42);
  sink.Start();
  for (const char* p : {"/a", "/b", "/c", "/d", "/e"}) sink.Write(Event(p, "Rd  "));
  EXPECT_EQ(sink.dropped(), 3u);
  c.Listen();  // the collector comes (the sink tries again every second)
  const std::string told = c.Next();
  EXPECT_NE(told.find(" quorvix 42 dropped - {\"dropped\":3,\"dropped_total\":3,"),
            std::string::npos)
      << told;
  EXPECT_NE(c.Next().find("\"path\":\"/a\""), std::string::npos);
  EXPECT_NE(c.Next().find("\"path\":\"/b\""), std::string::npos);
  sink.Stop(1000);
  EXPECT_EQ(sink.sent(), 2u);
  bool said = false;
  for (const std::string& n : sink.TakeNotices())
    said |= n.find("3 syslog records were dropped") != std::string::npos;
  EXPECT_TRUE(said);
}

TEST(SyslogSinkTest, WaitingForAnAbsentCollectorCostsNoProcessorTime) {
  test::FakePlatform fake;
  SyslogSink sink("unix:" + fake.Path("nobody.sock"), 100, "fs1", "1.2.3", 42);
  sink.Start();
  sink.Write(Event("/a", "Rd  "));
  timespec before, after;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a retry falls within
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  const double used =
      static_cast<double>(after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
  EXPECT_LT(used, 0.2) << "the sender spins while the collector is away";
  sink.Stop(0);
  EXPECT_EQ(sink.dropped(), 1u);
}

// --- RELP: a collector of the test's own, on the other end of a socket pair ---

// One end of a stream socket pair as the sink's channel.
class PairChannel : public MessageChannel {
 public:
  explicit PairChannel(int fd) : fd_(fd) {}
  ~PairChannel() override { ::close(fd_); }
  bool Send(const void* data, size_t size) override {
    return ::send(fd_, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
  }
  long Receive(char* buf, size_t cap, int timeout_ms) override {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) == 0) return 0;
    const ssize_t n = ::recv(fd_, buf, cap, 0);
    return n > 0 ? n : -1;
  }

 private:
  int fd_;
};

// A collector session, read with its own frame parser: "TXNR CMD LEN[ DATA]\n". answer(n) says
// what the n-th syslog frame of the session (from 0) gets: "200 OK", another answer, or "" to
// end the session there without an answer (the collector dies).
struct RelpSession {
  std::function<std::string(int)> answer;
  std::vector<std::string> records;  // syslog data in arrival order
  bool closed_in_order = false;
  std::thread thread;

  void Serve(int fd) {
    std::string in;
    char buf[8192];
    int n_syslog = 0;
    for (;;) {
      size_t lf;
      // Whole frames first: header up to the length, then exactly LEN bytes and the LF.
      for (;;) {
        const size_t s1 = in.find(' '), s2 = in.find(' ', s1 + 1);
        if (s1 == std::string::npos || s2 == std::string::npos) break;
        const std::string txnr = in.substr(0, s1), cmd = in.substr(s1 + 1, s2 - s1 - 1);
        size_t pos = s2 + 1;
        const size_t len = std::strtoul(in.c_str() + pos, nullptr, 10);
        while (pos < in.size() && std::isdigit(static_cast<unsigned char>(in[pos]))) ++pos;
        if (pos >= in.size()) break;
        const size_t data_at = len > 0 ? pos + 1 : pos;
        if (in.size() < data_at + len + 1) break;
        lf = data_at + len;
        EXPECT_EQ(in[lf], '\n');
        const std::string data = in.substr(data_at, len);
        in.erase(0, lf + 1);
        std::string reply;
        if (cmd == "open") {
          EXPECT_NE(data.find("commands=syslog"), std::string::npos) << data;
          reply = "200 OK\nrelp_version=0\nrelp_software=test\ncommands=syslog";
        } else if (cmd == "close") {
          closed_in_order = true;
          const std::string r = txnr + " rsp 0\n";
          ::send(fd, r.data(), r.size(), MSG_NOSIGNAL);
          ::close(fd);
          return;
        } else {
          EXPECT_EQ(cmd, "syslog");
          reply = answer(n_syslog++);
          if (reply.empty()) {  // dies before answering this one
            ::close(fd);
            return;
          }
          records.push_back(data);
        }
        const std::string r = txnr + " rsp " + std::to_string(reply.size()) + " " + reply + "\n";
        ::send(fd, r.data(), r.size(), MSG_NOSIGNAL);
      }
      const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
      if (got <= 0) {
        ::close(fd);
        return;
      }
      in.append(buf, static_cast<size_t>(got));
    }
  }
};

// Each connection the sink opens goes to the next session the test scripted.
class RelpPlatform : public test::FakePlatform {
 public:
  explicit RelpPlatform(std::vector<RelpSession*> sessions) : sessions_(std::move(sessions)) {}
  ~RelpPlatform() override {
    for (RelpSession* s : sessions_)
      if (s->thread.joinable()) s->thread.join();
  }
  std::unique_ptr<MessageChannel> OpenMessageChannel(const std::string& target,
                                                     std::string* error) override {
    EXPECT_EQ(target, "relp:collector:2514");
    std::lock_guard<std::mutex> g(lock_);
    if (next_ >= sessions_.size()) {
      *error = "no collector";
      return nullptr;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return nullptr;
    RelpSession* s = sessions_[next_++];
    s->thread = std::thread([s, fd = fds[1]] { s->Serve(fd); });
    return std::make_unique<PairChannel>(fds[0]);
  }

 private:
  std::mutex lock_;
  std::vector<RelpSession*> sessions_;
  size_t next_ = 0;
};

// The "seq" of each record's JSON.
std::vector<int> Seqs(const std::vector<std::string>& records) {
  std::vector<int> out;
  for (const std::string& r : records) {
    const size_t at = r.rfind(",\"seq\":");
    out.push_back(at == std::string::npos ? -1 : std::atoi(r.c_str() + at + 7));
  }
  return out;
}

TEST(RelpTest, EveryRecordIsAcknowledgedAndTheSessionEndsInOrder) {
  RelpSession s;
  s.answer = [](int) { return std::string("200 OK"); };
  RelpPlatform fake({&s});
  SyslogSink sink("relp:collector:2514", 1000, "fs1", "1.2.3", 42);
  sink.Start();
  for (int i = 0; i < 300; ++i) sink.Write(Event("/f" + std::to_string(i), "Rd  "));
  sink.Stop(5000);
  s.thread.join();
  ASSERT_EQ(s.records.size(), 300u);
  EXPECT_EQ(s.records[0], "<134>1 2026-12-09T05:35:00+09:00 fs1 quorvix 42 access - " +
                              QVX_EventJson(Event("/f0", "Rd  "), "fs1", "1.2.3", 1));
  const std::vector<int> seqs = Seqs(s.records);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(seqs[i], i + 1);
  EXPECT_TRUE(s.closed_in_order);
  EXPECT_EQ(sink.sent(), 300u);
  EXPECT_EQ(sink.dropped(), 0u);
  EXPECT_EQ(sink.resent(), 0u);
}

TEST(RelpTest, RecordsNotAcknowledgedWhenTheCollectorDiesAreSentAgainAfterReconnecting) {
  // The first collector takes 50 records and dies on the 51st; the second takes everything.
  RelpSession first, second;
  first.answer = [](int n) { return n < 50 ? std::string("200 OK") : std::string(); };
  second.answer = [](int) { return std::string("200 OK"); };
  RelpPlatform fake({&first, &second});
  SyslogSink sink("relp:collector:2514", 1000, "fs1", "1.2.3", 42);
  sink.Start();
  for (int i = 0; i < 200; ++i) sink.Write(Event("/f" + std::to_string(i), "Wt  "));
  sink.Stop(5000);
  first.thread.join();
  second.thread.join();
  // Every seq arrived; the ones both sessions hold are only those the first never answered.
  std::set<int> all;
  for (int q : Seqs(first.records)) all.insert(q);
  const std::vector<int> again = Seqs(second.records);
  ASSERT_FALSE(again.empty());
  EXPECT_EQ(again.front(), 51);  // resent from the first record without an answer, in order
  for (size_t i = 1; i < again.size(); ++i) EXPECT_EQ(again[i], again[i - 1] + 1);
  for (int q : again) all.insert(q);
  EXPECT_EQ(all.size(), 200u);
  EXPECT_EQ(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin(), 200);
  EXPECT_EQ(first.records.size(), 50u);
  EXPECT_EQ(sink.sent(), 200u);
  EXPECT_EQ(sink.dropped(), 0u);
  // The unanswered ones the first session was sent (the window) are counted as sent again.
  EXPECT_GE(sink.resent(), 1u);
  EXPECT_LE(sink.resent(), 150u);
  bool said = false;
  for (const std::string& n : sink.TakeNotices())
    said |= n.find("they are sent again") != std::string::npos;
  EXPECT_TRUE(said);
}

TEST(RelpTest, RefusedRecordsAndRecordsNeverAnsweredAreCountedAsDropped) {
  // A record the collector refuses is not sent again: it is dropped and the collector is told.
  RelpSession s;
  s.answer = [](int n) { return n == 1 ? std::string("500 no room") : std::string("200 OK"); };
  {
    RelpPlatform fake({&s});
    SyslogSink sink("relp:collector:2514", 100, "fs1", "1.2.3", 42);
    sink.Start();
    for (const char* p : {"/a", "/b", "/c"}) sink.Write(Event(p, "Rd  "));
    sink.Stop(5000);
    EXPECT_EQ(sink.sent(), 2u);
    EXPECT_EQ(sink.dropped(), 1u);
  }
  ASSERT_EQ(s.records.size(), 4u);
  EXPECT_NE(s.records[3].find(" dropped - {\"dropped\":1,"), std::string::npos) << s.records[3];

  // A collector that takes the session and then never answers: nothing is counted as sent, and
  // at the end every record is counted as dropped.
  RelpSession mute;
  mute.answer = [](int) { return std::string(); };
  RelpPlatform fake({&mute});
  SyslogSink sink("relp:collector:2514", 100, "fs1", "1.2.3", 42);
  sink.Start();
  for (const char* p : {"/a", "/b"}) sink.Write(Event(p, "Rd  "));
  sink.Stop(1500);
  EXPECT_EQ(sink.sent(), 0u);
  EXPECT_EQ(sink.dropped(), 2u);
}

}  // namespace
}  // namespace qvx
