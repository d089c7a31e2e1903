#include "smb1/rename.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit/answer.h"
#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Put16;
using test::Smb1;
using test::Utf16;

// SMB_COM_RENAME: WordCount 1, SearchAttributes, ByteCount; 0x04, the old name and its zero,
// 0x04, the alignment byte, the new name (with its zero unless terminate is false).
std::vector<unsigned char> RenameBody(const std::string& from, const std::string& to,
                                      bool terminate = true) {
  std::vector<unsigned char> b = {1, 0x16, 0, 0, 0, 4};
  const std::vector<unsigned char> o = Utf16(from), n = Utf16(to);
  b.insert(b.end(), o.begin(), o.end());
  for (int c : {0, 0, 4, 0}) b.push_back(static_cast<unsigned char>(c));
  b.insert(b.end(), n.begin(), n.end());
  if (terminate) b.push_back(0), b.push_back(0);
  Put16(b, 3, static_cast<unsigned>(b.size() - 5));
  return b;
}

// SMB_COM_DELETE_DIRECTORY: WordCount 0, ByteCount, 0x04, the name and its zero.
std::vector<unsigned char> RmdirBody(const std::string& name) {
  std::vector<unsigned char> b = {0, 0, 0, 4};
  const std::vector<unsigned char> n = Utf16(name);
  b.insert(b.end(), n.begin(), n.end());
  b.push_back(0), b.push_back(0);
  Put16(b, 1, static_cast<unsigned>(b.size() - 3));
  return b;
}

class SmbRenameTest : public test::Smb1HandlerTest {
 protected:
  void SetUp() override {
    Smb1HandlerTest::SetUp();
    ConnectedTree(0, 2049, "\\\\10.0.0.1\\DATA");
  }
  int Rename(Frame f) {
    data.SMBCommand = 0x07;
    return QVX_SmbComRename(&f.smb1, f.Len, f.data(), f.cursor, At(f));
  }
  int Rename(const std::vector<unsigned char>& body) { return Rename(Smb1(0x07, 2049, 100, body)); }
  int Rmdir(const std::string& name) {
    Frame f = Smb1(0x01, 2049, 100, RmdirBody(name));
    data.SMBCommand = 0x01;
    return QVX_ComDeleteDirectory(&f.smb1, f.Len, f.data(), f.cursor, At(f));
  }
};

TEST_F(SmbRenameTest, ARenameNamesBothLocalPathsEveryTime) {
  data.SMBCmdListFlg = 1;
  ASSERT_EQ(Rename(RenameBody("\\docs\\new file.txt", "\\docs\\renamed file.txt")), 0);
  ASSERT_EQ(Rename(RenameBody("\\docs\\new file.txt", "\\docs\\renamed file.txt")), 0);
  const std::string line =
      "[2026/12/09 10:20:07],access,2049,alice,10.0.0.5,10.0.0.1,"
      "cc:cc:cc:cc:cc:05,ss:ss:ss:ss:ss:01,SMB_COM_RENAME,ファイルの名前変更,"
      "0,ReNm," +
      Local("docs\\new file.txt") + " >> " + Local("docs\\renamed file.txt");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{line, line}));
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[0].Operation, "ReNm");
  EXPECT_STREQ(AccessData[0].Size, "0");
}

TEST_F(SmbRenameTest, ANewNameEndingWithTheDataIsWhole) {
  OptionInfo.PathDubileCorteSet = 1;
#ifndef _WIN32
  const std::string from = "新規ファイル.txt", to = "名前変更.txt";
#else
  const std::string from = "new.txt", to = "renamed.txt";  // the ANSI code page's texts
#endif
  Frame f = Smb1(0x07, 2049, 100, RenameBody("\\" + from, "\\" + to, false));
  ASSERT_EQ(Rename(test::Cut(f, f.Len)), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(",0,ReNm,\"" + Local(from) + " >> " + Local(to) + "\""),
            std::string::npos)
      << lines[0];
}

TEST_F(SmbRenameTest, NamesLeavingTheShareAreMarked) {
  // Dots resolve within the share; a name climbing out of it reads as sent, marked.
  ASSERT_EQ(Rename(RenameBody("\\docs\\..\\a.txt", "\\..\\b.txt")), 0);
  EXPECT_EQ(std::string(AccessData[0].Path), Local("a.txt") + " >> [outside share] \\..\\b.txt");
  ASSERT_EQ(Rmdir("\\docs\\..\\..\\tmp"), 0);
  ASSERT_EQ(Rmdir("\\docs\\.\\old"), 0);
  EXPECT_EQ(LogLines().back(),
            "[2026/12/09 10:20:07],access,2049,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
            "ss:ss:ss:ss:ss:01,--,--,0,Del ," +
                Local("docs\\old"));
  EXPECT_STREQ(AccessData[1].Path, "[outside share] \\docs\\..\\..\\tmp");
  // The same on a tree whose share is not listed.
  ConnectedTree(1, 2050, "\\\\10.0.0.1\\GONE");
  Frame f = Smb1(0x01, 2050, 100, RmdirBody("\\..\\x"));
  ASSERT_EQ(QVX_ComDeleteDirectory(&f.smb1, f.Len, f.data(), f.cursor, At(f)), 0);
  EXPECT_STREQ(AccessData[3].Path, "[outside share] \\..\\x");
}

