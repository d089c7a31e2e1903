#include "smb2/create.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/listview.h"
#include "smb2/handler_fixture.h"

namespace qvx {
namespace {

using test::CreateBody;
using test::Frame;
using test::Smb2;
using test::Smb2Ids;
using test::Utf16;

constexpr uint32_t kReadOpen = 0x00120089;   // what a client sends to read a file
constexpr uint32_t kWriteOpen = 0x0012019F;  // ... and to write one

class Smb2CreateTest : public test::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    data.SMBCommand = 5;
    ConnectedTree(0, 7);
  }
  int Create(Frame f) {
    return QVX_Smb2FileStandardInfo(&f.smb2, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                    At(f));
  }
  int Create(const std::string& name, uint32_t desired = kReadOpen, uint32_t options = 0,
             uint32_t tree = 7) {
    Smb2Ids ids;
    ids.tree_id = tree;
    return Create(Smb2(5, ids, CreateBody(desired, options, Utf16(name))));
  }
  // The operation of the last access row.
  std::string Operation() { return nListIndex ? AccessData[nListIndex - 1].Operation : ""; }
};

TEST_F(Smb2CreateTest, AccessLineAndRowWithTheLocalPath) {
  SetFile("docs\\a.txt", 1000, 500, 1234);
  ASSERT_EQ(Create("docs\\a.txt"), 0);
  const std::string full = Local("docs\\a.txt");
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"[2026/12/09 10:20:07],access,7,alice,10.0.0.5,10.0.0.1,"
                                     "cc:cc:cc:cc:cc:05,ss:ss:ss:ss:ss:01,-,-,1234,Rd  ," +
                                     full});
  ASSERT_EQ(nListIndex, 1);
  const AccessDataSt& r = AccessData[0];
  EXPECT_STREQ(r.AccessTime, "2026/12/09 10:20:07");
  EXPECT_STREQ(r.Action, "access");
  EXPECT_STREQ(r.TreeID, "7");
  EXPECT_STREQ(r.LoginName, "alice");
  EXPECT_STREQ(r.Size, "1234");
  EXPECT_STREQ(r.Operation, "Rd  ");
  EXPECT_EQ(r.Path, full);
  EXPECT_EQ(std::string(TreeConnect[0].ShareLocalPath), share_dir_ + kPathSep);
  EXPECT_STREQ(TreeConnect[0].Login_Name, "alice");

  // The command row of the table, and the quoted path.
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  data.SMBCmdListFlg = 1;
  OptionInfo.PathDubileCorteSet = 1;
  ASSERT_EQ(Create("docs\\a.txt", kWriteOpen), 0);
  EXPECT_EQ(LogLines().back(),
            "[2026/12/09 10:20:07],access,7,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,SMB2_CREATE,ファイルのオープン／作成,1234,Rd  ,\"" +
                full + "\"");
}

TEST_F(Smb2CreateTest, BlendedVerdictsThroughTheHandler) {
  // A file opened for reading and writing whose time stamps say it was only read.
  SetFile("f.txt", 1000, 500, 1);
  Create("f.txt", 0x00000003);
  EXPECT_EQ(Operation(), "Rd  ");
  // ... written just now; created just now.
  SetFile("w.txt", 1000, 0, 1);
  Create("w.txt", kWriteOpen);
  EXPECT_EQ(Operation(), "Wt  ");
  SetFile("n.txt", 0, 0, 1);
  Create("n.txt", kWriteOpen);
  EXPECT_EQ(Operation(), "New ");
  // A write open of a file that is not there.
  Create("gone.txt", kWriteOpen);
  EXPECT_EQ(Operation(), "Wt  ");
  // DELETE with FILE_READ_ATTRIBUTES of a file.
  Create("f.txt", 0x00010080);
  EXPECT_EQ(Operation(), "Del ");

  // A folder read whose time stamps moved: read, unless the open carries options.
  SetFile("dir", 1000, 0, 0, true);
  Create("dir", 0x00000001, 0);
  EXPECT_EQ(Operation(), "Rd  ");
  Create("dir", 0x00000001, 0x00000001);
  EXPECT_EQ(Operation(), "Wt  ");
  // A folder opened for deletion: the time stamps judge.
  SetFile("dir2", 1000, 500, 0, true);
  Create("dir2", 0x00010080);
  EXPECT_EQ(Operation(), "Rd  ");
  EXPECT_EQ(nListIndex, 8);
}

