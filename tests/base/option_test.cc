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

TEST_F(OptionTest, AShellsDefaultsReplaceTheTablesAndTheIniStillWins) {
  QVX_SetIntDefault("AutoStart", 1);
  QVX_SetIntDefault("LogFileWriteFlg", 1);
  QVX_ReadOptionInfo(nullptr);
  EXPECT_EQ(OptionInfo.AutoStart, 1);
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 1);
  EXPECT_EQ(OptionInfo.LogFileChangeFlg, 0);
  // Written, a key wins; refused, it falls back to the shell's default, not the table's.
  fake.WriteText(Ini(), "[Option]\r\nAutoStart=0\r\nLogFileWriteFlg=x\r\n");
  QVX_ReadOptionInfo(nullptr);
  EXPECT_EQ(OptionInfo.AutoStart, 0);
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 1);
  EXPECT_EQ(QVX_IntDefault("AutoStart"), 1);
  QVX_SetIntDefault("AutoStart", 0);
  QVX_SetIntDefault("LogFileWriteFlg", 0);
  EXPECT_EQ(QVX_IntDefault("AutoStart"), 0);
}

TEST_F(OptionTest, TheIniNamedOnTheCommandLineIsReadAndWritten) {
  fake.WriteText(Ini(), "[Option]\r\nErrorLevel=2\r\n");
  const std::string other = fake.Path("other.ini");
  fake.WriteText(other, "[Option]\r\nErrorLevel=5\r\n");
  QVX_SetIniFilePath(other);
  QVX_ReadOptionInfo(nullptr);
  EXPECT_EQ(OptionInfo.ErrorLevel, 5);
  // The access log's default stays beside the program.
  EXPECT_EQ(std::string(OptionInfo.LogFilePath), fake.Path("Quorvix.log"));
  OptionInfo.ErrorLevel = 3;
  ASSERT_TRUE(QVX_WriteOptionKeys(OptionInfo));
  EXPECT_EQ(ProfileLookup(fake.Contents(other), "Option", "ErrorLevel"), "3");
  // Too long a name for the buffer is refused, never cut.
  char small[8];
  EXPECT_EQ(QVX_IniFileName(small, sizeof small), 0);
  QVX_SetIniFilePath("");
}

TEST_F(OptionTest, ValuesAreReadAndNonNumbersTakeTheDefault) {
  fake.WriteText(Ini(),
                 "[Option]\r\nErrorLevel=6\r\nRefleshTime=abc\r\nStartDown=1\r\n"
                 "IpAddress=10.1.2.3\r\nFilterCode=tcp port 445\r\n"
                 "LogFilePath=/srv/log/a.log\r\n");
  QVX_ReadOptionInfo(nullptr);
  EXPECT_EQ(OptionInfo.ErrorLevel, 6);
  EXPECT_EQ(OptionInfo.RefleshTime, 10);
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
  // The kernel log is started once per test: Windows keeps it open, and a second start would
  // leave the writes on the file it replaced.
  const std::string k = fake.Path("k.log");
  if (k != szLogfileName) {
    std::snprintf(szLogfileName, kLogPathSize, "%s", k.c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  }
  const size_t before = fake.Lines(szLogfileName).size();
  QVX_ReadOptionInfo(nullptr);
  auto lines = fake.Lines(szLogfileName);
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(before));
  return lines;
}

// The refusals among the kernel-log lines of a read.
std::vector<std::string> Refusals(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    if (l.find("QVX_E02-033") != std::string::npos) out.push_back(l);
  return out;
}

class OptionRangeTest : public OptionTest {
 protected:
  // Reads an ini of "key=value" alone (after any lines in before); the value the field ends with.
  int Read(const std::string& key, const std::string& value, int OptionInfoSt::*field,
           const std::string& before = "") {
    fake.WriteText(Ini(), "[Option]\r\n" + before + key + "=" + value + "\r\n");
    refusals = Refusals(KernelAfterRead(fake));
    return OptionInfo.*field;
  }
  // The value was taken as it is, and nothing said.
  void Taken(const std::string& key, int value, int OptionInfoSt::*field) {
    EXPECT_EQ(Read(key, std::to_string(value), field), value) << key << "=" << value;
    EXPECT_TRUE(refusals.empty()) << refusals.front();
  }
  // The value was refused, the kernel log names key, value and the one used instead.
  void Refused(const std::string& key, const std::string& value, int used, int OptionInfoSt::*field,
               const char* which = "(the default)") {
    EXPECT_EQ(Read(key, value, field), used) << key << "=" << value;
    ASSERT_EQ(refusals.size(), 1u) << key << "=" << value;
    EXPECT_NE(refusals[0].find(key + "=" + value + " "), std::string::npos) << refusals[0];
    EXPECT_NE(refusals[0].find(std::to_string(used) + " " + which), std::string::npos)
        << refusals[0];
  }
  std::vector<std::string> refusals;
};

