#include "accesslog/rotation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "accesslog/access_log.h"
#include "app/controller.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;

const std::string kHeader(kAccessLogHeader, sizeof kAccessLogHeader - 3);  // without CR LF

class RotationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
    std::snprintf(szLogfileName2, sizeof szLogfileName2, "%s", fake.Path("e.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
    DiagLogLine(DiagLog::kEvent, 0, "start\r\n");
    base = fake.Path("Quorvix.log");
    std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", base.c_str());
    OptionInfo.LogFileWriteFlg = 1;
    OptionInfo.LogFileChangeFlg = 1;
    OptionInfo.LogFileChangeChkTime = 1;
  }
  // The start of a run at the fake clock's time.
  void StartLog() {
    QVX_AccessLogStartUp(nullptr);
    ASSERT_EQ(OptionInfo.LogFileWriteFlg, 1);
    ChangeDayValue = fake.Now().day;
    StartTime = static_cast<time_t>(fake.Now().t);
  }
  int CheckAt(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    fake.SetNow(y, mo, d, h, mi, s);
    return LogFileChangeCheck(nullptr, LogPathBase, OptionInfo.LogFileSize, OptionInfo.LogFileDate,
                              OptionInfo.LogChgYoubiFlg, OptionInfo.LogChgDayFlg);
  }
  void TickAt(int y, int mo, int d, int h, int mi, int s) {
    fake.SetNow(y, mo, d, h, mi, s);
    QVX_LogRotationTick(fake.Now());
  }
  void Line(const std::string& text) {
    std::string l = text + "\r\n";
    ASSERT_EQ(QVX_AccessLogWrite(l.c_str(), l.size()), 1);
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }
  std::string Event() { return fake.Contents(szLogfileName2); }
  std::string Kernel() { return fake.Contents(szLogfileName); }
  // The dated files beside the base, oldest first.
  std::vector<std::string> Dated() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(fake.dir())) {
      std::string name = e.path().filename().string();
      if (name.rfind("Quorvix", 0) == 0 && name != "Quorvix.log" && name.size() > 4 &&
          name.substr(name.size() - 4) == ".log")
        out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  test::FakePlatform fake;
  std::string base;
};

TEST_F(RotationTest, LastDayOfTheMonth) {
  EXPECT_EQ(GetLastDay(2026, 1), 31);
  EXPECT_EQ(GetLastDay(2026, 4), 30);
  EXPECT_EQ(GetLastDay(2027, 2), 28);
  EXPECT_EQ(GetLastDay(2028, 2), 29);
  EXPECT_EQ(GetLastDay(1900, 2), 28);
  EXPECT_EQ(GetLastDay(2000, 2), 29);
  EXPECT_EQ(GetLastDay(2026, 12), 31);
  EXPECT_EQ(GetLastDay(2026, 13), 0);
}

TEST_F(RotationTest, HourAndMinuteOfTheClock) {
  fake.SetNow(2026, 12, 9, 23, 59, 30);
  EXPECT_EQ(NowHourGet(0), 23);
  EXPECT_EQ(NowMinitGet(0), 59);
}

TEST_F(RotationTest, ChecksFallOnMultiplesAndALateTickCatchesUp) {
  OptionInfo.LogFileChangeChkTime = 600;
  EXPECT_TRUE(QVX_LogChangeCheckDue(1800));
  EXPECT_FALSE(QVX_LogChangeCheckDue(1801));
  EXPECT_FALSE(QVX_LogChangeCheckDue(2399));
  // The tick of 2400 ran late: the check comes at 2402, and only once.
  EXPECT_TRUE(QVX_LogChangeCheckDue(2402));
  EXPECT_FALSE(QVX_LogChangeCheckDue(2403));
  // A tick that is very late (several periods) gives one check, not one per period.
  EXPECT_TRUE(QVX_LogChangeCheckDue(4000));
  EXPECT_FALSE(QVX_LogChangeCheckDue(4001));
  // The clock set back: again on multiples only.
  EXPECT_FALSE(QVX_LogChangeCheckDue(1000));
  EXPECT_TRUE(QVX_LogChangeCheckDue(1200));
}

TEST_F(RotationTest, FirstTickChecksOnlyOnAMultiple) {
  OptionInfo.LogFileChangeChkTime = 600;
  EXPECT_FALSE(QVX_LogChangeCheckDue(1803));
  EXPECT_FALSE(QVX_LogChangeCheckDue(1804));
  EXPECT_TRUE(QVX_LogChangeCheckDue(2400));
}