TEST_F(Smb2CreateTest, EachModeJudgesFromItsOwnSource) {
  SetFile("f.txt", 1000, 500, 1);
  OptionInfo.SameAccNonLogFlg = 0;
  nAccessKindFlg = 1;  // the mask alone
  run_.TakeOptions();
  Create("f.txt", 0x00010080);
  EXPECT_EQ(Operation(), "Del ");
  Create("f.txt", 0x00100080);  // nothing the mask verdict looks at
  EXPECT_EQ(Operation(), "Err");
  nAccessKindFlg = 2;  // the time stamps alone
  run_.TakeOptions();
  Create("f.txt", kWriteOpen);
  EXPECT_EQ(Operation(), "Rd  ");
  nAccessKindFlg = 0;  // settings SMB and API both 0
  run_.TakeOptions();
  Create("f.txt", kWriteOpen);
  EXPECT_EQ(Operation(), "Err");
  EXPECT_EQ(LogLines().back(),
            "[2026/12/09 10:20:07],access,7,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,-,-,1,Err," +
                Local("f.txt"));
}

TEST_F(Smb2CreateTest, RepeatsAreDroppedWithHostNamesShownToo) {
  OptionInfo.HostName = 1;
  run_.TakeOptions();
  OptionInfo.QVXHosts = 0;
  OptionInfo.NbtstatChgOn = 0;
  fake.SetHosts({{"pc5.example", test::kClient}, {"srv.example", test::kServer}});
  SetFile("a.txt", 1000, 500, 1);
  EXPECT_EQ(Create("a.txt"), 0);
  EXPECT_EQ(Create("a.txt"), 0);
  EXPECT_EQ(Create("a.txt"), 0);
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0],
            "[2026/12/09 10:20:07],access,7,alice,pc5.example(10.0.0.5),srv.example(10.0.0.1),"
            "cc:cc:cc:cc:cc:05,ss:ss:ss:ss:ss:01,-,-,1,Rd  ," +
                Local("a.txt"));
  EXPECT_EQ(nListIndex, 1);
}

TEST_F(Smb2CreateTest, RepeatsOnAKnownTreeAreDropped) {
  SetFile("a.txt", 1000, 500, 1);
  EXPECT_EQ(Create("a.txt"), 0);
  EXPECT_EQ(Create("a.txt"), 0);  // the same open again: nothing new, still processed
  EXPECT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(nListIndex, 1);
  Create("a.txt", 0x00010080);  // another operation is another access
  EXPECT_EQ(nListIndex, 2);
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  Create("a.txt", 0x00010080);
  EXPECT_EQ(nListIndex, 3);
  EXPECT_EQ(LogLines().size(), 3u);
}

