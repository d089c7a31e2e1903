#include "filters/ip_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "base/dbglog.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

class IpFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetNow(2026, 12, 9, 10, 0, 0);
    std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  }
  void TearDown() override { IpAddFilterInfoDataNo = 0; }
  int Load(const std::string& text) {
    fake.WriteText(fake.Path(kIpFilterFileName), text);
    return QVX_IpFilterStartup(nullptr, fake.dir().substr(0, fake.dir().size() - 1).c_str());
  }
  test::FakePlatform fake;
};

TEST_F(IpFilterTest, EntriesInForceDropFramesEitherWay) {
  ASSERT_EQ(Load("01,00000000,-,00000000,0,1,10.0.0.5\r\r\n"
                 "02,20261201,-,20261208,0,1,10.0.0.6\r\r\n"  // ended yesterday
                 "03,00000000,-,00000000,0,0,10.0.0.7\r\r\n"  // disabled
                 "04,00000000,-,00000000,0,1,10.000.0.008\r\r\n"),
            0);
  EXPECT_EQ(IpAddFilterInfoDataNo, 4);
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.1", "10.0.0.5"));
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.6", "10.0.0.1"));
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.7", "10.0.0.1"));
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.8", "10.0.0.1"));  // not canonical: never matches
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.50", "10.0.0.1"));
}

TEST_F(IpFilterTest, AnEntryComesIntoForceOnItsFirstDay) {
  ASSERT_EQ(Load("01,20261210,-,20261231,0,1,10.0.0.5\r\r\n"), 0);
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
  fake.SetNow(2026, 12, 10, 0, 0, 0);
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
}

TEST_F(IpFilterTest, MissingFileIsAnEmptyFilterWithoutAWord) {
  EXPECT_EQ(QVX_IpFilterStartup(nullptr, fake.Path("none").c_str()), 0);
  EXPECT_EQ(IpAddFilterInfoDataNo, 0);
  EXPECT_TRUE(fake.boxes().empty());
  EXPECT_EQ(fake.Contents(szLogfileName).find("QVX_E02-011"), std::string::npos);
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
}

TEST_F(IpFilterTest, AFileThatCannotBeUsedIsNamedWithItsFaultAndFiltersNothing) {
  ASSERT_EQ(Load("01,00000000,-,00000000,0,1,10.0.0.5\r\r\n"
                 "02,20261231,-,20261201,0,1,10.0.0.6\r\r\n"),
            -1);
  EXPECT_EQ(IpAddFilterInfoDataNo, 0);
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_NE(fake.boxes()[0].text.find(fake.Path(kIpFilterFileName)), std::string::npos);
  EXPECT_NE(fake.boxes()[0].text.find("period ends before it starts"), std::string::npos);
  EXPECT_NE(fake.Contents(szLogfileName).find("QVX_E02-011"), std::string::npos);
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
}

}  // namespace
}  // namespace qvx
