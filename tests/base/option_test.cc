#include "base/option.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "base/dbglog.h"
#include "platform/profile.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

class OptionTest : public ::testing::Test {
 protected:
  std::string Ini() { return fake.Path("Quorvix.ini"); }
  std::optional<std::string> Key(const std::string& k) {
    return ProfileLookup(fake.Contents(Ini()), "Option", k);
  }
  test::FakePlatform fake;
};

TEST_F(OptionTest, NoIniFileGivesEveryDefaultAndTheNormalTier) {
  QVX_ReadOptionInfo(nullptr);
  const OptionInfoSt& o = OptionInfo;
  EXPECT_STREQ(o.IpAddress, "0.0.0.0");
  EXPECT_EQ(std::string(o.LogFilePath), fake.Path("Quorvix.log"));
  EXPECT_STREQ(o.FilterCode, "tcp");
#ifdef _WIN32
  EXPECT_STREQ(o.NbtstatChgCmd, "NetNameQuery.exe");
#else
  EXPECT_STREQ(o.NbtstatChgCmd, "NetNameQuery");  // installed beside quorvix
#endif
  EXPECT_STREQ(o.PcapDevNamae, "");
  EXPECT_EQ(o.StartTask, 1);
  EXPECT_EQ(o.SMB, 1);
  EXPECT_EQ(o.API, 1);
  EXPECT_EQ(o.RefleshTime, 10);
  EXPECT_EQ(o.SameAccNonLogFlg, 1);
  EXPECT_EQ(o.SameAccNonLogLine, 50);
  EXPECT_EQ(o.ServiceTaskWait, 1000);
  EXPECT_EQ(o.LogFileChangeChkTime, 600);
  EXPECT_EQ(o.LogFileSelect, 1);
  EXPECT_EQ(o.ResetTime, 99);
  EXPECT_EQ(o.ViewRefreshTime, 99);
  EXPECT_EQ(o.NbtstatChgOn, 1);
  EXPECT_EQ(o.NbtstatChgTime, 2500);
  EXPECT_EQ(o.smb1_com_transaction2_off, 0);
  EXPECT_EQ(o.smb1_com_write_andx_off, 1);
  EXPECT_EQ(o.smb1_com_read_andx_off, 1);
  EXPECT_EQ(o.SMBcmdListFlg, 0);
  EXPECT_EQ(o.SMBExtFlg, 1);
  EXPECT_EQ(o.HostNameChg, 1);
  EXPECT_EQ(o.SessionSetupCnt, 128);
  EXPECT_EQ(o.TreeConnectCnt, 1280);
  EXPECT_EQ(o.NetWkInfoCnt, 128);
  EXPECT_EQ(o.AccessDataCnt, 100000);
  EXPECT_EQ(o.TrayIconFlg, 0);
  EXPECT_TRUE(fake.boxes().empty());  // a missing file is no error
}

TEST_F(OptionTest, ValuesAreReadAndNonNumbersGiveZero) {
  fake.WriteText(Ini(),
                 "[Option]\r\nErrorLevel=6\r\nRefleshTime=abc\r\nStartDown=1\r\n"
                 "IpAddress=10.1.2.3\r\nFilterCode=tcp port 445\r\n"
                 "LogFilePath=/srv/log/a.log\r\n");
  QVX_ReadOptionInfo(nullptr);
  EXPECT_EQ(OptionInfo.ErrorLevel, 6);
  EXPECT_EQ(OptionInfo.RefleshTime, 0);
  EXPECT_EQ(OptionInfo.TrayIconFlg, 1);  // starts as StartDown
  EXPECT_STREQ(OptionInfo.IpAddress, "10.1.2.3");
  EXPECT_STREQ(OptionInfo.FilterCode, "tcp port 445");
  EXPECT_STREQ(OptionInfo.LogFilePath, "/srv/log/a.log");
}