TEST_F(Smb2CreateTest, TreeIdsAboveTwoToTheThirtyFirstAreUnsigned) {
  // Once printed -625535486.
  constexpr uint32_t kBig = 0xDAB71602u;
  ConnectedTree(1, kBig);
  SetFile("a.txt", 1000, 500, 1);
  ASSERT_EQ(Create("a.txt", kReadOpen, 0, kBig), 0);
  EXPECT_EQ(Create("a.txt", kReadOpen, 0, kBig), 0);  // a repeat, found by that number
  ConnectedTree(2, 0xFFFFFFFFu, "\\10.0.0.1\gone");
  ASSERT_EQ(Create("b.txt", kReadOpen, 0, 0xFFFFFFFFu), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(",access,3669431810,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(",unknown,4294967295,"), std::string::npos) << lines[1];
  EXPECT_STREQ(AccessData[0].TreeID, "3669431810");
}

TEST_F(Smb2CreateTest, UnknownShareGivesUnknownRecordsOnceInTheWindow) {
  ConnectedTree(1, 9, "\\\\10.0.0.1\\gone");
  ASSERT_EQ(Create("docs\\a.txt", kReadOpen, 0, 9), 0);
  EXPECT_EQ(Create("docs\\a.txt", kReadOpen, 0, 9), 10);  // the same unknown access again
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"[2026/12/09 10:20:07],unknown,9,,10.0.0.5,10.0.0.1,"
                                     "cc:cc:cc:cc:cc:05,ss:ss:ss:ss:ss:01,-,-,,,docs\\a.txt"});
  ASSERT_EQ(nListIndex, 1);
  EXPECT_STREQ(AccessData[0].Action, "unknown");
  EXPECT_STREQ(AccessData[0].TreeID, "9");
  EXPECT_STREQ(AccessData[0].LoginName, "");
  EXPECT_STREQ(AccessData[0].Size, "");
  EXPECT_STREQ(AccessData[0].Operation, "");
  EXPECT_STREQ(AccessData[0].Path, "docs\\a.txt");

  // The share name of the tree matches the listed name in any case; TreeId bytes 05 01 00 00.
  ConnectedTree(2, 261, "\\\\10.0.0.1\\DATA");
  Frame f = Smb2(5, {}, CreateBody(kReadOpen, 0, Utf16("b.txt")));
  f.bytes[44 + 36] = 0x05, f.bytes[44 + 37] = 0x01;
  f.smb2.TreeId = 261;
  ASSERT_EQ(Create(f), 0);
  EXPECT_STREQ(AccessData[1].TreeID, "261");
  EXPECT_EQ(std::string(AccessData[1].Path), Local("b.txt"));
}

TEST_F(Smb2CreateTest, NameBoundsAndFilters) {
  // The share root, a name running past the frame, a name over 1022 bytes.
  EXPECT_EQ(Create(""), 10);
  Smb2Ids ids;
  ids.tree_id = 7;
  Frame cut = Smb2(5, ids, CreateBody(kReadOpen, 0, Utf16("docs\\a.txt")));
  cut.Len -= 2;
  cut.bytes.resize(cut.Len);
  cut.bytes.shrink_to_fit();
  EXPECT_EQ(Create(cut), 10);
  Frame stub = Smb2(5, {}, std::vector<unsigned char>(55, 0));
  EXPECT_EQ(Create(stub), 10);
  EXPECT_EQ(Create(std::string(511, 'a')), 0);  // 1022 bytes
  EXPECT_EQ(Create(Smb2(5, ids, CreateBody(kReadOpen, 0, Utf16(std::string(512, 'b')), 1023))), 10);
  EXPECT_NE(Kernel().find("File_Length サイズオーバー File_Length=1023"), std::string::npos);

  // A colon before the last component (no file's stream), wildcards and pipes.
  EXPECT_EQ(Create("dir:x\\file.txt"), 10);
  EXPECT_EQ(Create("dir\\*"), 10);
  EXPECT_EQ(Create("\\srvsvc"), 10);
  EXPECT_EQ(Create("\\winreg"), 10);
  // SMB2 names a pipe without the backslash, in any case.
  EXPECT_EQ(Create("srvsvc"), 10);
  EXPECT_EQ(Create("LSARPC"), 10);
  EXPECT_EQ(nListIndex, 1);
  OptionInfo.AllPacketGet = 1;
  run_.TakeOptions();
  EXPECT_EQ(Create("dir:x\\file.txt"), 0);
  EXPECT_EQ(Create("\\winreg"), 0);
  EXPECT_EQ(nListIndex, 3);
}

TEST_F(Smb2CreateTest, OpensOnIpcAreNoFileAccesses) {
  // What a Windows or macOS session opens on IPC$, including pipes no list names.
  IpcTree(1, 9);
  for (const char* pipe : {"srvsvc", "lsarpc", "mdssvc", "wkssvc", "epmapper", "some\\file.txt"})
    EXPECT_EQ(Create(pipe, kWriteOpen, 0, 9), 10) << pipe;
  TreeConnect[1].SharePath[11] = 'i';  // \\10.0.0.1\iPC$: share names match in any case
  EXPECT_EQ(Create("srvsvc2", kWriteOpen, 0, 9), 10);
  EXPECT_EQ(nListIndex, 0);
  EXPECT_TRUE(LogLines().empty());
  // The same names on a file share are files.
  EXPECT_EQ(Create("epmapper"), 0);
  EXPECT_EQ(nListIndex, 1);
}

