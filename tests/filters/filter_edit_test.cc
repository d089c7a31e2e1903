#include "filters/filter_edit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "base/dbglog.h"
#include "filters/ip_filter.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

class FilterEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetNow(2026, 12, 9, 10, 0, 0);
    std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
    std::memset(&table, 0, sizeof table);
  }
  void TearDown() override {
    ExclusionInfoDataNo = 0;
    IpAddFilterInfoDataNo = 0;
    KnashiJyogaiBaseFlg = 0;
    ExclusionInfoFilePath[0] = '\0';
    IpAddFilterInfoFilePath[0] = '\0';
  }
  std::string Folder() { return fake.dir().substr(0, fake.dir().size() - 1); }

  static FilterEntryFields Path(const std::string& p, int kind = 0, int match = 0) {
    FilterEntryFields f;
    f.path = p;
    f.KanshiJogaiInfoFlg = kind;
    f.MatchKind = match;
    return f;
  }
  static FilterEntryFields Ip(const char* a, const char* b, const char* c, const char* d) {
    FilterEntryFields f;
    f.octet[0] = a;
    f.octet[1] = b;
    f.octet[2] = c;
    f.octet[3] = d;
    return f;
  }
  static FilterEntryFields Term(FilterEntryFields f, const char* sy, const char* sm, const char* sd,
                                const char* ey, const char* em, const char* ed) {
    f.term = true;
    f.sYear = sy, f.sMon = sm, f.sDay = sd, f.eYear = ey, f.eMon = em, f.eDay = ed;
    return f;
  }
  void Add(FilterKind kind, const FilterEntryFields& f) {
    ASSERT_EQ(FilterEntryCheck(kind, f), "");
    ASSERT_TRUE(FilterEntryAppend(kind, &table, f));
  }

  test::FakePlatform fake;
  FilterTable table;
};

TEST_F(FilterEditTest, ExclusionEntriesAreSavedInTheLineFormatAndReadBackExactly) {
  Add(FilterKind::kExclusion, Path("D:\\share\\tmp\\", 0, 2));
  Add(FilterKind::kExclusion, Term(Path("*.tmp", 1, 0), "2026", "5", "1", "2031", "12", "31"));
  Add(FilterKind::kExclusion, Path("D:\\share\\dir", 0, 1));
  const std::string file = fake.Path(kExclusionFileName);
  ASSERT_TRUE(FilterTableSave(FilterKind::kExclusion, table, file.c_str()));
  EXPECT_EQ(fake.Contents(file),
            "01,00000000,-,00000000,0,2,1,D:\\share\\tmp\\\r\r\n"
            "02,20260501,-,20311231,1,0,1,*.tmp\r\r\n"
            "03,00000000,-,00000000,0,1,1,D:\\share\\dir\r\r\n");

  ASSERT_EQ(QVX_ExclusionStartup(nullptr, Folder().c_str()), 0);
  ASSERT_EQ(ExclusionInfoDataNo, 3);
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(ExclusionInfoData[i], table.Data[i]) << i;
  EXPECT_EQ(std::string(FilterFilePath(FilterKind::kExclusion)), file);
}

TEST_F(FilterEditTest, IpEntriesAreSavedCanonicalAndFilterOnceSwappedIn) {
  Add(FilterKind::kIpAddress, Ip("10", "0", "0", "5"));
  // Typed with leading zeros: saved as a frame's address reads, or it would never match.
  Add(FilterKind::kIpAddress,
      Term(Ip("192", "168", "000", "007"), "2026", "12", "01", "2026", "12", "31"));
  const std::string file = fake.Path(kIpFilterFileName);
  ASSERT_TRUE(FilterTableSave(FilterKind::kIpAddress, table, file.c_str()));
  EXPECT_EQ(fake.Contents(file),
            "01,00000000,-,00000000,0,1,10.0.0.5\r\r\n"
            "02,20261201,-,20261231,0,1,192.168.0.7\r\r\n");

  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
  FilterTableSwapIn(FilterKind::kIpAddress, table);
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.5", "10.0.0.1"));
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.1", "192.168.0.7"));

  ASSERT_EQ(QVX_IpFilterStartup(nullptr, Folder().c_str()), 0);
  ASSERT_EQ(IpAddFilterInfoDataNo, 2);
  EXPECT_STREQ(IpAddFilterInfoData[1], table.Data[1]);
  FilterTable back;
  FilterTableGet(FilterKind::kIpAddress, &back);
  EXPECT_EQ(back.No, 2);
  EXPECT_STREQ(back.Data[0], "01,00000000,-,00000000,0,1,10.0.0.5");
}

