#include "serverinfo/server_info.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/dbglog.h"
#include "base/option.h"
#include "names/hosts.h"
#include "names/nbt.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

ServerSession Session(const std::string& client, const std::string& user) {
  ServerSession s;
  s.client = client;
  s.user = user;
  return s;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    std::string hosts = fake.Path("QVX_Hosts.hst");
    fake.WriteText(hosts, "TBLPC,10.1.0.1\n");
    ASSERT_EQ(QVX_HostsRead(nullptr, hosts.c_str()), 0);
    // The name-query command knows CMDPC; the resolver knows DNSPC.
    fake.SetChildScript([this](const std::string& cmd, ChildResult* r) {
      ++command_runs;
      r->started = r->finished = true;
      bool addrs = cmd.compare(cmd.size() - 3, 3, " -S") == 0;
      r->output = addrs ? "  10.2.0.2  x\r\n" : "  CMDPC     x\r\n";
      return true;
    });
    fake.SetHosts({{"DNSPC", "10.3.0.3"}, {"TBLPC", "10.3.9.9"}, {"CMDPC", "10.3.8.8"}});
  }
  // One session of the given client through the whole enumeration; its resolved cname.
  std::string Resolve(const std::string& client) {
    fake.SetSessions({Session(client, "alice")});
    NetWkSessionInfoStSt rec[2];
    EXPECT_EQ(QVX_NetSession_NT(rec, 2, nullptr, nullptr, nullptr), 1);
    EXPECT_STREQ(rec[0].sesi502_username, "alice");
    return rec[0].sesi502_cname;
  }
  test::FakePlatform fake;
  int command_runs = 0;
};

TEST_F(SessionTest, HostTableWinsInEveryCombinationOfTheOtherOptions) {
  for (int nbt = 0; nbt <= 1; ++nbt)
    for (int chg = 0; chg <= 1; ++chg) {
      OptionInfo.NbtstatChgOn = nbt;
      OptionInfo.HostNameChg = chg;
      OptionInfo.QVXHosts = 1;
      ComputerNameErrListAppend("TBLPC");  // even a listed failure does not stop the table
      EXPECT_EQ(Resolve("TBLPC"), "10.1.0.1") << "nbt " << nbt << " chg " << chg;
    }
  EXPECT_EQ(command_runs, 0);
  EXPECT_EQ(fake.host_lookups(), 0);
}

TEST_F(SessionTest, AnAddressIsKeptAsItIs) {
  for (int hosts = 0; hosts <= 1; ++hosts) {
    OptionInfo.QVXHosts = hosts;
    EXPECT_EQ(Resolve("10.7.7.7"), "10.7.7.7");
  }
  EXPECT_EQ(command_runs, 0);
}

TEST_F(SessionTest, AKnownFailureIsNotTriedAgainWhileHostNameChgIsOn) {
  OptionInfo.QVXHosts = 0;
  ComputerNameErrListAppend("CMDPC");
  EXPECT_EQ(Resolve("CMDPC"), kSessionNotFound);
  EXPECT_EQ(command_runs, 0);
  EXPECT_EQ(ComputerNameErrListCnt, 1);  // not listed twice
  OptionInfo.HostNameChg = 0;
  EXPECT_EQ(Resolve("CMDPC"), "10.2.0.2");
  EXPECT_EQ(command_runs, 2);
}

TEST_F(SessionTest, CacheThenCommandWhenNbtstatChgOnIsOn) {
  OptionInfo.QVXHosts = 0;
  OptionInfo.NbtstatChgOn = 1;
  NbtCacheInsert("CACHEDPC", "10.4.0.4");
  EXPECT_EQ(Resolve("CACHEDPC"), "10.4.0.4");
  EXPECT_EQ(command_runs, 0);
  EXPECT_EQ(Resolve("CMDPC"), "10.2.0.2");
  EXPECT_EQ(command_runs, 2);
  EXPECT_EQ(Resolve("CMDPC"), "10.2.0.2");  // now from the cache
  EXPECT_EQ(command_runs, 2);
  // The resolver is not asked while the command is in use: DNSPC fails and is listed.
  EXPECT_EQ(Resolve("DNSPC"), kSessionNotFound);
  EXPECT_EQ(fake.host_lookups(), 0);
  EXPECT_TRUE(ComputerNameErrListContains("DNSPC"));
}

