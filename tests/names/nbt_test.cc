#include "names/nbt.h"

#include <gtest/gtest.h>

#include <string>
#ifndef _WIN32
#include <chrono>  // the runner tests; <chrono> does not build with the CP932 execution set
#include <filesystem>
#include <thread>
#endif

#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

// What the name-query command prints, in both forms: the client column at the same place.
const char kTableNames[] =
    "    QVXSRV          Connected   In     PCWORK7-LONG    <20>\r\n"
    "    QVXSRV          Connected   In     PCWORK7         <20>\r\n";
const char kTableAddrs[] =
    "    QVXSRV          Connected   In     10.214.0.3      <20>\r\n"
    "    QVXSRV          Connected   In     10.214.0.2      <20>\r\n";

class NbtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    fake.SetChildScript([this](const std::string& cmd, ChildResult* r) {
      r->started = r->finished = true;
      r->exit_code = 0;
      if (cmd.size() >= 3 && cmd.compare(cmd.size() - 3, 3, " -s") == 0) r->output = names;
      if (cmd.size() >= 3 && cmd.compare(cmd.size() - 3, 3, " -S") == 0) r->output = addrs;
      return true;
    });
  }
  std::string Resolve(const char* name, int* rc = nullptr) {
    char addr[32] = "";
    int r = NameFromSessionTable(name, addr, sizeof addr);
    if (rc) *rc = r;
    return r == kNameQueryOk ? std::string(addr) : std::string("<unresolved>");
  }
  std::string Cached(const char* name) {
    char addr[16];
    return NbtCacheFindByName(name, addr, sizeof addr) ? std::string(addr) : "<none>";
  }
  test::FakePlatform fake;
  std::string names = kTableNames, addrs = kTableAddrs;
};

TEST_F(NbtTest, AddressIsReadWhereTheNameStoodAndCached) {
  EXPECT_EQ(Resolve("PCWORK7-LONG"), "10.214.0.3");
  EXPECT_EQ(Cached("PCWORK7-LONG"), "10.214.0.3");
  ASSERT_EQ(fake.child_runs().size(), 2u);
  EXPECT_EQ(fake.child_runs()[0], std::string(OptionInfo.NbtstatChgCmd) + " -s");
  EXPECT_EQ(fake.child_runs()[1], std::string(OptionInfo.NbtstatChgCmd) + " -S");
}

TEST_F(NbtTest, NamesMatchWholeColumnsOnly) {
  // PCWORK7 first appears inside PCWORK7-LONG's column; its own column is on the next line.
  EXPECT_EQ(Resolve("PCWORK7"), "10.214.0.2");
  EXPECT_EQ(Resolve("WORK7"), "<unresolved>");  // a part of a column is no name
  EXPECT_EQ(Cached("WORK7"), "<none>");
  // PC1 after PC10, at the end of the output; columns that end in a tab.
  names = "PC10        y\r\nPC1";
  addrs = "10.214.0.10 y\r\n10.214.0.9\t";
  EXPECT_EQ(Resolve("PC1"), "10.214.0.9");
  EXPECT_EQ(Resolve("PC10"), "10.214.0.10");
}

TEST_F(NbtTest, OnlyAnAddressIsAcceptedAndCached) {
  int rc;
  // The name's column holds no address in the second table: the server column, text, a number.
  EXPECT_EQ(Resolve("QVXSRV", &rc), "<unresolved>");
  EXPECT_EQ(rc, kNameQueryNoMatch);
  EXPECT_EQ(Cached("QVXSRV"), "<none>");
  names = "A B C";
  addrs = "10.214.0.7.1 10.2 x";
  EXPECT_EQ(Resolve("A"), "<unresolved>");
  EXPECT_EQ(Resolve("B"), "<unresolved>");
  // The second table moved by one character: the column no longer starts there.
  names = "  PCX  ";
  addrs = "   10.214.0.4  ";
  EXPECT_EQ(Resolve("PCX"), "<unresolved>");
  EXPECT_EQ(NbtSessionTableCnt, 0);
}