TEST_F(FilterEditTest, DeletingSeveralSelectedRowsDeletesExactlyThoseAndRenumbers) {
  for (const char* p : {"/a", "/b", "/c", "/d", "/e"}) Add(FilterKind::kExclusion, Path(p));
  // Rows 1 and 3 selected ("/b" and "/d"); deleting from the first would shift "/e" into row 3.
  FilterDeleteRows(&table, {3, 1});
  ASSERT_EQ(table.No, 3);
  EXPECT_STREQ(table.Data[0], "01,00000000,-,00000000,0,0,1,/a");
  EXPECT_STREQ(table.Data[1], "02,00000000,-,00000000,0,0,1,/c");
  EXPECT_STREQ(table.Data[2], "03,00000000,-,00000000,0,0,1,/e");
  EXPECT_EQ(table.Data[3][0], '\0');
  EXPECT_EQ(FilterRowTexts(FilterKind::kExclusion, table, 2)[0], "03");

  FilterDeleteRows(&table, {0, 1, 2, 2, 7});
  EXPECT_EQ(table.No, 0);
  EXPECT_EQ(table.Data[0][0], '\0');
}

TEST_F(FilterEditTest, StateColumnSaysWhatTheFilterDoesWithTheEntry) {
  Add(FilterKind::kExclusion, Path("/srv/on", 0, 2));
  Add(FilterKind::kExclusion,
      Term(Path("/srv/over", 0, 2), "2026", "11", "01", "2026", "12", "08"));  // ended yesterday
  Add(FilterKind::kExclusion,
      Term(Path("/srv/later", 0, 2), "2027", "01", "01", "2027", "12", "31"));
  FilterSetValid(FilterKind::kExclusion, &table, {0}, false);
  auto state = [&](int i) { return FilterRowTexts(FilterKind::kExclusion, table, i)[1]; };
  EXPECT_EQ(state(0), "--  ");  // disabled: not excluded
  EXPECT_EQ(state(1), "    XX");
  EXPECT_EQ(state(2), "--  ");  // not begun

  FilterTableSwapIn(FilterKind::kExclusion, table);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/on/a.txt", 0), 0);
  FilterSetValid(FilterKind::kExclusion, &table, {0, 1}, true);
  EXPECT_EQ(state(0), "    ON");
  FilterTableSwapIn(FilterKind::kExclusion, table);
  EXPECT_EQ(QVX_ExclusionInfoChk("/srv/on/a.txt", 0), 10);
  // A term that is over ignores Enable and Disable.
  FilterSetValid(FilterKind::kExclusion, &table, {1}, false);
  EXPECT_EQ(table.Data[1][27], '1');

  std::vector<std::string> row = FilterRowTexts(FilterKind::kExclusion, table, 1);
  ASSERT_EQ(row.size(), 6u);
  EXPECT_EQ(row[2], "Excl");
  EXPECT_EQ(row[3], "20261101-20261208");
  EXPECT_EQ(row[4], "Folder subordinate");
  EXPECT_EQ(row[5], "/srv/over");
}

TEST_F(FilterEditTest, IpStateFollowsTheIpFiltersOwnValidRule) {
  // The IP filter ignores only '0'; a hand-edited '2' is in force there.
  fake.WriteText(fake.Path(kIpFilterFileName),
                 "01,00000000,-,00000000,0,2,10.0.0.9\r\r\n"
                 "02,00000000,-,00000000,0,0,10.0.0.8\r\r\n");
  ASSERT_EQ(QVX_IpFilterStartup(nullptr, Folder().c_str()), 0);
  FilterTableGet(FilterKind::kIpAddress, &table);
  std::vector<std::string> row = FilterRowTexts(FilterKind::kIpAddress, table, 0);
  ASSERT_EQ(row.size(), 5u);
  EXPECT_EQ(row[1], "    ON");
  EXPECT_EQ(row[3], "00000000-00000000");
  EXPECT_EQ(row[4], "10.0.0.9");
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.9", "10.0.0.1"));
  EXPECT_EQ(FilterRowTexts(FilterKind::kIpAddress, table, 1)[1], "--  ");
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.8", "10.0.0.1"));

  FilterSetValid(FilterKind::kIpAddress, &table, {1}, true);
  FilterTableSwapIn(FilterKind::kIpAddress, table);
  EXPECT_TRUE(QVX_IpFilterDrops("10.0.0.8", "10.0.0.1"));
}

