#include "app/option_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/fake_platform.h"

namespace qvx {
namespace {

class OptionDialogTest : public ::testing::Test {
 protected:
  std::string Ini() { return fake.Path("Quorvix.ini"); }
  // The dialog's edits as opening fills them.
  OptionDlgTexts Shown(const OptionDlgState& s) {
    OptionDlgTexts t;
    const OptionInfoSt& o = s.OptionInfoTmp;
    t.LogFilePath = o.LogFilePath;
    OptionSplitAddress(o.IpAddress, t.octet);
    t.RefleshTime = std::to_string(o.RefleshTime);
    t.LogFileSize = std::to_string(o.LogFileSize);
    t.LogFileDate = std::to_string(o.LogFileDate);
    t.ErrorLevel = std::to_string(o.ErrorLevel);
    t.Day = std::to_string(s.LogChgDay);
    return t;
  }
  // "key=value" lines of the ini file in file order.
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (const std::string& l : fake.Lines(Ini()))
      if (!l.empty() && l[0] != '[') out.push_back(l);
    return out;
  }
  void SetUp() override { OptionRememberConfiguredAddress(""); }
  void TearDown() override { OptionRememberConfiguredAddress(""); }
  // The value of key in the ini file.
  std::string Key(const std::string& key) {
    for (const std::string& l : Lines())
      if (l.rfind(key + "=", 0) == 0) return l.substr(key.size() + 1);
    return "(none)";
  }
  OptionDlgState Open(const OptionInfoSt& o) {
    OptionDlgState s;
    OptionDlgOpen(o, &s);
    return s;
  }
  test::FakePlatform fake;
};

TEST_F(OptionDialogTest, OpenAndOkWithoutChangesWritesThe27KeysInOrder) {
  fake.WriteText(Ini(),
                 "[Option]\r\nErrorLevel=5\r\nLogChgDayFlg=315\r\nLogChgYoubiFlg=16843009\r\n"
                 "IpAddress=10.1.2.3\r\nDriverSelectNo=4\r\nLogFilePath=/l/a.log\r\n"
                 "FilterCode=tcp port 445\r\nLogFileSelect=0\r\nMemperformanceSelect=2\r\n"
                 "ResetTime=3\r\nStartDown=1\r\n");
  QVX_ReadOptionInfo(nullptr);
  OptionDlgState s = Open(OptionInfo);
  EXPECT_EQ(OptionErrorLevelItems(OptionInfo.ErrorLevel),
            (std::vector<std::string>{"0", "1", "2", "3", "5"}));
  ASSERT_EQ(OptionDlgAccept(&s, Shown(s)), "");
  fake.WriteText(Ini(), "");
  ASSERT_TRUE(QVX_WriteOptionKeys(s.OptionInfoTmp));
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "LogFileWriteFlg=0",
                         "LogFileChangeFlg=0",
                         "LogFileSize=0",
                         "LogFileDate=0",
                         "StartDown=1",
                         "StartTask=1",
                         "AutoStart=0",
                         "RefleshTime=10",
                         "SMB=1",
                         "API=1",
                         "ErrorLevel=5",
                         "HostName=0",
                         "AllPacketGet=0",
                         "QVXHosts=0",
                         "PathDubileCorteSet=0",
                         "DriverSelectNo=0",
                         "AccessLogOnly=0",
                         "StartLogChg=0",
                         "LogChgYoubiFlg=16843009",
                         "LogChgDayFlg=315",
                         "LogFileSelect=0",
                         "MemperformanceSelect=2",
                         "ResetTime=3",
                         "ChangeLogFileUpDate=0",
                         "IpAddress=10.1.2.3",
                         "LogFilePath=/l/a.log",
                         "FilterCode=tcp port 445",
                     }));
}

TEST_F(OptionDialogTest, AnAutomaticAddressStaysAutomaticUnlessTheUserTypesOne) {
  // The file says "automatic"; start-up then put the machine's own address in force.
  fake.WriteText(Ini(), "[Option]\r\nIpAddress=0.0.0.0\r\n");
  QVX_ReadOptionInfo(nullptr);
  OptionRememberConfiguredAddress(OptionInfo.IpAddress);
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "%s", "10.9.8.7");

  OptionDlgState s = Open(OptionInfo);
  OptionDlgTexts t = Shown(s);
  EXPECT_EQ(t.octet[0] + "." + t.octet[1] + "." + t.octet[2] + "." + t.octet[3], "0.0.0.0");
  ASSERT_EQ(OptionDlgAccept(&s, t), "");
  ASSERT_TRUE(QVX_WriteOptionKeys(s.OptionInfoTmp));
  EXPECT_EQ(Key("IpAddress"), "0.0.0.0");

  // A typed address is pinned, and the dialog shows it when opened again.
  s = Open(OptionInfo);
  t = Shown(s);
  t.octet[0] = "10", t.octet[1] = "20", t.octet[2] = "30", t.octet[3] = "40";
  ASSERT_EQ(OptionDlgAccept(&s, t), "");
  ASSERT_TRUE(QVX_WriteOptionKeys(s.OptionInfoTmp));
  EXPECT_EQ(Key("IpAddress"), "10.20.30.40");
  s = Open(OptionInfo);
  EXPECT_STREQ(s.OptionInfoTmp.IpAddress, "10.20.30.40");
}