TEST_F(RotationTest, PeriodOfZeroOrLessIsOneSecond) {
  for (int period : {0, -5}) {
    QVX_LogRotationReset();
    OptionInfo.LogFileChangeChkTime = period;
    EXPECT_TRUE(QVX_LogChangeCheckDue(1801));
    EXPECT_TRUE(QVX_LogChangeCheckDue(1802));
    EXPECT_FALSE(QVX_LogChangeCheckDue(1802));  // the same second twice
    EXPECT_TRUE(QVX_LogChangeCheckDue(1805));
  }
}

TEST_F(RotationTest, SizeRuleCountsThousandsOfBytes) {
  StartLog();
  OptionInfo.LogFileSize = 1000;
  // The header (123 bytes) and one line bring the file to 999,999 bytes.
  Line(std::string(1000000 - 1 - 123 - 2, 'x'));
  EXPECT_EQ(CheckAt(2026, 12, 9, 10, 30, 0), 0);
  Line("");  // now 1,000,001
  EXPECT_EQ(CheckAt(2026, 12, 9, 10, 30, 1), 1);
  EXPECT_EQ(Count(Event(), "QVX_I10-001 LogFileChangeCheck["), 1);
  EXPECT_NE(Event().find("(1000001)"), std::string::npos);
  // Exactly at the limit is enough.
  OptionInfo.LogFileSize = 1;
  QVX_AccessLogClose();
  fake.WriteText(base, std::string(1000, 'y'));
  StartLog();
  EXPECT_EQ(CheckAt(2026, 12, 9, 10, 30, 2), 1);
  QVX_AccessLogClose();
  fake.WriteText(base, std::string(999, 'y'));
  StartLog();
  EXPECT_EQ(CheckAt(2026, 12, 9, 10, 30, 3), 0);
}

TEST_F(RotationTest, LargeSizeSettingDoesNotWrapRound) {
  StartLog();
  // 5,000,000 x 1000 does not fit 32 bits; wrapped it would be 705,032,704 bytes.
  OptionInfo.LogFileSize = 5000000;
  QVX_AccessLogClose();
  fs::resize_file(base, 705032704u);
  StartLog();
  EXPECT_EQ(CheckAt(2026, 12, 9, 10, 30, 0), 0);
}

TEST_F(RotationTest, UnreadableSizeSwitches) {
  StartLog();
  OptionInfo.LogFileSize = 1;
  fake.SetFileSizeFails(true);
  EXPECT_EQ(CheckAt(2026, 12, 9, 10, 30, 0), 1);
  EXPECT_EQ(Count(Event(), "QVX_E10-001 LogFileChangeCheck["), 1);
  EXPECT_NE(Event().find("(4294967295)"), std::string::npos);
}

TEST_F(RotationTest, WeekdayRuleNeverOnTheStartDay) {
  fake.SetNow(2026, 12, 7, 9, 0, 0);  // a Monday
  StartLog();
  OptionInfo.LogChgYoubiFlg = 0x10;
  EXPECT_EQ(CheckAt(2026, 12, 7, 9, 10, 0), 0);
  EXPECT_EQ(CheckAt(2026, 12, 7, 23, 59, 59), 0);
  EXPECT_EQ(CheckAt(2026, 12, 8, 0, 0, 0), 0);    // Tuesday
  EXPECT_EQ(CheckAt(2026, 12, 13, 0, 0, 0), 0);   // Sunday
  EXPECT_EQ(CheckAt(2026, 12, 14, 0, 0, 0), 1);   // the next Monday
  EXPECT_EQ(CheckAt(2026, 12, 14, 0, 10, 0), 0);  // once a day
  EXPECT_EQ(Count(Event(), "QVX_I10-003 LogFileChangeCheck["), 1);
  EXPECT_NE(Event().find("(16)"), std::string::npos);
  // Sunday and Saturday bits together.
  OptionInfo.LogChgYoubiFlg = 0x1 | 0x1000000;
  EXPECT_EQ(CheckAt(2026, 12, 18, 0, 0, 0), 0);  // Friday
  EXPECT_EQ(CheckAt(2026, 12, 19, 0, 0, 0), 1);
  EXPECT_EQ(CheckAt(2026, 12, 20, 0, 0, 0), 1);
}

