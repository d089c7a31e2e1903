#include "smb1/other_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit/answer.h"
#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Smb1;
using test::Utf16;

// QUERY_INFORMATION: WordCount 0, ByteCount, buffer format 4, the path (at an even offset from
// the header) and its zero.
std::vector<unsigned char> QueryBody(const std::vector<unsigned char>& path) {
  std::vector<unsigned char> b = {0, 0, 0, 4};
  b.insert(b.end(), path.begin(), path.end());
  b.push_back(0);
  b.push_back(0);
  test::Put16(b, 1, static_cast<unsigned>(b.size() - 3));
  return b;
}

// A TRANS2 request: 15 words with the subcommand in the setup word, a pad, then the parameters
// at the offset (from the header) that ParameterOffset gives.
std::vector<unsigned char> Trans2Body(unsigned sub, const std::vector<unsigned char>& params) {
  std::vector<unsigned char> t(1 + 2 * 15 + 2, 0);
  t[0] = 15;
  test::Put16(t, 1 + 2 * 14, sub);
  t.push_back(0);  // pad: the parameters start at 32 + 34, even
  test::Put16(t, 1 + 2 * 9, static_cast<unsigned>(params.size()));
  test::Put16(t, 1 + 2 * 10, 32 + static_cast<unsigned>(t.size()));
  t.insert(t.end(), params.begin(), params.end());
  test::Put16(t, 1 + 2 * 15, static_cast<unsigned>(params.size() + 1));
  return t;
}

// Parameters of a TRANS2 that names its object after head bytes of other fields.
std::vector<unsigned char> NamedParams(size_t head, const std::vector<unsigned char>& name) {
  std::vector<unsigned char> p(head, 0);
  p.insert(p.end(), name.begin(), name.end());
  p.push_back(0);
  p.push_back(0);
  return p;
}

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class SmbOtherCmdTest : public test::Smb1HandlerTest {
 protected:
  void SetUp() override {
    Smb1HandlerTest::SetUp();
    data.SMBCommand = 0x08;
    // The share's folder listed with a trailing separator.
    ServerShare sh;
    sh.name = "data";
    sh.path = share_dir_ + kPathSep;
    fake.SetShares({sh});
    NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
    ConnectedTree(0, 2049);
  }
  int Other(Frame f) { return QVX_SmbOtherCmd(&f.smb1, f.Len, f.data(), f.cursor, At(f)); }
  int Other(const std::string& path, uint16_t uid = 100) {
    return Other(Smb1(0x08, 2049, uid, QueryBody(Utf16(path))));
  }
};

TEST_F(SmbOtherCmdTest, UnicodePathUnderTheShareFolder) {
  SetFile("docs\\a.txt", 1000, 500, 1234);
  ASSERT_EQ(Other("\\docs\\a.txt"), 0);
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"[2026/12/09 10:20:07],access,2049,alice,10.0.0.5,10.0.0.1,"
                                     "cc:cc:cc:cc:cc:05,ss:ss:ss:ss:ss:01,--,--,1234,Rd  ," +
                                     Local("docs\\a.txt")});
  EXPECT_EQ(std::string(TreeConnect[0].ShareLocalPath), share_dir_);

  // A command whose layout is not known is searched for a Unicode path: single-byte text forms
  // no pattern.
  std::vector<unsigned char> ascii = {'\\', 'd', 'o', 'c', 's', '\\', 'b'};
  EXPECT_EQ(Other(Smb1(0xA0, 2049, 100, QueryBody(ascii))), 10);
  // A frame that ends before the WordCount byte.
  Frame stub = Smb1(0x08, 2049, 100, {});
  EXPECT_EQ(Other(stub), 10);
}

TEST_F(SmbOtherCmdTest, GoneObjectsFollowTheDeleteSetting) {
  ASSERT_EQ(OptionInfo.smb1_com_other_del_off, 1);
  EXPECT_EQ(Other("\\gone.txt"), 10);
  EXPECT_TRUE(LogLines().empty());
  OptionInfo.smb1_com_other_del_off = 0;
  run_.TakeOptions();
  EXPECT_EQ(Other("\\gone.txt"), 0);
  EXPECT_EQ(std::string(AccessData[0].Operation), "Del ");
}

TEST_F(SmbOtherCmdTest, TheHeadersUidNamesTheUser) {
  OptionInfo.SessionSetupFlg = 1;
  run_.TakeOptions();
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  BoundSession(0, 100, "BOB");
  SetFile("a.txt", 1000, 500, 1);
  ASSERT_EQ(Other("\\a.txt", 100), 0);
  EXPECT_STREQ(AccessData[0].LoginName, "BOB");
  ASSERT_EQ(Other("\\a.txt", 101), 0);  // another user id: the server's session list
  EXPECT_STREQ(AccessData[1].LoginName, "alice");
}