TEST_F(SmbRenameTest, NothingOnIpcIsAFile) {
  ConnectedTree(1, 9, "\\\\10.0.0.1\\IPC$");
  EXPECT_EQ(Rename(Smb1(0x07, 9, 100, RenameBody("\\a", "\\b"))), 10);
  Frame f = Smb1(0x01, 9, 100, RmdirBody("\\x"));
  EXPECT_EQ(QVX_ComDeleteDirectory(&f.smb1, f.Len, f.data(), f.cursor, At(f)), 10);
  EXPECT_TRUE(LogLines().empty());
}

#ifndef _WIN32
TEST_F(SmbRenameTest, TheLongestJapaneseNamesAreLoggedWhole) {
  std::string from, to;
  for (int i = 0; i < 510; ++i) from += "日", to += "本";
  ASSERT_EQ(Rename(RenameBody("\\" + from, "\\" + to)), 0);
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0].substr(LogLines()[0].find(",0,ReNm,") + 8),
            Local(from) + " >> " + Local(to));
}
#endif

TEST_F(SmbRenameTest, MalformedRequestsAreDropped) {
  std::vector<unsigned char> b = RenameBody("\\a", "\\b");
  b[5] = 5;  // BufferFormat1
  EXPECT_EQ(Rename(b), 10);
  b = RenameBody("\\a", "\\b");
  b[5 + 1 + 4 + 2] = 0;  // BufferFormat2
  EXPECT_EQ(Rename(b), 10);
  b = RenameBody("\\a", "\\b");
  b[0] = 2;  // WordCount
  EXPECT_EQ(Rename(b), 10);
  b = RenameBody("\\a", "\\b");
  Put16(b, 3, 0);  // no data bytes
  EXPECT_EQ(Rename(b), 10);
  // The old name runs to the end of the data: no BufferFormat2.
  EXPECT_EQ(Rename(std::vector<unsigned char>{1, 0, 0, 5, 0, 4, '\\', 0, 'a', 0}), 10);
  // Empty names.
  EXPECT_EQ(Rename(RenameBody("", "\\b")), 10);
  EXPECT_EQ(Rename(RenameBody("\\a", "")), 10);
  // ByteCount one byte beyond the frame; a frame ending inside the block.
  Frame f = Smb1(0x07, 2049, 100, RenameBody("\\a", "\\b"));
  EXPECT_EQ(Rename(test::Cut(f, f.Len - 1)), 10);
  EXPECT_EQ(Rename(test::Cut(f, static_cast<unsigned long>(f.cursor - 1 + 4))), 10);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SmbRenameTest, AnExcludedPathSilencesTheRename) {
  std::snprintf(ExclusionInfoData[0], kFilterLineSize, "01,00000000,-,00000000,0,0,1,*secret*");
  ExclusionInfoDataNo = 1;
  EXPECT_EQ(Rename(RenameBody("\\a.txt", "\\secret\\a.txt")), 10);
  EXPECT_EQ(Rename(RenameBody("\\secret\\b.txt", "\\b.txt")), 10);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SmbRenameTest, ARemovedFolderIsADeletion) {
  ASSERT_EQ(Rmdir("\\docs\\new folder"), 0);
  ASSERT_EQ(Rmdir("\\docs\\new folder"), 0);  // no repeat rule
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[0].Operation, "Del ");
  EXPECT_EQ(std::string(AccessData[0].Path), Local("docs\\new folder"));
  EXPECT_STREQ(AccessData[0].Size, "0");

  // A tree whose share is not listed keeps the name as sent.
  ConnectedTree(1, 2050, "\\\\10.0.0.1\\GONE");
  Frame f = Smb1(0x01, 2050, 100, RmdirBody("\\old folder"));
  ASSERT_EQ(QVX_ComDeleteDirectory(&f.smb1, f.Len, f.data(), f.cursor, At(f)), 0);
  EXPECT_STREQ(AccessData[2].Path, "\\old folder");

  std::vector<unsigned char> bad = RmdirBody("\\x");
  bad[3] = 0;
  Frame g = Smb1(0x01, 2049, 100, bad);
  EXPECT_EQ(QVX_ComDeleteDirectory(&g.smb1, g.Len, g.data(), g.cursor, At(g)), 10);
}