TEST_F(RotationTest, DayOfMonthRule) {
  StartLog();
  // 100: the month's last day, whatever its length.
  OptionInfo.LogChgDayFlg = 100;
  EXPECT_EQ(CheckAt(2026, 4, 29), 0);
  EXPECT_EQ(CheckAt(2026, 4, 30), 1);
  EXPECT_EQ(CheckAt(2026, 5, 1), 0);
  EXPECT_EQ(CheckAt(2027, 2, 28), 1);
  EXPECT_EQ(CheckAt(2028, 2, 27), 0);
  EXPECT_EQ(CheckAt(2028, 2, 28), 0);  // a leap year
  EXPECT_EQ(CheckAt(2028, 2, 29), 1);
  // 200: the 1st.
  OptionInfo.LogChgDayFlg = 200;
  EXPECT_EQ(CheckAt(2028, 3, 1), 1);
  EXPECT_EQ(CheckAt(2028, 3, 2), 0);
  EXPECT_EQ(CheckAt(2028, 3, 31), 0);
  // 300: both ends of the month.
  OptionInfo.LogChgDayFlg = 300;
  EXPECT_EQ(CheckAt(2028, 4, 1), 1);
  EXPECT_EQ(CheckAt(2028, 4, 30), 1);
  // 15: the 15th.
  OptionInfo.LogChgDayFlg = 15;
  EXPECT_EQ(CheckAt(2028, 5, 14), 0);
  EXPECT_EQ(CheckAt(2028, 5, 15), 1);
  // 115: the month flag takes over; a day number beside it has no effect.
  OptionInfo.LogChgDayFlg = 115;
  EXPECT_EQ(CheckAt(2028, 6, 14), 0);
  EXPECT_EQ(CheckAt(2028, 6, 15), 0);
  EXPECT_EQ(CheckAt(2028, 6, 30), 1);
  EXPECT_EQ(Count(Event(), "QVX_I10-004 LogFileChangeCheck["), 8);
  EXPECT_NE(Event().find("(115)"), std::string::npos);
}

// The day rules look once a day; a size or days rule set beside them (not due) must not take
// that look. The timer checks every 600 s from noon of the day before until the day after.
TEST_F(RotationTest, DayOfMonthRuleFiresBesideASizeOrDaysRule) {
  struct Case {
    int flg, size, date;
    int y, mo, d;  // the day before the chosen one
    const char* dated;
  } cases[] = {
      {100, 1000, 0, 2026, 4, 29, "Quorvix260430000000.log"},
      {100, 0, 30, 2026, 4, 29, "Quorvix260430000000.log"},
      {100, 1000, 0, 2027, 2, 27, "Quorvix270228000000.log"},
      {100, 0, 30, 2028, 2, 27, "Quorvix280229000000.log"},  // Feb 28 of a leap year: no
      {200, 1000, 0, 2026, 12, 31, "Quorvix270101000000.log"},
      {200, 0, 30, 2026, 4, 30, "Quorvix260501000000.log"},
  };
  for (const Case& c : cases) {
    QVX_AccessLogClose();
    QVX_LogRotationReset();
    for (const std::string& f : Dated()) fs::remove(f);
    OptionInfo.LogFileChangeChkTime = 600;
    OptionInfo.LogChgDayFlg = c.flg;
    OptionInfo.LogFileSize = c.size;
    OptionInfo.LogFileDate = c.date;
    fake.SetNow(c.y, c.mo, c.d, 12, 0, 0);
    StartLog();
    Line("one");
    for (int s = 600; s <= 3 * 86400; s += 600) TickAt(c.y, c.mo, c.d, 12, 0, s);
    EXPECT_EQ(Dated(), std::vector<std::string>{fake.Path(c.dated)})
        << c.flg << " size " << c.size << " days " << c.date;
  }
}