TEST_F(NbtTest, FailuresLeaveTheNameUnresolved) {
  int rc;
  EXPECT_EQ(Resolve("NOSUCH", &rc), "<unresolved>");
  EXPECT_EQ(rc, kNameQueryNoMatch);
  addrs = "short";
  EXPECT_EQ(Resolve("PCWORK7-LONG", &rc), "<unresolved>");  // offset past the output
  EXPECT_EQ(rc, kNameQueryNoMatch);
  addrs = std::string(kTableAddrs).substr(0, 45);  // the address runs to the end, no blank
  EXPECT_EQ(Resolve("PCWORK7-LONG", &rc), "<unresolved>");
  EXPECT_EQ(Cached("PCWORK7-LONG"), "<none>");
  fake.SetChildScript([](const std::string&, ChildResult* r) { return false; });
  EXPECT_EQ(Resolve("PCWORK7", &rc), "<unresolved>");
  EXPECT_EQ(rc, kNameQueryRunFailed);
}

TEST_F(NbtTest, CacheWrapsAtNetWkInfoCnt) {
  OptionInfo.NetWkInfoCnt = 3;
  NbtCacheInsert("A", "10.0.0.1");
  NbtCacheInsert("B", "10.0.0.2");
  NbtCacheInsert("C", "10.0.0.3");
  EXPECT_EQ(Cached("C"), "10.0.0.3");
  NbtCacheInsert("D", "10.0.0.4");  // back to index 0
  EXPECT_EQ(NbtSessionTableCnt, 1);
  EXPECT_STREQ(NbtSessionTable[0].ComputerName, "D");
  EXPECT_EQ(Cached("D"), "10.0.0.4");
  EXPECT_EQ(Cached("B"), "<none>");  // entries before the wrap are no longer seen
  char name[16];
  EXPECT_FALSE(NbtCacheFindByAddr("10.0.0.3", name, sizeof name));
  EXPECT_TRUE(NbtCacheFindByAddr("10.0.0.4", name, sizeof name));

  // A capacity above 512 wraps at 512.
  NbtReset();
  OptionInfo.NetWkInfoCnt = 4000;
  for (int i = 0; i < 513; ++i) NbtCacheInsert("N", "10.0.0.1");
  EXPECT_EQ(NbtSessionTableCnt, 1);
}

TEST_F(NbtTest, ErrorListStores511NamesAndReportsThe512th) {
  char name[16];
  for (int i = 0; i < 511; ++i) {
    std::snprintf(name, sizeof name, "PC%d", i);
    ComputerNameErrListAppend(name);
  }
  EXPECT_EQ(ComputerNameErrListCnt, 511);
  EXPECT_TRUE(ComputerNameErrListContains("PC510"));
  ComputerNameErrListAppend("PC511");
  EXPECT_EQ(ComputerNameErrListCnt, 511);
  EXPECT_FALSE(ComputerNameErrListContains("PC511"));
  ComputerNameErrListAppend("A-NAME-LONGER-THAN-15");
  EXPECT_FALSE(ComputerNameErrListContains("A-NAME-LONGER-T"));
}

// ---- the runner, with real child processes ----

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    fake.UseRealChildren();
    // The kernel log of the fake's folder, so the runner's reports can be read back.
    std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("kernel.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  }
  std::string Kernel() { return fake.Contents(szLogfileName); }
  test::FakePlatform fake;
};

#ifdef _WIN32
const char kSilent[] = "cmd /c exit 0";

TEST_F(RunnerTest, AChildThatPrintsOneMegabyteCompletes) {
  std::string big = fake.Path("big.txt");
  fake.WriteText(big, std::string(1 << 20, 'x'));
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 0;
  std::string cmd = "cmd /c type \"" + big + "\"";
  // A runner that read only at the end would have hit the time limit.
  EXPECT_EQ(GetCUIAppMsg(cmd.c_str(), buf.data(), buf.size(), 1, 1, 20000, &len, ""), 1);
  EXPECT_EQ(len, kNbtOutputSize - 1);
  EXPECT_EQ(buf[0], 'x');
}

