#include "accesslog/csv_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accesslog/access_log.h"
#include "app/tables.h"
#include "base/option.h"
#include "support/fake_platform.h"
#include "support/sample_event.h"

namespace qvx {
namespace {

class CsvSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    OptionInfo.LogFileWriteFlg = 1;
    log = fake.Path("Quorvix.log");
    std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", log.c_str());
    QVX_AccessLogStartUp(nullptr);
    ASSERT_EQ(QVX_AccessLogStartUpProblem(), "");
  }
  // The lines after the header.
  std::string Lines() {
    QVX_AccessLogClose();
    return fake.Contents(log).substr(sizeof kAccessLogHeader - 1);
  }
  static AccessEvent Access() { return test::SampleAccessEvent(); }
  test::FakePlatform fake;
  std::string log;
  CsvLogSink sink;
};

TEST_F(CsvSinkTest, ColumnsInTheOrderOfTheHeader) {
  sink.Write(Access());
  EXPECT_EQ(Lines(),
            "[2026/12/09 10:20:07],access,7,alice,10.0.0.2,10.0.0.1,aa:aa:aa:aa:aa:aa,"
            "bb:bb:bb:bb:bb:bb,SMB2_CREATE,open,5,Rd  ,/srv/share/a.txt\r\n");
}

TEST_F(CsvSinkTest, DetailJoinsThePathAndIsQuotedWithIt) {
  OptionInfo.PathDubileCorteSet = 1;
  AccessEvent e = Access();
  e.action = "login";
  e.size = e.operation = "";
  e.path = "\\\\srv\\say \"hi\"";
  e.path_detail = " [T:1 P:2 U:3 M:4]";
  sink.Write(e);
  EXPECT_EQ(
      Lines(),
      "[2026/12/09 10:20:07],login,7,alice,10.0.0.2,10.0.0.1,aa:aa:aa:aa:aa:aa,"
      "bb:bb:bb:bb:bb:bb,SMB2_CREATE,open,,,\"\\\\srv\\say \"\"hi\"\" [T:1 P:2 U:3 M:4]\"\r\n");
}

TEST_F(CsvSinkTest, ListOnlyEventsAndAStoppedLogWriteNothing) {
  AccessEvent row = Access();
  row.to_records = false;
  sink.Write(row);
  EXPECT_TRUE(sink.WantsRecords());
  OptionInfo.LogFileWriteFlg = 0;
  EXPECT_FALSE(sink.WantsRecords());
  sink.Write(Access());
  EXPECT_EQ(Lines(), "");
}

TEST_F(CsvSinkTest, WireBytesAreEscapedAndAPercentIsNoFormat) {
  AccessEvent e = Access();
  e.user = "100%s";
  e.path = "/srv/share/\x01.txt";
  sink.Write(e);
  const std::string lines = Lines();
  EXPECT_NE(lines.find(",100%s,"), std::string::npos);
  EXPECT_NE(lines.find("/srv/share/<01>.txt\r\n"), std::string::npos);
}

TEST_F(CsvSinkTest, AnOverlongLineIsCutInsideTheBufferAndStillEndsTheLine) {
  std::vector<char> buffer(kLogDataSize);
  char* const before = LogData;
  LogData = buffer.data();
  const std::string path(kLogDataSize, 'p');
  AccessEvent e = Access();
  e.path = path;
  sink.Write(e);
  LogData = before;
  const std::string lines = Lines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kLogDataSize) - 1);
  EXPECT_EQ(lines.substr(lines.size() - 4), "pp\r\n");
  EXPECT_EQ(lines.find('\n'), lines.size() - 1);
}

}  // namespace
}  // namespace qvx