TEST_F(OptionDialogTest, DesignatedDayAndMonthBoxesDecodeAndEncode) {
  struct Case {
    int flg;
    bool end, start;
    int day;
  } cases[] = {{0, false, false, 0},   {15, false, false, 15}, {100, true, false, 0},
               {200, false, true, 0},  {300, true, true, 0},   {315, true, true, 15},
               {131, true, false, 31}, {201, false, true, 1}};
  for (const Case& c : cases) {
    OptionInfoSt o;
    OptionSetDefaults(&o);
    o.LogChgDayFlg = c.flg;
    OptionDlgState s = Open(o);
    EXPECT_EQ(OptionButtonChecked(s, kOptMonthEnd), c.end) << c.flg;
    EXPECT_EQ(OptionButtonChecked(s, kOptMonthStart), c.start) << c.flg;
    EXPECT_EQ(s.LogChgDay, c.day) << c.flg;
    ASSERT_EQ(OptionDlgAccept(&s, Shown(s)), "");
    EXPECT_EQ(s.OptionInfoTmp.LogChgDayFlg, c.flg);
  }
  OptionInfoSt o;
  OptionSetDefaults(&o);
  o.LogChgDayFlg = 215;
  OptionDlgState s = Open(o);
  OptionDlgClick(&s, kOptMonthEnd);    // +100
  OptionDlgClick(&s, kOptMonthStart);  // -200
  OptionDlgTexts t = Shown(s);
  t.Day = "";  // no designated day
  ASSERT_EQ(OptionDlgAccept(&s, t), "");
  EXPECT_EQ(s.OptionInfoTmp.LogChgDayFlg, 100);
}

TEST_F(OptionDialogTest, EachWeekdayBoxTogglesItsOwnBit) {
  const std::pair<int, int> boxes[] = {{kOptSun, 0x1},      {kOptMon, 0x10},    {kOptTue, 0x100},
                                       {kOptWed, 0x1000},   {kOptThu, 0x10000}, {kOptFri, 0x100000},
                                       {kOptSat, 0x1000000}};
  EXPECT_EQ(kOptTue, 1131);  // captioned "thu", yet Tuesday
  EXPECT_EQ(kOptThu, 1133);
  for (const auto& [id, bit] : boxes) {
    OptionInfoSt o;
    OptionSetDefaults(&o);
    o.LogChgYoubiFlg = 0x1111111 & ~bit;
    OptionDlgState s = Open(o);
    EXPECT_FALSE(OptionButtonChecked(s, id));
    OptionDlgClick(&s, id);
    EXPECT_EQ(s.OptionInfoTmp.LogChgYoubiFlg, 0x1111111) << id;
    EXPECT_TRUE(OptionButtonChecked(s, id));
    OptionDlgClick(&s, id);
    EXPECT_EQ(s.OptionInfoTmp.LogChgYoubiFlg, 0x1111111 & ~bit) << id;
  }
}

TEST_F(OptionDialogTest, HidingAtStartUpAndTheTrayIconAreCoupled) {
  OptionInfoSt o;
  OptionSetDefaults(&o);
  o.StartTask = 0;
  OptionDlgState s = Open(o);
  OptionDlgClick(&s, kOptStartDown);  // on: the tray icon comes with it
  EXPECT_EQ(s.OptionInfoTmp.StartDown, 1);
  EXPECT_EQ(s.OptionInfoTmp.StartTask, 1);
  EXPECT_TRUE(OptionButtonChecked(s, kOptStartTask));
  OptionDlgClick(&s, kOptStartDown);  // off: only itself
  EXPECT_EQ(s.OptionInfoTmp.StartDown, 0);
  EXPECT_EQ(s.OptionInfoTmp.StartTask, 1);
  OptionDlgClick(&s, kOptStartDown);
  OptionDlgClick(&s, kOptStartTask);  // tray off: hiding goes too
  EXPECT_EQ(s.OptionInfoTmp.StartTask, 0);
  EXPECT_EQ(s.OptionInfoTmp.StartDown, 0);
  EXPECT_FALSE(OptionButtonChecked(s, kOptStartDown));
}

