#include "export/syslog_sink.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

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
                          QVX_EventJson(Event("/srv/share/a.txt", "Del "), "fs1", "1.2.3"));
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

}  // namespace
}  // namespace qvx