TEST_F(OptionRangeTest, NumbersAreHeldToTheirRangesAtEitherEnd) {
  struct Case {
    const char* key;
    int OptionInfoSt::*field;
    int min, max, def;
    bool held_high;  // a size: a number above the maximum takes the maximum
  } cases[] = {
      {"LogFileWriteFlg", &OptionInfoSt::LogFileWriteFlg, 0, 1, 0, false},
      {"StartTask", &OptionInfoSt::StartTask, 0, 1, 1, false},
      {"SMBExtFlg", &OptionInfoSt::SMBExtFlg, 0, 1, 1, false},
      {"ErrorLevel", &OptionInfoSt::ErrorLevel, 0, 6, 0, false},
      {"RefleshTime", &OptionInfoSt::RefleshTime, 0, 9999, 10, false},
      {"LogFileSize", &OptionInfoSt::LogFileSize, 0, 9999999, 0, false},
      {"ServiceTaskWait", &OptionInfoSt::ServiceTaskWait, 0, 60000, 1000, false},
      {"LogFileChangeChkTime", &OptionInfoSt::LogFileChangeChkTime, 1, 86400, 600, false},
      {"LogFileSelect", &OptionInfoSt::LogFileSelect, 0, 2, 1, false},
      {"NbtstatChgTime", &OptionInfoSt::NbtstatChgTime, 1, 60000, 2500, false},
      {"MemperformanceSelect", &OptionInfoSt::MemperformanceSelect, 0, 2, 0, false},
      {"DriverSelectNo", &OptionInfoSt::DriverSelectNo, 0, 0, 0, false},
      {"SameAccNonLogLine", &OptionInfoSt::SameAccNonLogLine, 0, 1000000, 50, true},
  };
  for (const Case& c : cases) {
    Taken(c.key, c.min, c.field);
    Taken(c.key, c.max, c.field);
    Refused(c.key, std::to_string(c.min - 1), c.def, c.field);
    if (c.held_high)
      Refused(c.key, std::to_string(c.max + 1), c.max, c.field, "(the maximum)");
    else
      Refused(c.key, std::to_string(c.max + 1), c.def, c.field);
    Refused(c.key, "ten", c.def, c.field);
    Refused(c.key, "1x", c.def, c.field);  // read as 1 once: junk after a number is no number
  }
  // An empty value is a missing one: the default, quietly.
  EXPECT_EQ(Read("LogFileChangeChkTime", "", &OptionInfoSt::LogFileChangeChkTime), 600);
  EXPECT_TRUE(refusals.empty());
}

TEST_F(OptionRangeTest, SettingsWithValuesOfTheirOwn) {
  const auto reset = &OptionInfoSt::ResetTime;
  Taken("ResetTime", 0, reset);
  Taken("ResetTime", 23, reset);
  Taken("ResetTime", 99, reset);
  for (const char* v : {"24", "98", "100", "-1"}) Refused("ResetTime", v, 99, reset);
  Taken("ViewRefreshTime", 59, &OptionInfoSt::ViewRefreshTime);
  Refused("ViewRefreshTime", "60", 99, &OptionInfoSt::ViewRefreshTime);

  // Bytes: 0 is the connector's 64 MB; a few kilobytes at least, a gigabyte at most.
  const auto buffer = &OptionInfoSt::PacketBuffer;
  Taken("PacketBuffer", 0, buffer);
  Taken("PacketBuffer", 4096, buffer);
  Taken("PacketBuffer", 1073741824, buffer);
  for (const char* v : {"-1", "1", "4095", "64MB"}) Refused("PacketBuffer", v, 0, buffer);
  // Too large: the largest it may be, however large (never wrapped round to a small number).
  for (const char* v : {"1073741825", "2147483647", "4294967295", "4294971392"})
    Refused("PacketBuffer", v, 1073741824, buffer, "(the maximum)");

  // A day 0-31, plus 100 (month end) and/or 200 (month start).
  const auto day = &OptionInfoSt::LogChgDayFlg;
  for (int v : {0, 31, 100, 131, 200, 300, 331}) Taken("LogChgDayFlg", v, day);
  for (const char* v : {"32", "99", "132", "332", "-1"}) Refused("LogChgDayFlg", v, 0, day);

  // Weekday bits: 0x1 Sunday to 0x1000000 Saturday, in any sum; hexadecimal reads too.
  const auto week = &OptionInfoSt::LogChgYoubiFlg;
  Taken("LogChgYoubiFlg", 0x1111111, week);
  EXPECT_EQ(Read("LogChgYoubiFlg", "0x1000010", week), 0x1000010);
  EXPECT_TRUE(refusals.empty());
  for (const char* v : {"2", "0x1111112", "0x10000000", "-1"})
    Refused("LogChgYoubiFlg", v, 0, week);
}