TEST_F(RunnerTest, AChildPastItsTimeLimitIsEndedAndReported) {
  std::string marker = fake.Path("late.txt");
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 7;
  std::string cmd = "cmd /c \"ping -n 3 127.0.0.1 > nul & echo late > \"" + marker + "\"\"";
  EXPECT_EQ(GetCUIAppMsg(cmd.c_str(), buf.data(), buf.size(), 1, 1, 300, &len, ""), 0);
  EXPECT_EQ(len, 0u);
  EXPECT_NE(Kernel().find("QVX_E65-006 GetCUIAppMsg"), std::string::npos);
  NativePlatform().SleepMs(4000);
  EXPECT_FALSE(NativePlatform().FileExists(marker)) << "the child ran on after its time limit";
}
#else
const char kSilent[] = "true";
TEST_F(RunnerTest, AChildThatPrintsOneMegabyteCompletes) {
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 0;
  int rc = GetCUIAppMsg("sh -c \"yes x | head -c 1048576; echo end >&2\"", buf.data(), buf.size(),
                        1, 1, 5000, &len, "");
  EXPECT_EQ(rc, 1);  // a runner that read only at the end would have hit the time limit
  EXPECT_EQ(len, kNbtOutputSize - 1);  // the buffer's worth, the rest drained
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(buf[kNbtOutputSize - 1], '\0');
}

TEST_F(RunnerTest, AChildPastItsTimeLimitIsEndedAndReported) {
  std::string marker = fake.Path("late");
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 7;
  std::string cmd = "sh -c \"sleep 1; touch " + marker + "\"";
  EXPECT_EQ(GetCUIAppMsg(cmd.c_str(), buf.data(), buf.size(), 1, 1, 200, &len, ""), 0);
  EXPECT_EQ(len, 0u);
  EXPECT_NE(Kernel().find("QVX_E65-006 GetCUIAppMsg"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(std::filesystem::exists(marker)) << "the child ran on after its time limit";
}

TEST_F(RunnerTest, StandardErrorIsCollectedOnlyWhenAsked) {
  std::vector<char> buf(kNbtOutputSize);
  unsigned long len = 0;
  const char* cmd = "sh -c \"echo out; echo err >&2\"";
  ASSERT_EQ(GetCUIAppMsg(cmd, buf.data(), buf.size(), 1, 1, 3000, &len, ""), 1);
  EXPECT_EQ(std::string(buf.data(), len).find("err") != std::string::npos, true);
  ASSERT_EQ(GetCUIAppMsg(cmd, buf.data(), buf.size(), 1, 0, 3000, &len, ""), 1);
  EXPECT_EQ(std::string(buf.data(), len), "out\n");
}

#endif  // _WIN32

TEST_F(RunnerTest, AMissingCommandFailsTheStartUpCheck) {
  OptionInfo.NbtstatChgOn = 1;
  std::snprintf(OptionInfo.NbtstatChgCmd, sizeof OptionInfo.NbtstatChgCmd, "NoSuchNameQuery");
  EXPECT_FALSE(QVX_NbtstatCommandCheck(nullptr));
  std::string k = Kernel();
  EXPECT_NE(k.find("QVX_I02-007 QVX_Dlg_Proc"), std::string::npos);
  EXPECT_NE(k.find("QVX_E02-008 QVX_Dlg_Proc"), std::string::npos);
  EXPECT_NE(k.find("NBTSTAT COMMAND CHK NG (NoSuchNameQuery)"), std::string::npos);
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "Starting of a NBTSTAT command went wrong.");
  EXPECT_EQ(OptionInfo.NbtstatChgOn, 1);  // stays on

  // Every later resolution of an uncached name fails without a second run.
  char addr[32];
  size_t runs = fake.child_runs().size();
  EXPECT_EQ(NameFromSessionTable("PCWORK7", addr, sizeof addr), kNameQueryRunFailed);
  EXPECT_EQ(fake.child_runs().size(), runs + 1);

  std::snprintf(OptionInfo.NbtstatChgCmd, sizeof OptionInfo.NbtstatChgCmd, "%s", kSilent);
  EXPECT_TRUE(QVX_NbtstatCommandCheck(nullptr));
  EXPECT_NE(Kernel().find(std::string("NBTSTAT COMMAND CHK OK (") + kSilent + ")"),
            std::string::npos);
}

}  // namespace
}  // namespace qvx