TEST_F(FilterEditTest, TermsTakeAnyFourDigitYearAndRefuseImpossibleOrReversedDates) {
  auto check = [](const char* sy, const char* sm, const char* sd, const char* ey, const char* em,
                  const char* ed) {
    return FilterEntryCheck(FilterKind::kExclusion, Term(Path("/x"), sy, sm, sd, ey, em, ed));
  };
  EXPECT_EQ(check("2028", "2", "29", "2028", "3", "1"), "");  // leap year
  EXPECT_NE(check("2027", "2", "29", "2027", "3", "1"), "");
  EXPECT_EQ(check("2000", "2", "29", "2000", "2", "29"), "");  // divisible by 400; one day
  EXPECT_NE(check("2100", "2", "29", "2100", "3", "1"), "");
  EXPECT_EQ(check("2006", "1", "1", "2099", "12", "31"), "");  // beyond the old 2007-2020 list
  EXPECT_NE(check("2026", "4", "1", "2026", "4", "31"), "");   // the end day is checked too
  EXPECT_NE(check("26", "1", "1", "2026", "2", "1"), "");
  EXPECT_NE(check("0000", "1", "1", "2026", "2", "1"), "");
  EXPECT_NE(check("2026", "13", "1", "2026", "12", "1"), "");
  EXPECT_NE(check("2026", "1", "x", "2026", "12", "1"), "");
  const std::string reversed = check("2026", "5", "2", "2026", "5", "1");
  EXPECT_NE(reversed.find("before the start"), std::string::npos) << reversed;
  EXPECT_NE(check("2026", "4", "31", "2026", "5", "1").find("Start day"), std::string::npos);

  // A year outside the old list round-trips through the file and the reader.
  Add(FilterKind::kExclusion, Term(Path("/y", 0, 2), "2006", "1", "1", "2099", "12", "31"));
  const std::string file = fake.Path(kExclusionFileName);
  ASSERT_TRUE(FilterTableSave(FilterKind::kExclusion, table, file.c_str()));
  ASSERT_EQ(QVX_ExclusionStartup(nullptr, Folder().c_str()), 0);
  EXPECT_EQ(QVX_ExclusionInfoChk("/y/a", 0), 10);
}

TEST_F(FilterEditTest, EntryFieldsAreRefusedWithAMessage) {
  EXPECT_EQ(FilterEntryCheck(FilterKind::kExclusion, Path("")),
            "The surveillance exclusion folder is not inputted.");
  EXPECT_EQ(FilterEntryCheck(FilterKind::kIpAddress, Ip("10", "", "0", "1")),
            "The IP address is not inputted.");
  EXPECT_EQ(FilterEntryCheck(FilterKind::kIpAddress, Ip("10", "0", "256", "1")),
            "IP address, octet 3: enter a number from 0 to 255.");
  EXPECT_NE(FilterEntryCheck(FilterKind::kIpAddress, Ip("10", "0", "-1", "1")), "");
  EXPECT_EQ(FilterEntryCheck(FilterKind::kIpAddress, Ip("255", "0", "0", "0")), "");
}

TEST_F(FilterEditTest, TheLongestPathKeepsItsLastCharacterThroughTheFile) {
  const std::string longest = "/" + std::string(256, 'p') + "Z";  // 258 characters
  EXPECT_NE(FilterEntryCheck(FilterKind::kExclusion, Path(longest + "q")), "");
  Add(FilterKind::kExclusion, Path(longest));
  const std::string file = fake.Path(kExclusionFileName);
  ASSERT_TRUE(FilterTableSave(FilterKind::kExclusion, table, file.c_str()));
  ASSERT_EQ(QVX_ExclusionStartup(nullptr, Folder().c_str()), 0);
  ASSERT_EQ(ExclusionInfoDataNo, 1);
  EXPECT_EQ(std::string(
                reinterpret_cast<const ExclusionInfoSt*>(ExclusionInfoData[0])->ExclusionFilePath),
            longest);
}

TEST_F(FilterEditTest, TheTableHoldsTwentyAndAnUnwritableFileIsReported) {
  for (int i = 0; i < kFilterEntries; ++i) Add(FilterKind::kIpAddress, Ip("10", "0", "0", "1"));
  EXPECT_FALSE(FilterEntryAppend(FilterKind::kIpAddress, &table, Ip("10", "0", "0", "2")));
  EXPECT_EQ(table.No, kFilterEntries);
  EXPECT_STREQ(table.Data[19], "20,00000000,-,00000000,0,1,10.0.0.1");
  EXPECT_FALSE(FilterTableSave(FilterKind::kIpAddress, table,
                               fake.Path("no-such-dir/IPAddFilterInfo.dat").c_str()));
}

TEST_F(FilterEditTest, TheCaptureThreadNeverSeesAHalfSwappedTable) {
  // The same address in both tables, in different slots: a copy made while the filter reads could
  // show the other address in both slots for a moment, and a listed client would pass.
  FilterTable a, b;
  std::memset(&a, 0, sizeof a);
  std::memset(&b, 0, sizeof b);
  for (const char* last : {"5", "9"})
    FilterEntryAppend(FilterKind::kIpAddress, &a, Ip("10", "0", "0", last));
  for (const char* last : {"9", "5"})
    FilterEntryAppend(FilterKind::kIpAddress, &b, Ip("10", "0", "0", last));
  FilterTableSwapIn(FilterKind::kIpAddress, a);
  std::atomic<bool> stop{false};
  std::atomic<int> passed{0};
  std::thread capture([&] {
    while (!stop)
      if (!QVX_IpFilterDrops("10.0.0.5", "10.0.0.1")) ++passed;
  });
  for (int i = 0; i < 200000; ++i) FilterTableSwapIn(FilterKind::kIpAddress, i % 2 ? a : b);
  stop = true;
  capture.join();
  EXPECT_EQ(passed, 0);
}

}  // namespace
}  // namespace qvx
