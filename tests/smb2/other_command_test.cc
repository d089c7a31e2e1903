#include "smb2/other_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audit/file_access.h"
#include "smb2/handler_fixture.h"

namespace qvx {
namespace {

using test::Frame;
using test::Smb2;
using test::Smb2Ids;
using test::Utf16;

// SET_INFO FileRenameInformation whose new name is name (no terminator), FileId all 0x11.
std::vector<unsigned char> RenameBody(const std::string& name) {
  std::vector<unsigned char> n = Utf16(name);
  std::vector<unsigned char> b(32, 0);
  test::Put16(b, 0, 33);
  b[2] = 1;   // SMB2_0_INFO_FILE
  b[3] = 10;  // FileRenameInformation
  test::Put32(b, 4, static_cast<uint32_t>(20 + n.size()));
  test::Put16(b, 8, 64 + 32);
  for (int i = 16; i < 32; ++i) b[i] = 0x11;
  std::vector<unsigned char> info(20, 0);
  test::Put32(info, 16, static_cast<uint32_t>(n.size()));
  b.insert(b.end(), info.begin(), info.end());
  b.insert(b.end(), n.begin(), n.end());
  return b;
}

// QUERY_DIRECTORY whose FileName is the bytes name (as sent), FileId file_id.
std::vector<unsigned char> SearchBody(
    const std::vector<unsigned char>& name,
    const std::vector<unsigned char>& file_id = std::vector<unsigned char>(16, 0x22)) {
  std::vector<unsigned char> b(32, 0);
  test::Put16(b, 0, 33);
  b[2] = 37;  // FileIdBothDirectoryInformation
  std::copy(file_id.begin(), file_id.end(), b.begin() + 8);
  test::Put16(b, 24, 64 + 32);
  test::Put16(b, 26, static_cast<unsigned>(name.size()));
  test::Put32(b, 28, 65536);
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

class Smb2OtherCmdTest : public test::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    data.SMBCommand = 17;  // SET_INFO
    ConnectedTree(0, 7);
  }
  int Other(Frame f) { return QVX_Smb2OtherCmd(&f.smb2, f.Len, f.data(), f.cursor, At(f)); }
  // A request of command with body, on tree.
  int Request(uint16_t command, const std::vector<unsigned char>& body, uint32_t tree = 7) {
    Smb2Ids ids;
    ids.tree_id = tree;
    return Other(Smb2(command, ids, body));
  }
  // A rename's body as it is, any other name as a directory search's pattern.
  int Other(const std::vector<unsigned char>& body, uint32_t tree = 7) {
    if (body.size() > 3 && body[0] == 33 && body[2] == 1 && body[3] == 10)
      return Request(17, body, tree);
    return Request(14, SearchBody(body), tree);
  }
  std::string Line(const std::string& size, const std::string& op, const std::string& path) {
    return "[2026/12/09 10:20:07],access,7,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
           "ss:ss:ss:ss:ss:01,-,-," +
           size + "," + op + "," + path;
  }
};

TEST_F(Smb2OtherCmdTest, RenameIsRecordedWithItsWholeTargetName) {
  // The target dir\new.txt names the file in dir, not one in the share's root.
  ASSERT_EQ(Other(RenameBody("dir\\new.txt")), 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{Line("0", "Del ", Local("dir\\new.txt"))});
  // A target in the share's root carries no backslash at all, and is still recorded.
  ASSERT_EQ(Other(RenameBody("top.txt")), 0);
  EXPECT_EQ(LogLines().back(), Line("0", "Del ", Local("top.txt")));
  // A name length beyond the frame is not followed, and no other backslash of the body is taken
  // for the name.
  std::vector<unsigned char> cut = RenameBody("sub\\cut.txt");
  test::Put32(cut, 32 + 16, 4000);
  EXPECT_EQ(Other(cut), 10);
  EXPECT_EQ(LogLines().size(), 2u);
  nListIndex = 1;
  EXPECT_EQ(std::string(TreeConnect[0].ShareLocalPath), share_dir_);
  // An existing object: its size and the time-stamp verdict.
  SetFile("docs\\b.txt", 1000, 0, 77);
  ASSERT_EQ(Other(RenameBody("\\docs\\b.txt")), 0);
  EXPECT_EQ(LogLines().back(), Line("77", "Wt  ", Local("docs\\b.txt")));
  EXPECT_EQ(nListIndex, 2);
}

TEST_F(Smb2OtherCmdTest, BodiesWithoutAPathOrWithAPipeAreDropped) {
  EXPECT_EQ(Other(std::vector<unsigned char>(40, 0)), 10);
  EXPECT_EQ(Other({0x5C, 0, 0, 0, 0x41, 0}), 10);  // a lone backslash
  EXPECT_EQ(Other({0x5C, 'd', 0, 'o', 0}), 10);    // single-byte text
  Frame empty = Smb2(14, {}, {});
  EXPECT_EQ(Other(empty), 10);
  EXPECT_EQ(Other(Utf16("\\srvsvc")), 10);
  EXPECT_EQ(Other(Utf16("\\a:b\\c")), 10);
  EXPECT_EQ(nListIndex, 0);
  EXPECT_TRUE(LogLines().empty());
  OptionInfo.AllPacketGet = 1;
  run_.TakeOptions();
  EXPECT_EQ(Other(Utf16("\\srvsvc")), 0);
  EXPECT_EQ(nListIndex, 1);
}

TEST_F(Smb2OtherCmdTest, PathsStayInsideTheFrameAndTheirBuffer) {
  // The bytes after Len would continue the name; the frame ends after \x.
  Smb2Ids ids;
  ids.tree_id = 7;
  Frame cut = Smb2(14, ids, SearchBody(Utf16("\\xyz")));
  cut.Len -= 4;
  cut.bytes.resize(cut.Len);
  cut.bytes.shrink_to_fit();
  ASSERT_EQ(Other(cut), 0);
  EXPECT_EQ(std::string(AccessData[0].Path), Local("x"));

  // A 600-unit path fills the buffer: it is cut to 511 units, terminated inside it.
  ASSERT_EQ(Other(Utf16("\\" + std::string(599, 'a'))), 0);
  EXPECT_EQ(LogLines().back(), Line("0", "Del ", Local(std::string(510, 'a'))));
}

TEST_F(Smb2OtherCmdTest, RenameTargetsOutsideTheShareAreMarkedAndNotLookedUp) {
  FileInfo fi;
  fi.size = 99;
  fake.SetFileInfo(Local("..\\outside.txt"), fi);
  ASSERT_EQ(Other(RenameBody("dir\\..\\..\\outside.txt")), 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            Line("0", "Err", "[outside share] \\dir\\..\\..\\outside.txt")});
  // Within the share the target is resolved.
  ASSERT_EQ(Other(RenameBody("dir\\..\\in.txt")), 0);
  EXPECT_EQ(LogLines().back(), Line("0", "Del ", Local("in.txt")));
  // Nothing on IPC$ is a file.
  ConnectedTree(1, 9, "\\\\10.0.0.1\\IPC$");
  EXPECT_EQ(Other(Utf16("\\lsarpc"), 9), 10);
  EXPECT_EQ(Other(RenameBody("x.txt"), 9), 10);
  EXPECT_EQ(nListIndex, 2);
}