TEST_F(SmbRenameTest, OemNamesHaveNoPad) {
  // BufferFormat, the old name and its zero, BufferFormat, the new name at once.
  std::vector<unsigned char> b = {1, 0x16, 0, 0, 0, 4};
  for (char c : std::string("\\old.txt")) b.push_back(static_cast<unsigned char>(c));
  for (int c : {0, 4}) b.push_back(static_cast<unsigned char>(c));
  for (char c : std::string("\\new.txt")) b.push_back(static_cast<unsigned char>(c));
  b.push_back(0);
  Put16(b, 3, static_cast<unsigned>(b.size() - 5));
  ASSERT_EQ(Rename(test::Oem(Smb1(0x07, 2049, 100, b))), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(",ReNm," + Local("old.txt") + " >> " + Local("new.txt")),
            std::string::npos)
      << lines[0];
}

// NT_RENAME, COPY and MOVE an impacket client sent to Samba 4.17 (tests/e2e/smb1_routes.py), as
// tshark 4.0 decodes them: Level of Interest 260 (rename), Create Hard Link (259), 261 (copy);
// COPY and MOVE with Open Function 0x0011 and the Old (Source) and New (Destination) File Names.
// Each is one "old >> new" line by the answer; a refusal not for rights (this server refuses
// COPY and MOVE: not implemented) gives none.
TEST_F(SmbRenameTest, NtRenameCopyAndMoveNameBothSides) {
  ConnectedTree(1, 0xEE1F);
  AnswerFacts ok;
  run_->answer = &ok;
  for (const char* hex :
       {"ff534d42a5000000001801c80000000000000000000000001fee5715eda800000416000401000000005900045c"
        "00"
        "72006f0075007400650073005c00620073005c006e007400720065006e002e00740078007400000004005c0072"
        "00"
        "6f0075007400650073005c00620073005c006e007400720065006e0032002e007400780074000000",
        "ff534d42a5000000001801c80000000000000000000000001fee5715eda800000416000301000000005d00045c"
        "00"
        "72006f0075007400650073005c00620073005c006e0074006c0069006e006b002e00740078007400000004005c"
        "00"
        "72006f0075007400650073005c00620073005c006e0074006c0069006e006b0032002e007400780074000000",
        "ff534d42a5000000001801c80000000000000000000000001fee5715eda800000416000501000000005d00045c"
        "00"
        "72006f0075007400650073005c00620073005c006e00740063006f00700079002e00740078007400000004005c"
        "00"
        "72006f0075007400650073005c00620073005c006e00740063006f007000790032002e007400780074000000",
        "ff534d4229000000001801c80000000000000000000000001fee5715eda80000031fee110000005500045c0072"
        "00"
        "6f0075007400650073005c00620073005c0063006f00700079002e00740078007400000004005c0072006f0075"
        "00"
        "7400650073005c00620073005c0063006f007000790032002e007400780074000000",
        "ff534d42a5000000001801480000000000000000000000001fee5715eda800000416000401000000002b000472"
        "6f"
        "757465735c6e625c6e7472656e2e7478740004726f757465735c6e625c6e7472656e322e74787400",
        "ff534d4229000000001801480000000000000000000000001fee5715eda80000031fee11000000290004726f75"
        "74"
        "65735c6e625c636f70792e7478740004726f757465735c6e625c636f7079322e74787400"}) {
    Frame f = test::Captured(hex);
    data.SMBCommand = f.smb1.Command;
    EXPECT_EQ(QVX_SmbNtRename(&f.smb1, f.Len, f.data(), f.cursor, At(f)), 0);
  }
  AnswerFacts not_implemented;
  not_implemented.status = 0xC0000002;
  run_->answer = &not_implemented;
  Frame move = test::Captured(
      "ff534d422a000000001801c80000000000000000000000001fee5715eda80000031fee110000005500045c007200"
      "6f0075007400650073005c00620073005c006d006f00760065002e00740078007400000004005c0072006f007500"
      "7400650073005c00620073005c006d006f007600650032002e007400780074000000");
  data.SMBCommand = 0x2A;
  EXPECT_EQ(QVX_SmbNtRename(&move.smb1, move.Len, move.data(), move.cursor, At(move)), 0);
  run_->answer = nullptr;
  std::vector<std::string> said;
  for (const std::string& l : LogLines()) said.push_back(l.substr(l.find(",0,") + 3));
  const auto both = [this](const char* from, const char* to) {
    return Local(from) + " >> " + Local(to);
  };
  EXPECT_EQ(said, (std::vector<std::string>{
                      "ReNm," + both("routes\\bs\\ntren.txt", "routes\\bs\\ntren2.txt"),
                      "Link," + both("routes\\bs\\ntlink.txt", "routes\\bs\\ntlink2.txt"),
                      "Copy," + both("routes\\bs\\ntcopy.txt", "routes\\bs\\ntcopy2.txt"),
                      "Copy," + both("routes\\bs\\copy.txt", "routes\\bs\\copy2.txt"),
                      "ReNm," + both("routes\\nb\\ntren.txt", "routes\\nb\\ntren2.txt"),
                      "Copy," + both("routes\\nb\\copy.txt", "routes\\nb\\copy2.txt")}));
}

}  // namespace
}  // namespace qvx
