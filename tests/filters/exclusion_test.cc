#include "filters/exclusion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/dbglog.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

// One line as the filter dialog writes it, before the text-mode stream adds its CR.
std::string Entry(int no, const char* from, const char* to, char kind, char match, char valid,
                  const std::string& path) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%02d,%s,-,%s,%c,%c,%c,%s", no, from, to, kind, match, valid,
                path.c_str());
  return buf;
}

class ExclusionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetNow(2026, 5, 15, 12, 0, 0);
    std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  }
  void TearDown() override {
    ExclusionInfoDataNo = 0;
    KnashiJyogaiBaseFlg = 0;
  }
  // Writes the list with the dialog's CR CR LF endings and reads it as the start-up does.
  void Load(const std::vector<std::string>& lines, const char* eol = "\r\r\n") {
    std::string text;
    for (const auto& l : lines) text += l + eol;
    fake.WriteText(fake.Path(kExclusionFileName), text);
    ASSERT_EQ(QVX_ExclusionStartup(nullptr, fake.dir().substr(0, fake.dir().size() - 1).c_str()),
              0);
  }
  std::string P(const std::string& rel) {  // a path under the test folder
    std::string p = fake.dir() + rel;
    for (char& c : p)
      if (c == '/') c = kPathSep;
    return p;
  }
  test::FakePlatform fake;
};

TEST_F(ExclusionTest, LineEndingsAllReadToTheSameEntries) {
  for (const char* eol : {"\r\r\n", "\r\n", "\n"}) {
    Load({"# comment", Entry(1, "00000000", "00000000", '0', '2', '1', "/srv/tmp/"),
          Entry(2, "00000000", "00000000", '0', '0', '1', "*.tmp")},
         eol);
    ASSERT_EQ(ExclusionInfoDataNo, 2);
    EXPECT_STREQ(reinterpret_cast<ExclusionInfoSt*>(ExclusionInfoData[0])->ExclusionFilePath,
                 "/srv/tmp/");
    EXPECT_STREQ(reinterpret_cast<ExclusionInfoSt*>(ExclusionInfoData[1])->ExclusionFilePath,
                 "*.tmp");
  }
}

TEST_F(ExclusionTest, CommentsDoNotCountAndTwentyIsTheMost) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 25; ++i) {
    lines.push_back("#" + std::to_string(i));
    lines.push_back(Entry(i, "00000000", "00000000", '0', '0', '1', "*.x" + std::to_string(i)));
  }
  Load(lines);
  EXPECT_EQ(ExclusionInfoDataNo, 20);
}

TEST_F(ExclusionTest, MissingFileIsAnEmptyListAndAContradictoryPeriodRefusesTheList) {
  // A first start has no file yet: an empty list, and nothing to tell the user.
  EXPECT_EQ(QVX_ExclusionStartup(nullptr, fake.Path("nowhere").c_str()), 0);
  EXPECT_EQ(ExclusionInfoDataNo, 0);
  EXPECT_TRUE(fake.boxes().empty());
  EXPECT_EQ(fake.Contents(szLogfileName).find("QVX_E02-005"), std::string::npos);

  // End before start, today in between: the whole file is refused, and the box names the file
  // and what is wrong with it.
  std::string text = Entry(1, "00000000", "00000000", '0', '0', '1', "*.a") + "\r\r\n" +
                     Entry(2, "20260601", "20260501", '0', '0', '1', "*.b") + "\r\r\n";
  fake.WriteText(fake.Path(kExclusionFileName), text);
  const std::string folder = fake.dir().substr(0, fake.dir().size() - 1);
  EXPECT_EQ(QVX_ExclusionStartup(nullptr, folder.c_str()), -1);
  EXPECT_EQ(ExclusionInfoDataNo, 0);
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_NE(fake.boxes()[0].text.find(fake.Path(kExclusionFileName)), std::string::npos);
  EXPECT_NE(fake.boxes()[0].text.find("period ends before it starts"), std::string::npos);
  EXPECT_NE(fake.Contents(szLogfileName).find("QVX_E02-005"), std::string::npos);
  int n = 5;
  EXPECT_EQ(ExclusionInfoRead(fake.Path(kExclusionFileName).c_str(), &n, 20, ExclusionInfoData),
            -1);
  EXPECT_EQ(n, 0);
}

TEST_F(ExclusionTest, DatePeriodIsInclusive) {
  char out[18];
  auto chk = [&](const char* from, const char* to) {
    return ExclusionDateChk(out, from, from + 4, from + 6, to, to + 4, to + 6);
  };
  fake.SetNow(2026, 5, 1, 0, 0, 0);
  EXPECT_EQ(chk("20260501", "20260531"), 0);
  EXPECT_STREQ(out, "20260501-20260531");
  fake.SetNow(2026, 5, 31, 23, 59, 59);
  EXPECT_EQ(chk("20260501", "20260531"), 0);
  fake.SetNow(2026, 4, 30, 12, 0, 0);
  EXPECT_EQ(chk("20260501", "20260531"), 1);
  fake.SetNow(2026, 6, 1, 0, 0, 0);
  EXPECT_EQ(chk("20260501", "20260531"), 2);
  EXPECT_EQ(chk("00000000", "00000000"), 0);
  EXPECT_STREQ(out, "00000000-00000000");
  fake.SetNow(2026, 5, 15, 0, 0, 0);
  EXPECT_EQ(chk("20260601", "20260501"), -1);
  EXPECT_EQ(ExclusionDateChk(nullptr, nullptr, "05", "01", "2026", "05", "31"), -1);
}