TEST_F(RotationTest, DaysRuleWithinAYear) {
  fake.SetNow(2026, 4, 11, 12, 0, 0);  // day 100 of the year
  StartLog();
  OptionInfo.LogFileDate = 7;
  EXPECT_EQ(CheckAt(2026, 4, 17, 23, 59, 59), 0);  // day 106
  EXPECT_EQ(CheckAt(2026, 4, 18, 0, 0, 0), 1);     // day 107
  EXPECT_NE(Event().find("QVX_I10-005 LogFileChangeCheck["), std::string::npos);
  EXPECT_NE(Event().find("(7)(107)"), std::string::npos);
  EXPECT_EQ(Event().find("QVX_I10-002"), std::string::npos);
  // The period began again with the switch.
  EXPECT_EQ(StartTime, static_cast<time_t>(fake.Now().t));
  EXPECT_EQ(CheckAt(2026, 4, 24, 12, 0, 0), 0);
  EXPECT_EQ(CheckAt(2026, 4, 25, 0, 0, 0), 1);
}

TEST_F(RotationTest, DaysRuleAcrossTheYearEnd) {
  fake.SetNow(2026, 12, 29, 8, 0, 0);  // day 362
  StartLog();
  OptionInfo.LogFileDate = 7;
  EXPECT_EQ(CheckAt(2026, 12, 31, 23, 50, 0), 0);
  EXPECT_EQ(CheckAt(2027, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(CheckAt(2027, 1, 4, 23, 59, 0), 0);  // day 3
  EXPECT_EQ(CheckAt(2027, 1, 5, 0, 0, 0), 1);    // day 4
  std::string e = Event();
  EXPECT_NE(e.find("QVX_I10-002 LogFileChangeCheck["), std::string::npos);
  EXPECT_LT(e.find("QVX_I10-002"), e.find("QVX_I10-005"));
  EXPECT_EQ(Count(e, "(7)(4)"), 2);
}

TEST_F(RotationTest, DaysRuleFiresWhenTheFirstCheckComesAfterTheYearEnd) {
  fake.SetNow(2026, 12, 27, 8, 0, 0);  // day 360; the period ends on day 363 of this year
  StartLog();
  OptionInfo.LogFileDate = 3;
  EXPECT_EQ(CheckAt(2027, 1, 2, 0, 0, 0), 1);
}

TEST_F(RotationTest, TwoRulesGiveOneSwitchAndBothMessages) {
  fake.SetNow(2026, 4, 29, 12, 0, 0);
  StartLog();
  OptionInfo.LogFileSize = 1;
  OptionInfo.LogChgDayFlg = 100;
  Line(std::string(1000, 'a'));
  TickAt(2026, 4, 30, 0, 0, 0);
  std::string e = Event();
  EXPECT_EQ(Count(e, "QVX_I10-001"), 1);
  EXPECT_EQ(Count(e, "QVX_I10-004"), 1);
  EXPECT_EQ(Count(e, "ログファイル切り替え"), 1);
  auto dated = Dated();
  ASSERT_EQ(dated.size(), 1u);
  EXPECT_EQ(dated[0], fake.Path("Quorvix260430000000.log"));
  EXPECT_EQ(fake.Contents(base), kAccessLogHeader);
}

TEST_F(RotationTest, SwitchKeepsEveryLineAndEndsTheOldFileWithAnEmptyLine) {
  StartLog();
  OptionInfo.LogFileSize = 1;
  OptionInfo.ChangeLogFileUpDate = 1;
  Line("one");
  TickAt(2026, 12, 9, 10, 30, 0);  // below 1000 bytes: reopened only
  EXPECT_TRUE(Dated().empty());
  Line(std::string(900, 'b'));
  TickAt(2026, 12, 9, 10, 30, 1);
  Line("three");
  std::string dated = fake.Path("Quorvix261209103001.log");
  ASSERT_EQ(Dated(), std::vector<std::string>{dated});
  EXPECT_EQ(fake.Contents(dated),
            std::string(kAccessLogHeader) + "one\r\n" + std::string(900, 'b') + "\r\n\r\n");
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "three\r\n");
  EXPECT_STREQ(LogPath, LogPathBase);
  std::string e = Event();
  EXPECT_NE(e.find("QVX_I02-042 QVX_LogThread["), std::string::npos);
  EXPECT_NE(e.find("ログファイルパス：" + dated), std::string::npos);
}

TEST_F(RotationTest, NoSwitchMessagesAtANegativeErrorLevel) {
  StartLog();
  OptionInfo.ErrorLevel = -1;
  OptionInfo.LogFileSize = 1;
  Line(std::string(1000, 'a'));
  TickAt(2026, 12, 9, 10, 30, 0);
  EXPECT_EQ(Dated().size(), 1u);
  EXPECT_EQ(Event().find("QVX_I02-042"), std::string::npos);
}

TEST_F(RotationTest, NothingWithoutRotationOrAccessLog) {
  StartLog();
  OptionInfo.LogFileSize = 1;
  Line(std::string(1000, 'a'));
  OptionInfo.LogFileChangeFlg = 0;
  TickAt(2026, 12, 9, 10, 30, 0);
  OptionInfo.LogFileChangeFlg = 1;
  OptionInfo.LogFileWriteFlg = 0;
  TickAt(2026, 12, 9, 10, 30, 1);
  EXPECT_TRUE(Dated().empty());
  EXPECT_EQ(Event().find("QVX_I10-001"), std::string::npos);
}

TEST_F(RotationTest, LateTickStillSwitches) {
  OptionInfo.LogFileChangeChkTime = 600;
  fake.SetNow(2026, 12, 9, 10, 9, 58);
  StartLog();
  OptionInfo.LogFileSize = 1;
  Line(std::string(1000, 'a'));
  TickAt(2026, 12, 9, 10, 9, 59);
  TickAt(2026, 12, 9, 10, 10, 2);  // the tick of 10:10:00 came late
  EXPECT_EQ(Dated(), std::vector<std::string>{fake.Path("Quorvix261209101002.log")});
}

TEST_F(RotationTest, FailedRenameIsReportedAndRetriedAtTheNextCheck) {
  fake.SetNow(2026, 4, 29, 12, 0, 0);
  StartLog();
  OptionInfo.LogChgDayFlg = 100;
  Line("before");
  fake.SetRenameFails(true);
  TickAt(2026, 4, 30, 0, 0, 0);
  Line("during");
  EXPECT_TRUE(Dated().empty());
  EXPECT_NE(Kernel().find("QVX_E11-004 LogFileAccess["), std::string::npos);
  // The old file goes on, without a second header.
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "before\r\nduring\r\n");
  // The day rule does not fire twice a day, yet the switch it asked for comes at the next check.
  fake.SetRenameFails(false);
  TickAt(2026, 4, 30, 0, 0, 1);
  Line("after");
  EXPECT_EQ(Dated(), std::vector<std::string>{fake.Path("Quorvix260430000001.log")});
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "after\r\n");
  // And then no more.
  TickAt(2026, 4, 30, 0, 0, 2);
  EXPECT_EQ(Dated().size(), 1u);
}