TEST_F(OptionDialogTest, NoticesComeWhenSwitchingOnOnly) {
  OptionInfoSt o;
  OptionSetDefaults(&o);
  OptionDlgState s = Open(o);
  EXPECT_STREQ(OptionDlgClick(&s, kOptAllPacket),
               "Keep in mind that a pipe file is also acquired when it validates with this "
               "setup.");
  EXPECT_EQ(OptionDlgClick(&s, kOptAllPacket), nullptr);
  const char* host = OptionDlgClick(&s, kOptHostName);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(std::string(host).rfind("In order to carry out a reverse lookup", 0), 0u);
  EXPECT_EQ(s.OptionInfoTmp.HostName, 1);
  EXPECT_EQ(OptionDlgClick(&s, kOptHostName), nullptr);
  EXPECT_EQ(OptionDlgClick(&s, kOptSmb), nullptr);
  EXPECT_EQ(s.OptionInfoTmp.SMB, 0);
}

TEST_F(OptionDialogTest, RadiosFollowTheirSettings) {
  OptionInfoSt o;
  OptionSetDefaults(&o);
  o.LogFileSelect = 2;
  o.MemperformanceSelect = 7;
  OptionDlgState s = Open(o);
  EXPECT_TRUE(OptionButtonChecked(s, kOptCLibrary));
  EXPECT_FALSE(OptionButtonChecked(s, kOptNonBufferFlush));
  EXPECT_TRUE(OptionButtonChecked(s, kOptMemNormal));
  OptionDlgClick(&s, kOptBufferFlush);
  OptionDlgClick(&s, kOptMemMiddle);
  EXPECT_EQ(s.OptionInfoTmp.LogFileSelect, 0);
  EXPECT_EQ(s.OptionInfoTmp.MemperformanceSelect, 1);
  EXPECT_FALSE(OptionButtonChecked(s, kOptCLibrary));
}

TEST_F(OptionDialogTest, BadFieldsAreRefusedByNameAndNothingIsTaken) {
  OptionInfoSt o;
  OptionSetDefaults(&o);
  std::snprintf(o.IpAddress, sizeof o.IpAddress, "10.0.0.5");
  OptionDlgState s = Open(o);
  const OptionDlgState before = s;
  auto refused = [&](void (*edit)(OptionDlgTexts*), const char* field) {
    OptionDlgTexts t = Shown(s);
    t.LogFilePath = "/changed.log";
    edit(&t);
    std::string m = OptionDlgAccept(&s, t);
    EXPECT_NE(m.find(field), std::string::npos) << m;
    EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0) << field;
  };
  refused([](OptionDlgTexts* t) { t->octet[1] = "256"; }, "octet 2");
  refused([](OptionDlgTexts* t) { t->octet[3] = ""; }, "octet 4");
  refused([](OptionDlgTexts* t) { t->octet[0] = "1a"; }, "octet 1");
  refused([](OptionDlgTexts* t) { t->Day = "32"; }, "Designated date");
  refused([](OptionDlgTexts* t) { t->Day = "x"; }, "Designated date");
  refused([](OptionDlgTexts* t) { t->RefleshTime = "abc"; }, "Reflesh Time");
  refused([](OptionDlgTexts* t) { t->LogFileSize = "-5"; }, "Chg File Size");
  refused([](OptionDlgTexts* t) { t->LogFileDate = ""; }, "Chg Width Date");

  OptionDlgTexts t = Shown(s);
  t.octet[0] = "010";
  t.Day = "0";
  ASSERT_EQ(OptionDlgAccept(&s, t), "");
  EXPECT_STREQ(s.OptionInfoTmp.IpAddress, "10.0.0.5");
  EXPECT_EQ(s.OptionInfoTmp.LogChgDayFlg, 0);
}

TEST_F(OptionDialogTest, AddressSplitAndShortenedPath) {
  std::string oct[4];
  OptionSplitAddress("192.168.10.200", oct);
  EXPECT_EQ(oct[0], "192");
  EXPECT_EQ(oct[3], "200");
  OptionSplitAddress("0.0.0.0", oct);
  EXPECT_EQ(oct[2], "0");
  OptionSplitAddress("1.2", oct);
  EXPECT_EQ(oct[1], "2");
  EXPECT_EQ(oct[2], "");

  const std::string hundred(100, 'a');
  EXPECT_EQ(OptionShortPath(hundred.c_str()), hundred);
  const std::string longer = std::string(96, 'b') + "cdefg";
  EXPECT_EQ(OptionShortPath(longer.c_str()), std::string(96, 'b') + "...");
}

}  // namespace
}  // namespace qvx