TEST_F(Smb2OtherCmdTest, ASearchPatternReadsTheFolderItLists) {
  // A listing's pattern (as an SMB1 client's FIND_FIRST2 sends it): the folder is read, whatever
  // its time stamps say (it is not on this machine at all here).
  ASSERT_EQ(Other(Utf16("\\docs\\*")), 0);
  ASSERT_EQ(Other(Utf16("\\docs\\sub\\a?.txt")), 0);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{Line("0", "Rd  ", Local("docs")),
                                                  Line("0", "Rd  ", Local("docs\\sub"))}));
  // The share root's listing is no access of a folder.
  EXPECT_EQ(Other(Utf16("\\*")), 10);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(Smb2OtherCmdTest, BinaryBodiesNeverReachALineRaw) {
  // The first backslash of an IOCTL or WRITE body may start binary data: its units become
  // control characters (CR, LF, ESC), a C1 control and a line separator.
  ASSERT_EQ(Other({0x5C, 0, 'b', 0, 0x0D, 0, 0x0A, 0, 0x1B, 0, 0x85, 0, 0x28, 0x20, 'z', 0, 0, 0}),
            0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
#ifdef _WIN32
  EXPECT_NE(lines[0].find("b<0D><0A><1B>"), std::string::npos) << lines[0];
#else
  EXPECT_EQ(lines[0], Line("0", "Del ", Local("b")) + "<0D><0A><1B><C2><85><E2><80><A8>z");
#endif
}

TEST_F(Smb2OtherCmdTest, BinaryFieldsAreNoNames) {
  // Samba's file ids are random: one holding 5C 00 37 45 00 00 once gave the line of a file
  // "\\\xe4\x94\xb7" that nobody named. Requests on a handle carry no name at all.
  const std::vector<unsigned char> id = {0x5C, 0, 0x37, 0x45, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<unsigned char> close(24, 0), query(40, 0), flush(24, 0);
  test::Put16(close, 0, 24);
  std::copy(id.begin(), id.end(), close.begin() + 8);
  test::Put16(query, 0, 41);
  std::copy(id.begin(), id.end(), query.begin() + 24);
  test::Put16(flush, 0, 24);
  std::copy(id.begin(), id.end(), flush.begin() + 8);
  EXPECT_EQ(Request(6, close), 10);
  EXPECT_EQ(Request(16, query), 10);
  EXPECT_EQ(Request(7, flush), 10);
  // A search names the folder's pattern only: the file id before it is not looked at, and a
  // pattern without a backslash names nothing.
  EXPECT_EQ(Request(14, SearchBody(Utf16("old notes.txt"), id)), 10);
  // SET_INFO of other classes (times, sizes) carries binary data only.
  std::vector<unsigned char> times = RenameBody("x");
  times[3] = 4;  // FileBasicInformation
  test::Put32(times, 32, 0x0045375C);
  EXPECT_EQ(Request(17, times), 10);
  // A session setup's security blob is binary as well.
  std::vector<unsigned char> setup(24, 0);
  test::Put16(setup, 0, 25);
  const std::vector<unsigned char> blob = {0x5C, 0, 'a', 0, 'b', 0, 0, 0};
  setup.insert(setup.end(), blob.begin(), blob.end());
  EXPECT_EQ(Request(1, setup), 10);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(nListIndex, 0);
  // A hard link names its new name, as a rename does.
  std::vector<unsigned char> link = RenameBody("dir\\link.txt");
  link[3] = 11;
  ASSERT_EQ(Request(17, link), 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{Line("0", "Del ", Local("dir\\link.txt"))});
}

TEST_F(Smb2OtherCmdTest, RenameLengthsThatWrapAreRefused) {
  // BufferLength and FileNameLength near 4 GiB: summed in 32 bits (unsigned long on Windows)
  // each bound lands back inside this short frame, and the name would be read far past it.
  Smb2Ids ids;
  ids.tree_id = 7;
  Frame f = Smb2(17, ids, RenameBody("a"));
  const unsigned long body = static_cast<unsigned long>(f.cursor - 1);
  const unsigned long buffer = body - 64 + 64 + 32;
  ASSERT_EQ(buffer + 22, f.Len);
  test::Put32(f.bytes, body + 4, 0xFFFFFFFFu - 99);      // buffer + this wraps to 40
  test::Put32(f.bytes, buffer + 16, 0xFFFFFFFFu - 129);  // buffer + 20 + this wraps to 30
  unsigned char wide[kWideNameSize] = {};
  EXPECT_FALSE(QVX_Smb2RenameTarget(f.data(), f.Len, body, wide, sizeof wide));
  EXPECT_EQ(wide[0], 0);
  // A FileNameLength one unit past the frame is refused as well.
  Frame g = Smb2(17, ids, RenameBody("ab"));
  test::Put32(g.bytes, buffer + 16, 6);
  EXPECT_FALSE(QVX_Smb2RenameTarget(g.data(), g.Len, body, wide, sizeof wide));
  test::Put32(g.bytes, buffer + 16, 4);
  EXPECT_TRUE(QVX_Smb2RenameTarget(g.data(), g.Len, body, wide, sizeof wide));
}

TEST_F(Smb2OtherCmdTest, UnknownShareAndModesWithoutTimeStamps) {
  ConnectedTree(1, 9, "\\\\10.0.0.1\\gone");
  ASSERT_EQ(Other(Utf16("\\docs\\a.txt"), 9), 0);
  EXPECT_EQ(Other(Utf16("\\docs\\a.txt"), 9), 10);
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"[2026/12/09 10:20:07],unknown,9,,10.0.0.5,10.0.0.1,"
                                     "cc:cc:cc:cc:cc:05,ss:ss:ss:ss:ss:01,-,-,,,\\docs\\a.txt"});

  SetFile("a.txt", 1000, 0, 5);
  OptionInfo.SameAccNonLogFlg = 0;
  nAccessKindFlg = 1;  // no access mask here: nothing to judge from
  run_.TakeOptions();
  ASSERT_EQ(Other(Utf16("\\a.txt")), 0);
  EXPECT_EQ(LogLines().back(), Line("5", "Err", Local("a.txt")));
  nAccessKindFlg = 0;
  run_.TakeOptions();
  ASSERT_EQ(Other(Utf16("\\a.txt")), 0);
  EXPECT_EQ(LogLines().back(), Line("5", "Err", Local("a.txt")));
  nAccessKindFlg = 2;
  run_.TakeOptions();
  ASSERT_EQ(Other(Utf16("\\a.txt")), 0);
  EXPECT_EQ(LogLines().back(), Line("5", "Wt  ", Local("a.txt")));
}

}  // namespace
}  // namespace qvx