TEST_F(OptionRangeTest, CapacitiesAreJudgedOnlyWhereTheyCount) {
  // Outside tier 2 the tier's own capacities apply: the values written are not looked at.
  const auto access = &OptionInfoSt::AccessDataCnt;
  EXPECT_EQ(Read("AccessDataCnt", "-5", access), 100000);
  EXPECT_TRUE(refusals.empty());
  EXPECT_EQ(Read("AccessDataCnt", "5000", access, "MemperformanceSelect=3\r\n"), 100000);
  ASSERT_EQ(refusals.size(), 1u);  // the tier, not the capacity
  EXPECT_NE(refusals[0].find("MemperformanceSelect=3 "), std::string::npos);

  const std::string tier2 = "MemperformanceSelect=2\r\n";
  EXPECT_EQ(Read("AccessDataCnt", "1", access, tier2), 1);
  EXPECT_EQ(Read("AccessDataCnt", "1000000", access, tier2), 1000000);
  EXPECT_TRUE(refusals.empty());
  EXPECT_EQ(Read("AccessDataCnt", "0", access, tier2), 300000);  // a table of no rows
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_NE(refusals[0].find("AccessDataCnt=0 "), std::string::npos);
  EXPECT_EQ(Read("AccessDataCnt", "1000001", access, tier2), 1000000);
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_NE(refusals[0].find("AccessDataCnt=1000001 "), std::string::npos);
  EXPECT_EQ(Read("SessionSetupCnt", "-3", &OptionInfoSt::SessionSetupCnt, tier2), 1024);
  EXPECT_EQ(refusals.size(), 1u);
}

TEST_F(OptionRangeTest, EveryRefusalIsToldOnceAndBoxedTogetherOnWindows) {
  fake.WriteText(Ini(), "[Option]\r\nPacketBuffer=-1\r\nIpAddress=1.2.3\r\nErrorLevel=3\r\n");
  auto refused = Refusals(KernelAfterRead(fake));
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(OptionInfo.ErrorLevel, 3);
#ifdef _WIN32
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_NE(fake.boxes()[0].text.find("PacketBuffer=-1 is refused"), std::string::npos);
  EXPECT_NE(fake.boxes()[0].text.find("IpAddress=1.2.3 is refused"), std::string::npos);
#else
  EXPECT_TRUE(fake.boxes().empty());              // the console has the lines
#endif
}

// The machine's address list, as the test sets it.
class AddressListPlatform : public PlatformWrapper {
 public:
  explicit AddressListPlatform(Platform* t) : PlatformWrapper(t) { previous_ = SetPlatform(this); }
  ~AddressListPlatform() override { SetPlatform(previous_); }
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override {
    *out = addresses;
    return AddressListResult::kOk;
  }
  std::vector<std::string> addresses;

 private:
  Platform* previous_;
};

TEST_F(OptionTest, AnAddressIsTakenOnlyWhenItIsOne) {
  AddressListPlatform machine(&fake);
  machine.addresses = {"10.213.0.9", "10.213.0.10"};
  auto ip = [&](const std::string& value) {
    fake.WriteText(Ini(), "[Option]\r\nIpAddress=" + value + "\r\n");
    return Refusals(KernelAfterRead(fake));
  };
  EXPECT_TRUE(ip("10.213.0.1").empty());
  EXPECT_STREQ(OptionInfo.IpAddress, "10.213.0.1");
  EXPECT_TRUE(ip("0.0.0.0").empty());
  EXPECT_STREQ(OptionInfo.IpAddress, "0.0.0.0");
  // Leading zeros are decimal; the address is kept as a frame's address is spelt, so that the
  // two compare equal.
  EXPECT_TRUE(ip("010.213.000.001").empty());
  EXPECT_STREQ(OptionInfo.IpAddress, "10.213.0.1");
  EXPECT_TRUE(ip("").empty());
  EXPECT_STREQ(OptionInfo.IpAddress, "0.0.0.0");
  for (const char* bad : {"not-an-address", "266.72.0.257", "1.2.3", "1.2.3.4.5", "-1.2.3.4"}) {
    auto refused = ip(bad);
    EXPECT_STREQ(OptionInfo.IpAddress, "0.0.0.0") << bad;
    ASSERT_EQ(refused.size(), 1u) << bad;
    EXPECT_NE(refused[0].find(std::string("IpAddress=") + bad + " "), std::string::npos)
        << refused[0];
    // 0.0.0.0 stands in, and start-up replaces it by the machine's first address: the refusal
    // names that one.
    EXPECT_NE(refused[0].find("。10.213.0.9 (for 0.0.0.0: the machine's first address"),
              std::string::npos)
        << refused[0];
  }
  // No address to stand for 0.0.0.0: it is what is used.
  machine.addresses.clear();
  auto refused = ip("not-an-address");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("。0.0.0.0 (no address"), std::string::npos) << refused[0];
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
