// The Options dialog driven through its controls; the written Quorvix.ini is compared byte for
// byte.
#include <gtest/gtest.h>

#include <string>

#include "app/option_dialog.h"
#include "app/win32/dialog_driver.h"
#include "app/win32/dialogs.h"
#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

using test::Checked;
using test::Click;
using test::Command;
using test::Select;
using test::SetText;
using test::StillOpen;
using test::Text;

class OptionDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "C:\\logs\\Quorvix.log");
    std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "10.1.2.3");
    OptionInfo.ErrorLevel = 5;
    OptionInfo.LogChgDayFlg = 315;
    OptionInfo.LogChgYoubiFlg = 0x1;  // Sunday
    OptionInfo.StartDown = 1;
    OptionInfo.DriverSelectNo = 4;
  }
  void TearDown() override {
    if (dlg_ && IsWindow(dlg_)) DestroyWindow(dlg_);
  }
  HWND Open() {
    dlg_ = test::OpenDialog(116, OptionDlg, 0);
    return dlg_;
  }
  std::string Ini() { return fake.Contents(fake.Path("Quorvix.ini")); }

  test::FakePlatform fake;
  HWND dlg_ = nullptr;
};

TEST_F(OptionDlgTest, OpensShowingTheSettings) {
  HWND d = Open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Text(d, kOptOctet1), "10");
  EXPECT_EQ(Text(d, kOptOctet4), "3");
  EXPECT_EQ(Text(d, kOptRefleshTime), "10");
  EXPECT_EQ(Text(d, kOptLogPath), "C:\\logs\\Quorvix.log");
  EXPECT_EQ(Text(d, kOptLogPathShown), "C:\\logs\\Quorvix.log");
  EXPECT_EQ(Text(d, kOptDay), "15");
  EXPECT_TRUE(Checked(d, kOptMonthEnd));
  EXPECT_TRUE(Checked(d, kOptMonthStart));
  EXPECT_TRUE(Checked(d, kOptSun));
  EXPECT_FALSE(Checked(d, kOptMon));
  EXPECT_TRUE(Checked(d, kOptStartDown));
  EXPECT_TRUE(Checked(d, kOptNonBufferFlush));
  EXPECT_TRUE(Checked(d, kOptMemNormal));
  EXPECT_EQ(Text(d, kOptErrorLevel), "5");  // a level set in the file only
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, kOptCLibrary)));
  EXPECT_EQ(SendDlgItemMessageA(d, kOptDay, EM_GETLIMITTEXT, 0, 0), 2);
  EXPECT_EQ(SendDlgItemMessageA(d, kOptOctet2, EM_GETLIMITTEXT, 0, 0), 3);
  EXPECT_EQ(SendDlgItemMessageA(d, kOptLogFileSize, EM_GETLIMITTEXT, 0, 0), 7);
}

TEST_F(OptionDlgTest, OkWritesThe27KeysAsEdited) {
  HWND d = Open();
  ASSERT_NE(d, nullptr);
  SetText(d, kOptOctet1, "192");
  SetText(d, kOptOctet2, "168");
  SetText(d, kOptOctet3, "0");
  SetText(d, kOptOctet4, "20");
  SetText(d, kOptLogFileSize, "2048");
  SetText(d, kOptDay, "20");
  Click(d, kOptTue);
  Click(d, kOptMonthStart);  // off: 200 less
  Click(d, kOptStartTask);   // off, and hiding goes with it
  Click(d, kOptBufferFlush);
  Click(d, kOptMemHi);
  Click(d, kOptLogWrite);
  Select(d, kOptErrorLevel, 2);
  Command(d, IDOK);
  EXPECT_FALSE(StillOpen(d));
  EXPECT_FALSE(Checked(d, kOptStartDown));
  EXPECT_EQ(Ini(),
            "[Option]\r\n"
            "LogFileWriteFlg=1\r\nLogFileChangeFlg=0\r\nLogFileSize=2048\r\nLogFileDate=0\r\n"
            "StartDown=0\r\nStartTask=0\r\nAutoStart=0\r\nRefleshTime=10\r\nSMB=1\r\nAPI=1\r\n"
            "ErrorLevel=2\r\nHostName=0\r\nAllPacketGet=0\r\nQVXHosts=0\r\n"
            "PathDubileCorteSet=0\r\nDriverSelectNo=0\r\nAccessLogOnly=0\r\nStartLogChg=0\r\n"
            "LogChgYoubiFlg=257\r\nLogChgDayFlg=120\r\nLogFileSelect=0\r\n"
            "MemperformanceSelect=2\r\nResetTime=99\r\nChangeLogFileUpDate=0\r\n"
            "IpAddress=192.168.0.20\r\nLogFilePath=C:\\logs\\Quorvix.log\r\nFilterCode=tcp\r\n");
  ASSERT_FALSE(fake.boxes().empty());
  EXPECT_EQ(fake.boxes().back().text, "Changes become effective after a reboot. ");
  // The running program keeps what it read at start-up.
  EXPECT_EQ(OptionInfo.ErrorLevel, 5);
}

TEST_F(OptionDlgTest, UnchangedOkKeepsAnErrorLevelAboveThree) {
  HWND d = Open();
  ASSERT_NE(d, nullptr);
  Command(d, IDOK);
  const std::string ini = Ini();
  EXPECT_NE(ini.find("\r\nErrorLevel=5\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\r\nLogChgDayFlg=315\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\r\nDriverSelectNo=0\r\n"), std::string::npos) << ini;
}

TEST_F(OptionDlgTest, ABadFieldIsNamedAndNothingIsWritten) {
  HWND d = Open();
  ASSERT_NE(d, nullptr);
  SetText(d, kOptOctet3, "256");
  Command(d, IDOK);
  EXPECT_TRUE(StillOpen(d));
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].caption, "Cautions");
  EXPECT_NE(fake.boxes()[0].text.find("octet 3"), std::string::npos);
  SetText(d, kOptOctet3, "2");
  SetText(d, kOptDay, "32");
  Command(d, IDOK);
  EXPECT_TRUE(StillOpen(d));
  EXPECT_NE(fake.boxes().back().text.find("Designated date"), std::string::npos);
  EXPECT_EQ(Ini(), "");

  Command(d, kOptCancel);
  EXPECT_FALSE(StillOpen(d));
  EXPECT_EQ(Ini(), "");
}

TEST_F(OptionDlgTest, SwitchingOnAllPacketAndHostNameShowsTheirNotices) {
  HWND d = Open();
  ASSERT_NE(d, nullptr);
  Click(d, kOptAllPacket);
  Click(d, kOptHostName);
  Click(d, kOptHostName);  // off again: no notice
  ASSERT_EQ(fake.boxes().size(), 2u);
  EXPECT_EQ(fake.boxes()[0].text, kOptionAllPacketNotice);
  EXPECT_EQ(fake.boxes()[1].text, kOptionHostNameNotice);
  EXPECT_TRUE(Checked(d, kOptAllPacket));
  EXPECT_FALSE(Checked(d, kOptHostName));
}

}  // namespace
}  // namespace qvx