TEST_F(Smb2CreateTest, NamesFromTheWireCannotForgeLines) {
  SetFile("a\r\n[FAKE],x.txt", 1000, 500, 3);
  ASSERT_EQ(Create("a\r\n[FAKE],x.txt"), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "[2026/12/09 10:20:07],access,7,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,-,-,3,Rd  ," +
                share_dir_ + kPathSep + "a<0D><0A>[FAKE],x.txt");
  // The record keeps the name as it came; the path was found on disk under it.
  EXPECT_EQ(std::string(AccessData[0].Path), Local("a\r\n[FAKE],x.txt"));
  // Quoted, a quote inside the path is doubled.
  OptionInfo.PathDubileCorteSet = 1;
  ASSERT_EQ(Create("say \"hi\".txt"), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find(",Rd  ,") + 6),
            "\"" + Local("say \"\"hi\"\".txt") + "\"");
}

// The names are spelt in UTF-8 here, the Linux build's code page.
#ifndef _WIN32
TEST_F(Smb2CreateTest, LongNamesAreLoggedWhole) {
  // 200 Japanese characters: 400 bytes on the wire, 600 bytes of UTF-8.
  std::string name;
  for (int i = 0; i < 200; ++i) name += "あ";
  SetFile(name, 1000, 500, 42);
  ASSERT_EQ(Create(name), 0);
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0].substr(LogLines()[0].find(",42,Rd  ,") + 9), Local(name));
  // The longest name the wire allows, in three-byte characters, still fits whole.
  std::string longest;
  for (int i = 0; i < 511; ++i) longest += "日";
  ASSERT_EQ(Create(longest), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find(",0,") + 3), "Rd  ," + Local(longest));
}
#endif

TEST_F(Smb2CreateTest, DotsResolveInsideTheShareAndNamesLeavingItAreNeverLookedUp) {
  SetFile("a.txt", 1000, 500, 7);
  ASSERT_EQ(Create("docs\\..\\.\\a.txt"), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find(",7,Rd  ,") + 8), Local("a.txt"));
  // Runs of backslashes name no folder; a named stream is the file's, its default one the file.
  ASSERT_EQ(Create("docs\\\\b.txt", kWriteOpen), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find("Wt  ,") + 5), Local("docs\\b.txt"));
  ASSERT_EQ(Create("docs\\b.txt:hidden:$DATA", kWriteOpen), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find("Wt  ,") + 5),
            Local("docs\\b.txt:hidden"));
  ASSERT_EQ(Create("c.txt::$DATA", kWriteOpen), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find("Wt  ,") + 5), Local("c.txt"));

  // A file outside the share with a size of its own: none of it may reach the line.
  FileInfo motd;
  motd.size = 286;
  motd.creation = platform().Now().t - 1000;
  motd.last_write = platform().Now().t - 1000;
  fake.SetFileInfo(Local("..\\..\\etc\\motd"), motd);
  ASSERT_EQ(Create("..\\..\\etc\\motd", kReadOpen), 0);
  EXPECT_EQ(LogLines().back(),
            "[2026/12/09 10:20:07],access,7,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,-,-,0,Rd  ,[outside share] ..\\..\\etc\\motd");
  ASSERT_EQ(Create("docs\\..\\..\\x.txt", kWriteOpen), 0);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find(",0,") + 3),
            "Wt  ,[outside share] docs\\..\\..\\x.txt");
  // On a tree no share explains, the unknown line is marked too, and no share is guessed.
  ASSERT_EQ(Create("..\\data\\a.txt", kReadOpen, 0, 99), 10);
  EXPECT_EQ(LogLines().back().substr(LogLines().back().find(",,,") + 3),
            "[outside share] ..\\data\\a.txt");
  EXPECT_EQ(TreeConnect[1].Flg, kSlotFree);
}