TEST_F(ExclusionTest, FolderAndBelowIsACaseSensitiveSubstring) {
  Load({Entry(1, "00000000", "00000000", '0', '2', '1', "/srv/share/tmp/")});
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/share/tmp/a.txt", 0), 10);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/share/tmp/x/b.doc", 0), 10);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/share/tmp2/c.txt", 0), 0);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/share/TMP/a.txt", 0), 0);
}

TEST_F(ExclusionTest, ThisFolderOnly) {
  ASSERT_TRUE(platform().MakeSureDirectoryPathExists(P("dir/sub/x")));
  Load({Entry(1, "00000000", "00000000", '0', '1', '1', P("dir"))});
  EXPECT_EQ(QVX_ExclusionInfoChk(P("dir/a.txt").c_str(), 0), 10);
  EXPECT_EQ(QVX_ExclusionInfoChk(P("dir").c_str(), 0), 10);  // the folder itself
  EXPECT_EQ(QVX_ExclusionInfoChk(P("dir/sub/b.txt").c_str(), 0), 0);
  EXPECT_EQ(QVX_ExclusionInfoChk(P("dir/sub").c_str(), 0), 0);  // an existing sub folder
  // With a trailing separator the entry never applies.
  Load({Entry(1, "00000000", "00000000", '0', '1', '1', P("dir/"))});
  EXPECT_EQ(QVX_ExclusionInfoChk(P("dir/a.txt").c_str(), 0), 0);
}

TEST_F(ExclusionTest, PatternsPeriodsAndValidity) {
  Load({Entry(1, "00000000", "00000000", '0', '0', '1', "*.tmp"),
        Entry(2, "20260501", "20260531", '0', '0', '1', "*.bak"),
        Entry(3, "20260101", "20260131", '0', '0', '1', "*.old"),
        Entry(4, "00000000", "00000000", '0', '0', '0', "*.off")});
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/a/B.TMP", 0), 10);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/a/b.bak", 0), 10);  // within May
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/a/b.old", 0), 0);   // period over
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/a/b.off", 0), 0);   // not active
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/a/b.txt", 0), 0);
}

TEST_F(ExclusionTest, StarExclusionSwitchesToSurveillanceMode) {
  Load({Entry(1, "00000000", "00000000", '0', '0', '1', "*"),
        Entry(2, "00000000", "00000000", '0', '0', '1', "*.log"),
        Entry(3, "00000000", "00000000", '1', '2', '1', "/srv/docs/"),
        Entry(4, "00000000", "00000000", '0', '0', '1', "*.tmp")});
  EXPECT_EQ(KnashiJyogaiBaseFlg, 1);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/docs/a.txt", 0), 0);   // surveyed
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/docs/a.tmp", 0), 10);  // excluded after it
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/docs/a.log", 0), 0);   // exclusion listed before it
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/other/a.txt", 0), 10);
}

TEST_F(ExclusionTest, SurveillanceModeWithOnlyStarLogsEverything) {
  Load({Entry(1, "00000000", "00000000", '1', '0', '1', "*"),
        Entry(2, "00000000", "00000000", '0', '0', '1', "*")});
  EXPECT_EQ(KnashiJyogaiBaseFlg, 1);  // the last "*" entry wins
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/a.txt", 0), 0);
  Load({Entry(1, "00000000", "00000000", '0', '0', '1', "*"),
        Entry(2, "00000000", "00000000", '1', '0', '1', "*")});
  EXPECT_EQ(KnashiJyogaiBaseFlg, 0);
}

TEST_F(ExclusionTest, EntriesWithoutAPathAreRefusedAndNamed) {
  // An empty "folder and below" path is a part of every path, and an empty "this folder" path
  // is the folder of a bare name: both would silence lines nobody asked to leave out.
  Load({"# header", Entry(1, "00000000", "00000000", '0', '2', '1', ""),
        Entry(2, "00000000", "00000000", '0', '1', '1', ""), "03,00000000,-,00000000,1,2,1",
        Entry(4, "00000000", "00000000", '0', '0', '1', "*.tmp")});
  ASSERT_EQ(ExclusionInfoDataNo, 1);
  EXPECT_STREQ(reinterpret_cast<ExclusionInfoSt*>(ExclusionInfoData[0])->ExclusionFilePath,
               "*.tmp");
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/share/a.txt", 0), 0);
  EXPECT_EQ(QVX_ExclusionInfoChk("a.txt", 0), 0);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/share/a.tmp", 0), 10);
  const std::string log = fake.Contents(szLogfileName);
  const std::string file = fake.Path(kExclusionFileName);
  size_t refused = 0;
  for (size_t at = log.find("QVX_E51-002 ExclusionInfoRead["); at != std::string::npos;
       at = log.find("QVX_E51-002 ExclusionInfoRead[", at + 1))
    ++refused;
  EXPECT_EQ(refused, 3u);
  EXPECT_NE(log.find(file + "(2) 01,00000000,-,00000000,0,2,1,"), std::string::npos) << log;
  EXPECT_NE(log.find(file + "(3) 02,00000000,-,00000000,0,1,1,"), std::string::npos);
  EXPECT_NE(log.find(file + "(4) 03,00000000,-,00000000,1,2,1"), std::string::npos);
  EXPECT_EQ(log.find(file + "(5)"), std::string::npos);
}

}  // namespace
}  // namespace qvx