TEST_F(SessionTest, ResolverWhenNbtstatChgOnIsOff) {
  OptionInfo.QVXHosts = 0;
  OptionInfo.NbtstatChgOn = 0;
  NbtCacheInsert("DNSPC", "10.4.0.4");  // the cache is not consulted
  EXPECT_EQ(Resolve("DNSPC"), "10.3.0.3");
  EXPECT_EQ(Resolve("UNKNOWNPC"), kSessionNotFound);
  EXPECT_TRUE(ComputerNameErrListContains("UNKNOWNPC"));
  EXPECT_EQ(command_runs, 0);
}

TEST_F(SessionTest, EmptyUserNamesTakeNoRecordAndCapacityIsHonoured) {
  fake.SetSessions({Session("10.0.0.1", ""), Session("10.0.0.2", "bob"), Session("10.0.0.3", ""),
                    Session("10.0.0.4", "carol"), Session("10.0.0.5", "dave")});
  NetWkSessionInfoStSt rec[3];
  ASSERT_EQ(QVX_NetSession_NT(rec, 2, nullptr, nullptr, nullptr), 2);
  EXPECT_STREQ(rec[0].sesi502_cname, "10.0.0.2");
  EXPECT_STREQ(rec[1].sesi502_username, "carol");
}

TEST_F(SessionTest, AFailedEnumerationGivesTheLastGoodListAndSaysSoOnce) {
  std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  QVX_NetSessionForget();
  NetWkSessionInfoStSt rec[3];
  // Nothing read yet: a failure gives no records, and nobody is known.
  fake.SetSessionsFail(true);
  EXPECT_EQ(QVX_NetSession_NT(rec, 3, nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(QVX_NetSessionKnown());
  fake.SetSessionsFail(false);
  fake.SetSessions({Session("10.0.0.2", "bob"), Session("10.0.0.4", "carol")});
  ASSERT_EQ(QVX_NetSession_NT(rec, 3, nullptr, nullptr, nullptr), 2);
  EXPECT_TRUE(QVX_NetSessionKnown());
  // The server's list cannot be read (smbstatus fails or times out): the last one stands.
  fake.SetSessionsFail(true);
  for (int i = 0; i < 3; ++i) {
    std::memset(rec, 0x7F, sizeof rec);
    ASSERT_EQ(QVX_NetSession_NT(rec, 3, nullptr, nullptr, nullptr), 2);
    EXPECT_STREQ(rec[0].sesi502_cname, "10.0.0.2");
    EXPECT_STREQ(rec[1].sesi502_username, "carol");
    EXPECT_EQ(rec[2].sesi502_cname[0], '\0');
  }
  EXPECT_EQ(QVX_NetSession_NT(rec, 1, nullptr, nullptr, nullptr), 1);  // within the capacity
  // Back again: the new list replaces it; failure and return are each written once.
  fake.SetSessionsFail(false);
  fake.SetSessions({Session("10.0.0.4", "carol")});
  ASSERT_EQ(QVX_NetSession_NT(rec, 3, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(rec[0].sesi502_username, "carol");
  const std::string k = fake.Contents(szLogfileName);
  size_t failures = 0;
  for (size_t at = k.find("QVX_E09-016"); at != std::string::npos;
       at = k.find("QVX_E09-016", at + 1))
    ++failures;
  EXPECT_EQ(failures, 2u);  // once before any list, once after the good one
  EXPECT_NE(k.find("QVX_I09-016"), std::string::npos);
  QVX_NetSessionForget();
  EXPECT_FALSE(QVX_NetSessionKnown());
}

TEST_F(SessionTest, AFirstListOnItsWayIsNoFailure) {
  std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  NetWkSessionInfoStSt rec[2] = {};
  QVX_NetSessionForget();
  // smbstatus has not answered yet: nobody is known, and nothing is reported as failing.
  fake.SetSessionsFail(true);
  fake.SetSessionsPending(true);
  EXPECT_EQ(QVX_NetSession_NT(rec, 2, nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(QVX_NetSessionKnown());
  EXPECT_EQ(fake.Contents(szLogfileName).find("QVX_E09-016"), std::string::npos);
  // It fails for real: said then.
  fake.SetSessionsPending(false);
  EXPECT_EQ(QVX_NetSession_NT(rec, 2, nullptr, nullptr, nullptr), 0);
  EXPECT_NE(fake.Contents(szLogfileName).find("QVX_E09-016"), std::string::npos);
  QVX_NetSessionForget();
}

// Shares s0, s1, ... in /srv/s0, /srv/s1, ...
std::vector<ServerShare> Shares(int n) {
  std::vector<ServerShare> shares(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    shares[i].name = "s" + std::to_string(i);
    shares[i].path = "/srv/s" + std::to_string(i);
  }
  return shares;
}

TEST(ShareTest, MoreSharesThanTheCapacityGiveExactlyTheCapacity) {
  test::FakePlatform fake;
  std::vector<ServerShare> shares = Shares(5);
  shares[1].path = std::string(700, 'p');  // cut to the field
  fake.SetShares(shares);
  NetWkShareInfoSt rec[4] = {};
  EXPECT_EQ(QVX_NetShare_NT(rec, 3, nullptr), 3);
  EXPECT_STREQ(rec[2].netname, "s2");
  EXPECT_EQ(std::string(rec[1].path), std::string(511, 'p'));
  EXPECT_EQ(rec[3].netname[0], '\0');
}

TEST(ShareTest, ARefreshedListHoldsOnlyTheSharesOfTheLatestRead) {
  test::FakePlatform fake;
  const std::vector<ServerShare> shares = Shares(3);
  fake.SetShares(shares);
  NetWkShareInfoSt rows[3] = {}, scratch[3] = {};
  ShareList list;
  list.rows = rows;
  list.scratch = scratch;
  list.capacity = 2;
  list.Refresh();
  EXPECT_EQ(list.count, 2);
  EXPECT_STREQ(rows[1].netname, "s1");
  EXPECT_EQ(rows[2].netname[0], '\0');  // past the capacity: untouched
  // A share removed on the server leaves no record behind.
  fake.SetShares({shares[2]});
  list.Refresh();
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.Valid(), 1);
  EXPECT_STREQ(rows[0].netname, "s2");
  EXPECT_EQ(rows[1].netname[0], '\0');
  EXPECT_EQ(rows[1].path[0], '\0');
  // The last share gone: nothing is left.
  fake.SetShares({});
  list.Refresh();
  EXPECT_EQ(list.Valid(), 0);
  EXPECT_EQ(rows[0].netname[0], '\0');
}

// ---- file information ----

class FileInfoTest : public ::testing::Test {
 protected:
  void SetUp() { OptionSetDefaults(&OptionInfo); }
  void File(int64_t created, int64_t written) {
    FileInfo fi;
    fi.creation = created;
    fi.last_write = written;
    fi.last_access = written + 1;
    fake.SetFileInfo("/srv/f", fi);
  }
  int Class(time_t* stamp = nullptr) {
    time_t t = -1;
    int rc = FileNotifyInfo("/srv/f", kRef, &t, 0);
    if (stamp) *stamp = t;
    return rc;
  }
  static constexpr time_t kRef = 1800000000;
  test::FakePlatform fake;
};

TEST_F(FileInfoTest, TimeClasses) {
  time_t t;
  File(kRef - 30, kRef - 30);  // created 30 s before, never written again
  EXPECT_EQ(Class(&t), kTimeCreated);
  EXPECT_EQ(t, kRef - 30);
  File(kRef - 41, kRef + 5);  // created 41 s before, written after
  EXPECT_EQ(Class(&t), kTimeChanged);
  EXPECT_EQ(t, kRef + 5);
  File(kRef - 40, kRef + 5);  // exactly 40 s before still counts as created
  EXPECT_EQ(Class(), kTimeCreated);
  File(kRef + 3, kRef - 100);  // created after the reference, whatever its last write
  EXPECT_EQ(Class(&t), kTimeCreated);
  EXPECT_EQ(t, kRef + 3);
  File(kRef - 3600, kRef - 60);  // only read
  EXPECT_EQ(Class(&t), kTimeNotChanged);
  EXPECT_EQ(t, kRef - 60);
  File(kRef - 3600, kRef);  // written at the reference second
  EXPECT_EQ(Class(), kTimeChanged);
}

TEST_F(FileInfoTest, SingleStampsAndAVanishedPath) {
  File(100, 200);
  time_t t;
  EXPECT_EQ(FileNotifyInfo("/srv/f", kRef, &t, kTimeChanged), 0);
  EXPECT_EQ(t, 200);
  EXPECT_EQ(FileNotifyInfo("/srv/f", kRef, &t, kTimeCreated), 0);
  EXPECT_EQ(t, 100);
  EXPECT_EQ(FileNotifyInfo("/srv/f", kRef, &t, kTimeNotChanged), 0);
  EXPECT_EQ(t, 201);
  fake.RemoveFileInfo("/srv/f");
  EXPECT_EQ(FileNotifyInfo("/srv/f", kRef, &t, 0), kTimeUnreadable);
  EXPECT_EQ(t, kRef);
  int kind = 9;
  EXPECT_EQ(QVX_CheckExistFileOrFolder("/srv/f", &kind), 0);
  EXPECT_EQ(kind, kKindNone);
  EXPECT_EQ(QVX_CheckExistFileOrFolder(nullptr, &kind), 0);
}

TEST_F(FileInfoTest, FactsThatCannotBeReadAreNoDeletionAndTheCauseIsNamed) {
  std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
  OptionInfo.ErrorLevel = 2;
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  fake.RefuseFileInfo("/srv/secret", EACCES);
  time_t t = -1;
  EXPECT_EQ(FileNotifyInfo("/srv/secret", kRef, &t, 0), kTimeRefused);
  EXPECT_EQ(t, kRef);
  const std::string kernel = fake.Contents(szLogfileName);
  EXPECT_NE(kernel.find("QVX_E31-002"), std::string::npos);
  EXPECT_NE(kernel.find("/srv/secret: " + OsErrorText(EACCES) + " (error " +
                        std::to_string(EACCES) + ")"),
            std::string::npos);
}

TEST_F(FileInfoTest, OneAccessAsksTheFileSystemOnce) {
  File(kRef - 3600, kRef - 60);
  const size_t before = fake.files_asked().size();
  {
    FileFactsScope access;
    int kind = 0;
    uint64_t size = 9;
    EXPECT_EQ(QVX_CheckExistFileOrFolder("/srv/f", &kind), 1);
    EXPECT_EQ(FileSizeInfo("/srv/f", &size), kSizeOk);
    EXPECT_EQ(Class(), kTimeNotChanged);
    EXPECT_EQ(fake.files_asked().size(), before + 1);
    // Another path is asked for; a missing one is remembered as missing.
    EXPECT_EQ(QVX_CheckExistFileOrFolder("/srv/none", &kind), 0);
    EXPECT_EQ(FileSizeInfo("/srv/none", &size), kSizeNotFound);
    EXPECT_EQ(fake.files_asked().size(), before + 2);
  }
  // The next access sees the file as it is then.
  File(kRef - 3600, kRef + 5);
  {
    FileFactsScope access;
    EXPECT_EQ(Class(), kTimeChanged);
  }
  // Outside any access every call asks.
  EXPECT_EQ(Class(), kTimeChanged);
  EXPECT_EQ(fake.files_asked().size(), before + 4);
}

TEST_F(FileInfoTest, SizesAre64Bit) {
  FileInfo big;
  big.size = 5ull * 1000 * 1000 * 1000;
  fake.SetFileInfo("/srv/big.iso", big);
  uint64_t size = 0;
  EXPECT_EQ(FileSizeInfo("/srv/big.iso", &size), kSizeOk);
  EXPECT_EQ(size, 5000000000ull);
  size = 77;
  EXPECT_EQ(FileSizeInfo("/srv/none", &size), kSizeNotFound);
  EXPECT_EQ(size, 77u);  // untouched
}

TEST(FileInfoRealTest, KindsAndSizesOnTheRealFileSystem) {
  test::FakePlatform fake;  // a real folder; file facts from the real platform
  std::string dir = fake.dir();
  std::string file = fake.Path("a.txt");
  fake.WriteText(file, "12345");
  int kind = 0;
  EXPECT_EQ(QVX_CheckExistFileOrFolder(file.c_str(), &kind), 1);
  EXPECT_EQ(kind, kKindFile);
  EXPECT_EQ(QVX_CheckExistFileOrFolder(dir.c_str(), &kind), 1);
  EXPECT_EQ(kind, kKindFolder);
  uint64_t size = 0;
  EXPECT_EQ(FileSizeInfo(file.c_str(), &size), kSizeOk);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(FileSizeInfo(dir.c_str(), &size), kSizeOk);  // folders open too
  EXPECT_EQ(FileSizeInfo(fake.Path("gone").c_str(), &size), kSizeNotFound);
  // A fresh file was created just now: class "created" against the present.
  EXPECT_EQ(FileNotifyInfo(file.c_str(), time(nullptr), nullptr, 0), kTimeCreated);
  // A file taken for a folder on the way: the object is not there either.
  EXPECT_EQ(FileSizeInfo((file + "/x").c_str(), &size), kSizeNotFound);
  EXPECT_EQ(FileNotifyInfo((file + "/x").c_str(), time(nullptr), nullptr, 0), kTimeUnreadable);
}

}  // namespace
}  // namespace qvx