TEST_F(Smb2CreateTest, AGuessedTreeCompletesItsWaitRow) {
  // The folder exists under the one share, so an unknown tree is guessed into the free slot 1.
  ASSERT_TRUE(platform().MakeSureDirectoryPathExists(Local("docs\\x")));
  const char* login[12] = {"login", "WAIT1", "alice", "10.0.0.5", "10.0.0.1", "m",
                           "m",     "-",     "-",     "",         "",         "\\\\10.0.0.1\\data"};
  ASSERT_EQ(QVX_AppendRow(platform().Now(), login, "InsItem"), 0);
  ASSERT_EQ(Create("docs", kReadOpen, 0, 42), 0);
  EXPECT_EQ(TreeConnect[1].Tid, 42u);
  EXPECT_STREQ(AccessData[0].Action, "connect");
  EXPECT_STREQ(AccessData[0].TreeID, "42");
  EXPECT_STREQ(AccessData[0].LoginName, "alice");
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "[2026/12/09 10:20:07],connect,42,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,-,-,,,\\\\10.0.0.1\\data [T:42 P:0 U:0 M:0][WAIT1]");
  EXPECT_EQ(lines[1].substr(0, 33), "[2026/12/09 10:20:07],access,42,a");
  EXPECT_STREQ(AccessData[1].Action, "access");
}

TEST_F(Smb2CreateTest, AFullListKeepsEveryLineAndTheNewestRows) {
  OptionInfo.AccessDataCnt = 2;
  Create("a.txt");
  Create("b.txt");
  EXPECT_EQ(nListIndex, 2);
  EXPECT_EQ(Create("c.txt"), 0);
  EXPECT_EQ(nListIndex, 2);
  EXPECT_NE(std::string(AccessData[0].Path).find("b.txt"), std::string::npos);
  EXPECT_NE(std::string(AccessData[1].Path).find("c.txt"), std::string::npos);
  EXPECT_EQ(LogLines().size(), 3u);
  EXPECT_NE(LogLines().back().find("c.txt"), std::string::npos);
  EXPECT_NE(Kernel().find("ViewItem DEL : Userd nListIndex = 2"), std::string::npos);
}

TEST_F(Smb2CreateTest, ExcludedPathsAreNotLogged) {
  std::snprintf(ExclusionInfoData[0], kFilterLineSize, "01,00000000,-,00000000,0,0,1,*.tmp");
  ExclusionInfoDataNo = 1;
  EXPECT_EQ(Create("docs\\a.tmp"), 10);
  EXPECT_EQ(Create("docs\\a.txt"), 0);
  EXPECT_EQ(LogLines().size(), 1u);
  // On an unknown share the path as sent is tested.
  ConnectedTree(1, 9, "\\\\10.0.0.1\\gone");
  EXPECT_EQ(Create("b.tmp", kReadOpen, 0, 9), 10);
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(Smb2CreateTest, ATreeWhoseConnectWasSeenStaysOnItsShare) {
  // Another share holds the same relative path; the client asks its own share for a file that
  // is not there (a typo, or already deleted).
  ServerShare data_share;
  data_share.name = "data";
  data_share.path = share_dir_;
  ServerShare other;
  other.name = "other";
  other.path = fake.dir() + "other";
  fake.SetShares({data_share, other});
  NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
  FileInfo fi;
  fi.size = 5;
  fake.SetFileInfo(other.path + kPathSep + "docs" + kPathSep + "gone.txt", fi);
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  ASSERT_EQ(Create("docs\\gone.txt"), 0);
  SetFile("docs\\here.txt", 1000, 500, 3);
  ASSERT_EQ(Create("docs\\here.txt"), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  const std::string gone = Local("docs\\gone.txt");
  EXPECT_EQ(lines[0].substr(lines[0].size() - gone.size()), gone) << lines[0];
  EXPECT_EQ(lines[1].substr(lines[1].size() - Local("docs\\here.txt").size()),
            Local("docs\\here.txt"))
      << lines[1];
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\10.0.0.1\\data");
  EXPECT_EQ(std::string(TreeConnect[0].ShareLocalPath), share_dir_ + kPathSep);
}

}  // namespace
}  // namespace qvx