TEST_F(OptionTest, MemoryTiers) {
  struct Case {
    const char* ini;
    int sessions, trees, netwk, access;
  } cases[] = {
      {"MemperformanceSelect=1\r\n", 512, 5120, 256, 150000},
      {"MemperformanceSelect=2\r\nAccessDataCnt=5000\r\n", 1024, 10240, 512, 5000},
      {"MemperformanceSelect=2\r\nSessionSetupCnt=0\r\nTreeConnectCnt=-3\r\n", 1024, 10240, 512,
       300000},
      {"MemperformanceSelect=7\r\nAccessDataCnt=5000\r\n", 128, 1280, 128, 100000},
      // Past the maxima: held there, the largest int included.
      {"MemperformanceSelect=2\r\nSessionSetupCnt=16385\r\nTreeConnectCnt=2147483647\r\n"
       "NetWkInfoCnt=100000\r\nAccessDataCnt=2147483647\r\n",
       16384, 163840, 8192, 1000000},
      {"MemperformanceSelect=2\r\nSessionSetupCnt=16384\r\nAccessDataCnt=1000000\r\n", 16384, 10240,
       512, 1000000},
  };
  for (const Case& c : cases) {
    fake.WriteText(Ini(), std::string("[Option]\r\n") + c.ini);
    QVX_ReadOptionInfo(nullptr);
    EXPECT_EQ(OptionInfo.SessionSetupCnt, c.sessions) << c.ini;
    EXPECT_EQ(OptionInfo.TreeConnectCnt, c.trees) << c.ini;
    EXPECT_EQ(OptionInfo.NetWkInfoCnt, c.netwk) << c.ini;
    EXPECT_EQ(OptionInfo.AccessDataCnt, c.access) << c.ini;
  }
}

// The kernel-log lines a read of the ini writes.
std::vector<std::string> KernelAfterRead(test::FakePlatform& fake) {
  std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  const size_t before = fake.Lines(szLogfileName).size();
  QVX_ReadOptionInfo(nullptr);
  auto lines = fake.Lines(szLogfileName);
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(before));
  return lines;
}

