#include "smb1/create.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/listview.h"
#include "audit/verdict.h"
#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Put16;
using test::Put32;
using test::Smb1;
using test::Utf16;

// NT Create AndX request: WordCount 24, the 48 parameter bytes, ByteCount, the alignment byte,
// then the name. name_length < 0: the name's size.
std::vector<unsigned char> NtCreateBody(uint32_t desired, uint32_t options,
                                        const std::vector<unsigned char>& name,
                                        long name_length = -1) {
  std::vector<unsigned char> b(52, 0);
  b[0] = 24;
  b[1] = 0xFF;
  Put16(b, 6, name_length < 0 ? static_cast<unsigned>(name.size()) : name_length);
  Put32(b, 16, desired);
  Put32(b, 40, options);
  Put16(b, 49, static_cast<unsigned>(name.size() + 1));
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

class SmbNtCreateTest : public test::Smb1HandlerTest {
 protected:
  void SetUp() override {
    Smb1HandlerTest::SetUp();
    data.SMBCommand = 0xA2;
    OptionInfo.SessionSetupFlg = 1;
    run_.TakeOptions();
    BoundSession(0, 100, "QVXUSER");
    ConnectedTree(0, 2049, "\\\\10.0.0.1\\DATA");
  }
  int Open(Frame f) { return QVX_SmbNtCreateAndx(&f.smb1, f.Len, f.data(), f.cursor, At(f)); }
  int Open(const std::string& name, uint32_t desired = 0x120089, uint32_t options = 0) {
    return Open(Smb1(0xA2, 2049, 100, NtCreateBody(desired, options, Utf16(name))));
  }
};

TEST_F(SmbNtCreateTest, AnOpenBecomesAnAccessLineWithTheLocalPath) {
  SetFile("docs\\report 2026.txt", 1000, 500, 19);
  data.SMBCmdListFlg = 1;
  ASSERT_EQ(Open("\\docs\\report 2026.txt"), 0);
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],access,2049,QVXUSER,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,SMB_COM_NT_CREATE_ANDX,（＋後続コマンド）,19,Rd  ," +
      Local("docs\\report 2026.txt")};
  EXPECT_EQ(LogLines(), want);
  EXPECT_STREQ(TreeConnect[0].ShareLocalPath, share_dir_.c_str());
  ASSERT_EQ(nListIndex, 1);
  EXPECT_STREQ(AccessData[0].Size, "19");
  // The same open again at once is a repeat.
  EXPECT_EQ(Open("\\docs\\report 2026.txt"), 0);
  EXPECT_EQ(nListIndex, 1);
  // No pause on the capture thread: the capture loop holds the request until it is answered.
  EXPECT_EQ(fake.slept_ms(), 0);
}

TEST_F(SmbNtCreateTest, JapaneseNamesAndVerdicts) {
  // put of a new file: written by the mask, created by its time stamps. (The Windows build's
  // paths are in its ANSI code page, which a UTF-8 literal cannot give.)
#ifndef _WIN32
  const std::string folder = "日本語フォルダ\\新規ファイル.txt";
#else
  const std::string folder = "folder\\new file.txt";
#endif
  SetFile(folder, 2, 2, 28);
  ASSERT_EQ(Open("\\" + folder, 0x12019f), 0);
  EXPECT_STREQ(AccessData[0].Operation, "New ");
  EXPECT_EQ(std::string(AccessData[0].Path), Local(folder));
  // The mask alone: DELETE with FILE_READ_ATTRIBUTES only is a removal.
  nAccessKindFlg = QVX_ACCESS_KIND_SMB;
  run_.TakeOptions();
  ASSERT_EQ(Open("\\docs\\delete me.txt", 0x10080), 0);
  EXPECT_STREQ(AccessData[1].Operation, "Del ");
  ASSERT_EQ(Open("\\docs\\attrs.txt", 0x80), 0);
  EXPECT_STREQ(AccessData[2].Operation, "Err");
}