TEST_F(RotationTest, TakenDatedNameLeavesTheOldFileUntouched) {
  StartLog();
  OptionInfo.LogFileSize = 1;
  OptionInfo.ChangeLogFileUpDate = 1;
  std::string taken = fake.Path("Quorvix261209103000.log");
  fake.WriteText(taken, "an earlier run\r\n");
  Line(std::string(1000, 'a'));
  TickAt(2026, 12, 9, 10, 30, 0);
  EXPECT_EQ(fake.Contents(taken), "an earlier run\r\n");
  // No closing empty line and no second header in the old file.
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + std::string(1000, 'a') + "\r\n");
  EXPECT_NE(Kernel().find("QVX_E10-002"), std::string::npos);
  TickAt(2026, 12, 9, 10, 30, 1);
  EXPECT_EQ(fake.Lines(fake.Path("Quorvix261209103001.log")).back(), "");
}

TEST_F(RotationTest, StartUpSwitchInTheSameSecondWritesNoSecondHeader) {
  OptionInfo.StartLogChg = 1;
  StartLog();
  Line("first run");
  QVX_AccessLogClose();
  // A second start in the same second: the dated name of the first one is taken.
  fake.WriteText(fake.Path("Quorvix261209102007.log"), "");
  StartLog();
  Line("second run");
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "first run\r\nsecond run\r\n");
  EXPECT_NE(Kernel().find("QVX_E11-004"), std::string::npos);
}

TEST_F(RotationTest, StartUpSwitchWithoutAnOldFileIsQuiet) {
  OptionInfo.StartLogChg = 1;
  StartLog();
  EXPECT_EQ(fake.Contents(base), kAccessLogHeader);
  EXPECT_TRUE(Dated().empty());
  EXPECT_EQ(Kernel().find("QVX_E11-004"), std::string::npos);
}