TEST_F(OptionTest, AnIniWithoutTheOptionSectionIsReported) {
  // Keys without their section, as a user might write them: every default applies, and the
  // kernel log says why.
  fake.WriteText(Ini(), "LogFileWriteFlg=1\r\nErrorLevel=3\r\n[Options]\r\n");
  auto lines = KernelAfterRead(fake);
  EXPECT_EQ(OptionInfo.ErrorLevel, 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("QVX_E02-032"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(Ini()), std::string::npos) << lines[0];
  // "[option ]" is the section (names are trimmed and compared without case): nothing to say.
  fake.WriteText(Ini(), "[option ]\r\nErrorLevel=3\r\n");
  lines = KernelAfterRead(fake);
  EXPECT_EQ(OptionInfo.ErrorLevel, 3);
  EXPECT_TRUE(lines.empty());
  // No ini at all is the normal first start: nothing to say either.
  ASSERT_EQ(std::remove(Ini().c_str()), 0);
  EXPECT_TRUE(KernelAfterRead(fake).empty());
}

TEST_F(OptionTest, AnIniWithAByteOrderMarkOrCrLineEndsIsRead) {
  for (const char* text : {"\xEF\xBB\xBF[Option]\r\nLogFileWriteFlg=1\r\nErrorLevel=3\r\n",
                           "[Option]\rLogFileWriteFlg=1\rErrorLevel=3\r"}) {
    fake.WriteText(Ini(), text);
    auto lines = KernelAfterRead(fake);
    EXPECT_EQ(OptionInfo.LogFileWriteFlg, 1) << text;
    EXPECT_EQ(OptionInfo.ErrorLevel, 3) << text;
    EXPECT_TRUE(lines.empty()) << lines.front();
  }
}

TEST_F(OptionTest, UnbuildableIniPathRunsOnDefaultsWithBothMessages) {
  const std::string kernel = fake.Path(std::string("k") + kPathSep + "k.log");
  ASSERT_TRUE(platform().MakeSureDirectoryPathExists(kernel));
  std::snprintf(szLogfileName, kLogPathSize, "%s", kernel.c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  fake.SetExecutablePath("");
  QVX_ReadOptionInfo(nullptr);
  EXPECT_EQ(OptionInfo.RefleshTime, 10);
  EXPECT_EQ(std::string(OptionInfo.LogFilePath),
            platform().SystemDirectory() + kPathSep + "Quorvix.log");
  ASSERT_EQ(fake.boxes().size(), 2u);
  EXPECT_EQ(fake.boxes()[0].text, "Path acquisition went wrong.");
  EXPECT_EQ(fake.boxes()[1].text,
            "Reading of a ini file went wrong.\r\nIt starts by initial setting.");
  auto lines = fake.Lines(szLogfileName);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("QVX_E02-001"), std::string::npos);
  EXPECT_NE(lines[2].find("QVX_E02-002"), std::string::npos);
}

TEST_F(OptionTest, ReNewWritesThe32DefaultKeysAndLeavesTheRest) {
  fake.WriteText(Ini(),
                 "[Option]\r\nResetTime=3\r\nViewRefreshTime=30\r\nNbtstatChgOn=0\r\n"
                 "NbtstatChgTime=100\r\nNbtstatChgCmd=x.exe\r\nSMBExtFlg=0\r\nVipFlg=1\r\n"
                 "AccessDataCnt=5000\r\nErrorLevel=6\r\nIpAddress=10.9.9.9\r\n");
  QVX_ReNewIniFile(nullptr, "/var/q/Quorvix.log");
  std::string text = fake.Contents(Ini());
  int keys = 0;
  for (size_t p = text.find('='); p != std::string::npos; p = text.find('=', p + 1)) ++keys;
  EXPECT_EQ(keys, 32 + 8);  // the 32 reset keys plus the 8 it does not touch
  EXPECT_EQ(Key("ErrorLevel"), "0");
  EXPECT_EQ(Key("IpAddress"), "0.0.0.0");
  EXPECT_EQ(Key("LogFilePath"), "/var/q/Quorvix.log");
  EXPECT_EQ(Key("PcapDevNamae"), "");
  EXPECT_EQ(Key("FilterCode"), "tcp");
  EXPECT_EQ(Key("LogFileChangeChkTime"), "600");
  EXPECT_EQ(Key("ServiceTaskWait"), "1000");
  EXPECT_EQ(Key("SMBcmdListFlg"), "0");
  EXPECT_EQ(Key("ResetTime"), "3");
  EXPECT_EQ(Key("ViewRefreshTime"), "30");
  EXPECT_EQ(Key("NbtstatChgCmd"), "x.exe");
  EXPECT_EQ(Key("SMBExtFlg"), "0");
  EXPECT_EQ(Key("VipFlg"), "1");
  EXPECT_EQ(Key("AccessDataCnt"), "5000");
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "Changes become effective after a reboot.");
}

TEST_F(OptionTest, OptionsDialogWritesIts27Keys) {
  OptionSetDefaults(&OptionInfo);
  OptionInfo.ErrorLevel = 3;
  OptionInfo.MemperformanceSelect = 1;
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "10.0.0.5");
  std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "/l/Quorvix.log");
  ASSERT_TRUE(QVX_WriteOptionKeys(OptionInfo));
  std::string text = fake.Contents(Ini());
  int keys = 0;
  for (size_t p = text.find('='); p != std::string::npos; p = text.find('=', p + 1)) ++keys;
  EXPECT_EQ(keys, 27);
  EXPECT_EQ(Key("ErrorLevel"), "3");
  EXPECT_EQ(Key("MemperformanceSelect"), "1");
  EXPECT_EQ(Key("IpAddress"), "10.0.0.5");
  EXPECT_EQ(Key("LogFilePath"), "/l/Quorvix.log");
  EXPECT_EQ(Key("ResetTime"), "99");
  EXPECT_FALSE(Key("AccessDataCnt").has_value());
}

}  // namespace
}  // namespace qvx