TEST_F(SmbNtCreateTest, NameLengthIsCheckedAgainstItsBufferAndTheFrame) {
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  // 1022 bytes fit; 1023 are refused with the NameLength message.
  EXPECT_EQ(Open("\\" + std::string(510, 'a')), 0);
  EXPECT_EQ(
      Open(Smb1(0xA2, 2049, 100, NtCreateBody(1, 0, Utf16("\\" + std::string(511, 'b')), 1023))),
      10);
  EXPECT_NE(Kernel().find("NameLengthサイズエラー NameLength=1023"), std::string::npos);
  // A name that ends on the frame's last byte is taken; one byte beyond is refused.
  Frame f = Smb1(0xA2, 2049, 100, NtCreateBody(1, 0, Utf16("\\edge.txt")));
  EXPECT_EQ(Open(test::Cut(f, f.Len)), 0);
  EXPECT_EQ(std::string(AccessData[1].Path), Local("edge.txt"));
  Frame g = Smb1(0xA2, 2049, 100, NtCreateBody(1, 0, Utf16("\\edge.txt"), 20));
  EXPECT_EQ(Open(test::Cut(g, g.Len)), 10);
  // The block cut short, another WordCount.
  EXPECT_EQ(Open(test::Cut(f, static_cast<unsigned long>(f.cursor - 1 + 51))), 10);
  std::vector<unsigned char> words = NtCreateBody(1, 0, Utf16("\\w.txt"));
  words[0] = 23;
  EXPECT_EQ(Open(Smb1(0xA2, 2049, 100, words)), 10);
  EXPECT_EQ(nListIndex, 2);
}

TEST_F(SmbNtCreateTest, NamesNotWorthALine) {
  EXPECT_EQ(Open("\\"), 10);
  EXPECT_EQ(Open("\\srvsvc"), 10);
  EXPECT_EQ(Open("\\a:b\\c.txt"), 10);
  EXPECT_EQ(Open(""), 10);
  EXPECT_EQ(nListIndex, 0);
  OptionInfo.AllPacketGet = 1;
  run_.TakeOptions();
  EXPECT_EQ(Open("\\srvsvc"), 0);
  EXPECT_EQ(nListIndex, 1);
}

TEST_F(SmbNtCreateTest, NamesFromTheWireCannotForgeLines) {
  SetFile("a\r\n[FAKE],x.txt", 1000, 500, 3);
  ASSERT_EQ(Open("\\a\r\n[FAKE],x.txt"), 0);
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],access,2049,QVXUSER,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,--,--,3,Rd  ," +
      share_dir_ + kPathSep + "a<0D><0A>[FAKE],x.txt"};
  EXPECT_EQ(LogLines(), want);
  EXPECT_EQ(std::string(AccessData[0].Path), Local("a\r\n[FAKE],x.txt"));
}

TEST_F(SmbNtCreateTest, NamesLeavingTheShareAreMarkedAndNeverLookedUp) {
  SetFile("a.txt", 1000, 500, 7);
  ASSERT_EQ(Open("\\docs\\..\\.\\a.txt"), 0);
  EXPECT_EQ(std::string(AccessData[0].Path), Local("a.txt"));
  EXPECT_STREQ(AccessData[0].Size, "7");
  // A file outside the share with a size of its own: nothing of it may be asked for.
  FileInfo motd;
  motd.size = 286;
  fake.SetFileInfo(Local("..\\..\\etc\\motd"), motd);
  const size_t asked = fake.files_asked().size();
  ASSERT_EQ(Open("\\..\\..\\etc\\motd"), 0);
  ASSERT_EQ(Open("\\docs\\..\\..\\x.txt", 0x12019f), 0);
  EXPECT_EQ(fake.files_asked().size(), asked);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1],
            "[2026/12/09 10:20:07],access,2049,QVXUSER,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,--,--,0,Rd  ,[outside share] \\..\\..\\etc\\motd");
  // The mask alone judges: written.
  EXPECT_EQ(lines[2].substr(lines[2].find(",--,--,") + 7),
            "0,Wt  ,[outside share] \\docs\\..\\..\\x.txt");
}

TEST_F(SmbNtCreateTest, OpensOnIpcAreNoFileAccesses) {
  IpcTree(1, 9);
  // Pipes no list names, and whatever else a client opens there.
  for (const char* pipe : {"\\epmapper", "\\spoolss2", "\\some\\file.txt"})
    EXPECT_EQ(Open(Smb1(0xA2, 9, 100, NtCreateBody(0x12019f, 0, Utf16(pipe)))), 10) << pipe;
  EXPECT_EQ(nListIndex, 0);
  EXPECT_TRUE(LogLines().empty());
  // The same name on a file share is a file.
  EXPECT_EQ(Open("\\epmapper"), 0);
  EXPECT_EQ(nListIndex, 1);
}