TEST_F(RotationTest, ReopenFollowsAFileReplacedFromOutside) {
  StartLog();
  Line("one");
  // What logrotate does with "create": the log is moved away and an empty file takes its name.
  QVX_AccessLogClose();
  fs::rename(base, base + ".1");
  fake.WriteText(base, "");
  StartLog();  // reopened on the empty file
  QVX_AccessLogReopen();
  Line("two");
  EXPECT_EQ(fake.Contents(base + ".1"), std::string(kAccessLogHeader) + "one\r\n");
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "two\r\n");
}

#ifndef _WIN32
// Windows keeps an open file from being renamed; logrotate is a Linux tool.
TEST_F(RotationTest, ReopenAfterTheOpenFileWasMovedAway) {
  StartLog();
  Line("one");
  fs::rename(base, base + ".1");
  Line("two");  // still the open file
  ASSERT_EQ(QVX_AccessLogReopen(), 1);
  Line("three");
  EXPECT_EQ(fake.Contents(base + ".1"), std::string(kAccessLogHeader) + "one\r\ntwo\r\n");
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "three\r\n");
  // A reopen of a file with lines adds nothing.
  ASSERT_EQ(QVX_AccessLogReopen(), 1);
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "three\r\n");
}
#endif

TEST_F(RotationTest, CLibraryWriterFollowsTheSwitch) {
  OptionInfo.LogFileSelect = 2;
  StartLog();
  OptionInfo.LogFileSize = 1;
  OptionInfo.ChangeLogFileUpDate = 1;
  Line(std::string(1000, 'c'));
  TickAt(2026, 12, 9, 10, 30, 0);
  Line("next");
  std::string dated = fake.Path("Quorvix261209103000.log");
  ASSERT_EQ(Dated(), std::vector<std::string>{dated});
  EXPECT_EQ(fake.Contents(dated),
            std::string(kAccessLogHeader) + std::string(1000, 'c') + "\r\n\r\n");
  EXPECT_EQ(fake.Contents(base), std::string(kAccessLogHeader) + "next\r\n");
}

// A writer thread appends numbered lines as fast as it can while the log is switched again and
// again: every line lands exactly once, whole, after the header of its file.
TEST_F(RotationTest, StressEveryLineExactlyOnceAcrossSwitches) {
  StartLog();
  OptionInfo.LogFileSize = 1;
  OptionInfo.ChangeLogFileUpDate = 1;
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    char line[160];
    for (int i = 0; !stop.load(); ++i) {
      int n = std::snprintf(line, sizeof line,
                            "[2026/12/09 10:20:07],access,7,alice,10.1.2.3,10.1.2.4,--,--,"
                            "SMB2_CREATE,Create,12,Rd  ,/srv/docs/n%08d.txt\r\n",
                            i);
      if (QVX_AccessLogWrite(line, static_cast<size_t>(n)) != 1) break;
      written.store(i + 1);
    }
  });
  int second = 0;
  for (int k = 0; k < 200 && Dated().size() < 12; ++k) {
    NativePlatform().SleepMs(15);
    ++second;
    TickAt(2026, 12, 9, 11, second / 60, second % 60);
  }
  stop = true;
  writer.join();

  auto files = Dated();
  ASSERT_GE(files.size(), 10u);
  files.push_back(base);
  const int total = written.load();
  ASSERT_GT(total, static_cast<int>(files.size()));
  int next = 0;
  for (size_t f = 0; f < files.size(); ++f) {
    auto lines = fake.Lines(files[f]);
    ASSERT_FALSE(lines.empty()) << files[f];
    EXPECT_EQ(lines[0], kHeader) << files[f];
    const bool dated = f + 1 < files.size();
    if (dated) {
      EXPECT_EQ(lines.back(), "") << files[f];
    }
    for (size_t i = 1; i < lines.size(); ++i) {
      if (dated && i + 1 == lines.size()) break;
      int n = -1;
      const std::string& l = lines[i];
      // Whole lines only, in the order written.
      ASSERT_EQ(l.size(), 111u) << files[f] << " line " << i << ": " << l;
      ASSERT_EQ(std::sscanf(l.c_str() + l.size() - 13, "n%08d.txt", &n), 1) << l;
      ASSERT_EQ(n, next) << files[f] << " line " << i;
      ++next;
    }
  }
  EXPECT_EQ(next, total);
}

}  // namespace
}  // namespace qvx