TEST_F(SmbOtherCmdTest, HandlesAndCountsAreNoNames) {
  OptionInfo.smb1_com_other_del_off = 0;
  run_.TakeOptions();
  // QUERY_INFORMATION2 of FID 0x005C: the FID's bytes and the ByteCount after them once read as
  // a path beginning with a backslash.
  EXPECT_EQ(Other(Smb1(0x23, 2049, 100, {1, 0x5C, 0, 4, 0, 0x37, 0x45, 0, 0})), 10);
  // TRANS2 SET_FILE_INFORMATION: its parameters start with the FID.
  const std::vector<unsigned char> params = {0x5C, 0, 0x01, 0x01, 'a', 0, 0, 0};
  EXPECT_EQ(Other(Smb1(0x32, 2049, 100, Trans2Body(8, params))), 10);
  EXPECT_TRUE(LogLines().empty());
  // QUERY_PATH_INFORMATION (5) names its object after the level and a reserved field.
  EXPECT_EQ(Other(Smb1(0x32, 2049, 100, Trans2Body(5, NamedParams(6, Utf16("\\a"))))), 0);
  EXPECT_EQ(LogLines().size(), 1u);
  // A frame that ends inside its parameter words.
  EXPECT_EQ(Other(Smb1(0x23, 2049, 100, {3, 0x5C, 0, 'a', 0})), 10);
}

TEST_F(SmbOtherCmdTest, ASearchForOneNameIsNoAccess) {
  OptionInfo.smb1_com_other_del_off = 0;
  run_.TakeOptions();
  SetFile("s1\\deleteme.txt", 1000, 500, 10);
  SetFile("s1", 1000, 500, 0);
  // TRANS2 FIND_FIRST2: words with the subcommand in the setup word, then the parameters
  // (SearchAttributes, SearchCount, Flags, InformationLevel, SearchStorageType) and the name.
  auto find_first = [](const std::string& pattern) {
    return Trans2Body(1, NamedParams(12, Utf16(pattern)));
  };
  // smbclient's del looks the name up before it deletes it: that look-up read nothing, and a
  // verdict from the time stamps would depend on whether the delete had happened yet.
  EXPECT_EQ(Other(Smb1(0x32, 2049, 100, find_first("\\s1\\deleteme.txt"))), 10);
  EXPECT_TRUE(LogLines().empty());
  // A listing reads the folder.
  ASSERT_EQ(Other(Smb1(0x32, 2049, 100, find_first("\\s1\\*"))), 0);
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find(",Rd  ," + Local("s1")), std::string::npos) << LogLines()[0];
}

TEST_F(SmbOtherCmdTest, NamesInTheClientsStringsAndNeverInPipeData) {
  SetFile("docs\\a.txt", 1000, 500, 3);
  // OEM QUERY_INFORMATION and TRANS2 QUERY_PATH_INFORMATION name their objects as Unicode ones do.
  std::vector<unsigned char> q = {0, 0, 0, 4};
  for (char c : std::string("\\docs\\a.txt")) q.push_back(static_cast<unsigned char>(c));
  q.push_back(0);
  test::Put16(q, 1, static_cast<unsigned>(q.size() - 3));
  ASSERT_EQ(Other(test::Oem(Smb1(0x08, 2049, 100, q))), 0);
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  std::vector<unsigned char> name = Bytes("\\docs\\a.txt");
  name.push_back(0);
  ASSERT_EQ(Other(test::Oem(Smb1(0x32, 2049, 100, Trans2Body(5, NamedParams(6, name))))), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& l : lines)
    EXPECT_NE(l.find(",3,Rd  ," + Local("docs\\a.txt")), std::string::npos) << l;
  // A named-pipe transaction whose data holds a Unicode path is still no access.
  std::vector<unsigned char> t(1 + 2 * 16 + 2, 0);
  t[0] = 16;
  const std::vector<unsigned char> path = Utf16("\\docs\\a.txt");
  t.insert(t.end(), path.begin(), path.end());
  test::Put16(t, 1 + 2 * 16, static_cast<unsigned>(path.size()));
  EXPECT_EQ(Other(Smb1(0x25, 2049, 100, t)), 10);
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(SmbOtherCmdTest, ARefusedPathQueryFollowsItsAnswer) {
  // The object exists here, but the server's answer decides.
  SetFile("docs\\a.txt", 1000, 500, 3);
  const Frame query = Smb1(0x32, 2049, 100, Trans2Body(5, NamedParams(6, Utf16("\\docs\\a.txt"))));
  AnswerFacts a;
  a.status = 0xC0000034;  // not found: no line
  run_->answer = &a;
  EXPECT_EQ(Other(query), 0);
  EXPECT_TRUE(LogLines().empty());
  a.status = 0xC0000022;  // refused for the user's rights: a denied line
  EXPECT_EQ(Other(query), 0);
  run_->answer = nullptr;
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(",denied,2049,alice,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(",STATUS_ACCESS_DENIED,0,Rd  ," + Local("docs\\a.txt")),
            std::string::npos)
      << lines[0];
}

}  // namespace
}  // namespace qvx