// The names are spelt in UTF-8 here, the Linux build's code page.
#ifndef _WIN32
TEST_F(SmbNtCreateTest, TheLongestJapaneseNameIsLoggedWhole) {
  // 510 characters after the backslash: 1022 bytes on the wire, 1530 bytes of UTF-8.
  std::string name;
  for (int i = 0; i < 510; ++i) name += "日";
  SetFile(name, 1000, 500, 42);
  ASSERT_EQ(Open("\\" + name), 0);
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0].substr(LogLines()[0].find(",42,Rd  ,") + 9), Local(name));
}
#endif

TEST_F(SmbNtCreateTest, AnUnlistedShareGivesUnknownLines) {
  ConnectedTree(0, 2049, "\\\\10.0.0.1\\GONE");
  ASSERT_EQ(Open("\\x.txt"), 0);
  EXPECT_EQ(Open("\\x.txt"), 10);  // the same unknown access again
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],unknown,2049,,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,--,--,,,\\x.txt"};
  EXPECT_EQ(LogLines(), want);
}

TEST_F(SmbNtCreateTest, AGuessedTreeCompletesItsWaitRow) {
  // A connect request whose answer was not seen left row "WAIT0"; the tree is guessed from the
  // path, takes the slot and turns the row into its connect row.
  TreeConnect[0] = {};
  QVX_ProgramLogonTables().SlotsRecount();
  ASSERT_TRUE(platform().MakeSureDirectoryPathExists(Local("docs\\x")));
  const char* cells[kListColumns - 1] = {"login", "WAIT0", "", "", "", "", "", "", "", "", "", ""};
  QVX_AppendRow(platform().Now(), cells, "test");
  ASSERT_EQ(Open("\\docs"), 0);
  EXPECT_STREQ(AccessData[0].Action, "connect");
  EXPECT_STREQ(AccessData[0].TreeID, "2049");
  EXPECT_STREQ(AccessData[0].LoginName, "QVXUSER");
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "[2026/12/09 10:20:07],connect,2049,QVXUSER,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,--,--,,,\\\\10.0.0.1\\data [T:2049 P:0 U:0 M:0][WAIT0]");
}

TEST_F(SmbNtCreateTest, NamesAreReadInTheClientsStrings) {
  // OEM: the name follows ByteCount with no pad; NameLength counts its terminator, as smbclient
  // sends it with unicode=no.
  auto oem_open = [this](const std::string& name) {
    std::vector<unsigned char> bytes(name.begin(), name.end());
    bytes.push_back(0);
    std::vector<unsigned char> body = NtCreateBody(0x120089, 0, bytes);
    body.erase(body.begin() + 51);
    Put16(body, 49, static_cast<unsigned>(bytes.size()));
    return Open(test::Oem(Smb1(0xA2, 2049, 100, body)));
  };
  SetFile("docs\\a.txt", 1000, 500, 7);
  ASSERT_EQ(oem_open("\\docs\\a.txt"), 0);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(",7,Rd  ," + Local("docs\\a.txt")), std::string::npos) << lines[0];
#ifndef _WIN32
  // Beyond ASCII, code page 850 on Linux: 0x81 is u-umlaut.
  SetFile("docs\\\xc3\xbc.txt", 1000, 500, 8);
  ASSERT_EQ(oem_open("\\docs\\\x81.txt"), 0);
  lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find(",8,Rd  ," + Local("docs\\\xc3\xbc.txt")), std::string::npos) << lines[1];
#endif
}

TEST_F(SmbNtCreateTest, APipeIsKnownByItsAnswerWhateverItsName) {
  // A tree whose connect was not seen, and a pipe no name list holds: only the answer's resource
  // type tells.
  AnswerFacts a;
  a.open = true;
  a.pipe = true;
  run_->answer = &a;
  EXPECT_EQ(Open(Smb1(0xA2, 777, 100, NtCreateBody(0x12019F, 0, Utf16("\\svcctl")))), 10);
  EXPECT_TRUE(LogLines().empty());
  // Told a file, the same open is an unknown tree's access.
  a.pipe = false;
  EXPECT_EQ(Open(Smb1(0xA2, 777, 100, NtCreateBody(0x12019F, 0, Utf16("\\svcctl")))), 10);
  EXPECT_EQ(LogLines().size(), 1u);
  run_->answer = nullptr;
}

}  // namespace
}  // namespace qvx
