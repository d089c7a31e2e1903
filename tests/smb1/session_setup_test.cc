#include "smb1/session_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Put16;
using test::Put32;
using test::Smb1;
using test::Smb1Ids;
using test::Utf16;

// An NTLMSSP message of the given type: the 72-byte head (the fields up to the version), with
// the user name at name_offset from the signature, then tail bytes.
std::vector<unsigned char> Ntlmssp(uint32_t type, const std::vector<unsigned char>& name,
                                   size_t name_offset = 72, size_t tail = 16) {
  std::vector<unsigned char> m(72, 0);
  std::memcpy(m.data(), "NTLMSSP", 8);
  Put32(m, 8, type);
  if (type == 1) m.resize(40);  // a NEGOTIATE message is shorter than the head read here
  if (type == 3) {
    Put16(m, 36, static_cast<unsigned>(name.size()));
    Put16(m, 38, static_cast<unsigned>(name.size()));
    Put32(m, 40, static_cast<uint32_t>(name_offset));
    if (m.size() < name_offset) m.resize(name_offset, 0xAA);
    m.insert(m.begin() + static_cast<long>(name_offset), name.begin(), name.end());
    m.resize(m.size() + tail, 0xBB);
  }
  return m;
}

// The extended-security request block (WordCount 12) with a blob of SPNEGO-like wrapping bytes
// around the message.
std::vector<unsigned char> SetupBody(const std::vector<unsigned char>& message,
                                     unsigned words = 12) {
  std::vector<unsigned char> blob = {0xA1, 0x82, 0x01, 0x20, 0x30, 0x82, 0x01, 0x1C, 0xA2, 0x04};
  blob.insert(blob.end(), message.begin(), message.end());
  std::vector<unsigned char> b(27, 0);
  b[0] = static_cast<unsigned char>(words);
  b[1] = 0xFF;
  Put16(b, 15, static_cast<unsigned>(blob.size()));
  Put16(b, 25, static_cast<unsigned>(blob.size()));
  b.insert(b.end(), blob.begin(), blob.end());
  return b;
}

class SmbSessionSetupTest : public test::Smb1HandlerTest {
 protected:
  void SetUp() override {
    Smb1HandlerTest::SetUp();
    OptionInfo.SessionSetupFlg = 1;
    run_.TakeOptions();
  }
  int Request(Frame f) {
    data.SMBCommand = 0x73;
    return QVX_SmbSessionSetupAndx(&f.smb1, f.Len, f.data(), f.cursor, At(f));
  }
  int Request(const std::vector<unsigned char>& body, const Smb1Ids& ids = {}) {
    return Request(Smb1(0x73, ids, body));
  }
  // The tree-connect answer that binds a pending row.
  int Answer(const Smb1Ids& ids) {
    Frame f = Smb1(0x75, ids, {}, true);
    data.SMBCommand = 0x75;
    return QVX_SmbSessionSetupAndxRecv(&f.smb1, f.Len, f.data(), f.cursor,
                                       OptionInfo.SessionSetupCnt, At(f));
  }
  int Rows() {
    int n = 0;
    for (int i = 0; i < OptionInfo.SessionSetupCnt; ++i) n += SessionSetup[i].Flg != kSlotFree;
    return n;
  }
};

TEST_F(SmbSessionSetupTest, TheAuthenticateUserIsKeptUpperCasedAndBoundByTheAnswer) {
  Smb1Ids ids;
  ids.tid = 0, ids.pid = 7658, ids.uid = 45792, ids.mid = 2;
  // The NEGOTIATE message of the log-on carries no name.
  EXPECT_EQ(Request(SetupBody(Ntlmssp(1, {}))), 10);
  EXPECT_EQ(Rows(), 0);
  ASSERT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("qvxUser"))), ids), 0);
  const SessionSetupSt& s = SessionSetup[0];
  EXPECT_EQ(s.Flg, kSlotWaiting);
  EXPECT_STREQ(s.Login_Name, "QVXUSER");
  EXPECT_STREQ(s.src_addr, "10.0.0.5");
  EXPECT_STREQ(s.dst_addr, "10.0.0.1");
  EXPECT_EQ(s.Pid, 7658u);
  EXPECT_EQ(s.Mid, 2u);
  // The same request captured twice keeps one row.
  ASSERT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("qvxUser"))), ids), 0);
  EXPECT_EQ(Rows(), 1);

  // Bound by the first tree-connect answer with the same PID; the second finds no pending row.
  Smb1Ids answer;
  answer.tid = 10981, answer.pid = 7658, answer.uid = 45792, answer.mid = 3;
  data.SMBCmdListFlg = 1;
  ASSERT_EQ(Answer(answer), 0);
  EXPECT_EQ(s.Flg, kSlotBound);
  EXPECT_EQ(s.Uid, 45792u);
  EXPECT_EQ(Answer(answer), 10);
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],session,,QVXUSER,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
      "cc:cc:cc:cc:cc:05,SMB_COM_TREE_CONNECT_ANDX,ツリー接続（＋後続コマンド）,,,"
      "[T:10981 P:7658 U:45792 M:3]"};
  EXPECT_EQ(LogLines(), want);
  EXPECT_EQ(nListIndex, 0);  // no list row for a session

  // The bound user names the client's accesses made with that UID.
  char user[512];
  EXPECT_EQ(QVX_UserNameSet("10.0.0.5", user, 45792), 0);
  EXPECT_STREQ(user, "QVXUSER");
}

// The Windows build upper-cases in its ANSI code page, whose texts a UTF-8 literal cannot give.
#ifndef _WIN32
TEST_F(SmbSessionSetupTest, NamesBeyondAsciiStayWhole) {
  // Letters with capitals of the same length are raised; Japanese has no case.
  ASSERT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("jürgen.山田")))), 0);
  EXPECT_STREQ(SessionSetup[0].Login_Name, "JÜRGEN.山田");
  Smb1Ids other;
  other.mid = 9;
  ASSERT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("ωмя"))), other), 0);
  EXPECT_STREQ(SessionSetup[1].Login_Name, "ΩМЯ");
}

#endif  // _WIN32

TEST_F(SmbSessionSetupTest, WhatIsNotRecorded) {
  // No extended security, and data bytes that run past the frame.
  EXPECT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("bob")), 13)), 10);
  // Anonymous: an empty name.
  EXPECT_EQ(Request(SetupBody(Ntlmssp(3, {}))), 0);
  // A Kerberos blob: no NTLMSSP signature.
  std::vector<unsigned char> krb(80, 0x6E);
  EXPECT_EQ(Request(SetupBody(krb)), 0);
  EXPECT_EQ(Rows(), 0);
  // With the log off a row is still bound, but no line is written.
  OptionInfo.LogFileWriteFlg = 0;
  ASSERT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("bob")))), 0);
  ASSERT_EQ(Answer({}), 0);
  EXPECT_EQ(SessionSetup[0].Flg, kSlotBound);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SmbSessionSetupTest, EveryLengthIsCheckedAtItsBoundary) {
  const std::vector<unsigned char> name = Utf16("carol");
  // A name that ends on the blob's last byte is whole.
  Frame exact = Smb1(0x73, {}, SetupBody(Ntlmssp(3, name, 72, 0)));
  ASSERT_EQ(Request(test::Cut(exact, exact.Len)), 0);
  EXPECT_STREQ(SessionSetup[0].Login_Name, "CAROL");

  // UserNameLen one byte past the blob, and an offset far past it.
  std::vector<unsigned char> msg = Ntlmssp(3, name, 72, 0);
  Put16(msg, 36, static_cast<unsigned>(name.size() + 1));
  Frame over = Smb1(0x73, {}, SetupBody(msg));
  EXPECT_EQ(Request(test::Cut(over, over.Len)), 10);
  msg = Ntlmssp(3, name, 72, 0);
  Put32(msg, 40, 0xFFFF);
  Frame far = Smb1(0x73, {}, SetupBody(msg));
  EXPECT_EQ(Request(test::Cut(far, far.Len)), 10);
  // Offset and length whose sum wraps in 16 bits.
  msg = Ntlmssp(3, name, 72, 0);
  Put16(msg, 36, 0xFFFF);
  Put32(msg, 40, 0xFFFF);
  Frame wrap = Smb1(0x73, {}, SetupBody(msg));
  EXPECT_EQ(Request(test::Cut(wrap, wrap.Len)), 10);

  // SecurityBlobLength one byte more than was received; the block itself cut short.
  Frame blob = Smb1(0x73, {}, SetupBody(Ntlmssp(3, name)));
  EXPECT_EQ(Request(test::Cut(blob, blob.Len - 1)), 10);
  Frame block = Smb1(0x73, {}, SetupBody(Ntlmssp(3, name)));
  EXPECT_EQ(Request(test::Cut(block, static_cast<unsigned long>(block.cursor - 1 + 26))), 10);
  Frame none = Smb1(0x73, {}, {});
  EXPECT_EQ(Request(test::Cut(none, none.Len)), 10);

  // 68 bytes from the signature are too few; 69 are enough to read the head.
  std::vector<unsigned char> short_msg = Ntlmssp(3, {}, 72, 0);
  short_msg.resize(68);
  EXPECT_EQ(Request(SetupBody(short_msg)), 10);
  short_msg.resize(69);
  EXPECT_EQ(Request(SetupBody(short_msg)), 0);  // UserNameLen 0: anonymous
  EXPECT_EQ(Rows(), 1);
}

TEST_F(SmbSessionSetupTest, AFullTableIsEmptiedAndTheNewRowTakesRowZero) {
  OptionInfo.ErrorLevel = 8;
  for (int i = 0; i < OptionInfo.SessionSetupCnt; ++i) SessionSetup[i].Flg = kSlotBound;
  ASSERT_EQ(Request(SetupBody(Ntlmssp(3, Utf16("dave")))), 0);
  EXPECT_EQ(Rows(), 1);
  EXPECT_STREQ(SessionSetup[0].Login_Name, "DAVE");
  const std::string k = Kernel();
  EXPECT_NE(k.find("QVX_E41-001 QVX_SmbSessionSetupAndx"), std::string::npos);
  EXPECT_NE(k.find("SessionSetup[1].Flg = 1"), std::string::npos);
  EXPECT_NE(k.find("(CLS) SessionSetup[1].Flg = 0"), std::string::npos);
  EXPECT_NE(k.find("QVX_I41-001 QVX_SmbSessionSetupAndx"), std::string::npos);
}

TEST_F(SmbSessionSetupTest, WithoutExtendedSecurityTheAccountIsInTheClientsStrings) {
  // WordCount 13: OEM and Unicode password lengths at 15 and 17, ByteCount at 27; the data bytes
  // hold both passwords, then the account and the domain.
  auto plain = [](const std::vector<unsigned char>& account, bool pad) {
    std::vector<unsigned char> b(29, 0);
    b[0] = 13;
    b[1] = 0xFF;
    Put16(b, 15, 24);
    Put16(b, 17, 0);
    b.resize(b.size() + 24, 0x11);
    if (pad) b.push_back(0);  // Unicode: the account at an even offset from the header
    b.insert(b.end(), account.begin(), account.end());
    for (int c : {0, 0, int{'Q'}, 0, 0, 0}) b.push_back(static_cast<unsigned char>(c));
    Put16(b, 27, static_cast<unsigned>(b.size() - 29));
    return b;
  };
  const std::string bob = "bob";
  ASSERT_EQ(Request(test::Oem(Smb1(0x73, {}, plain({bob.begin(), bob.end()}, false)))), 0);
  EXPECT_STREQ(SessionSetup[0].Login_Name, "BOB");
  Smb1Ids other;
  other.mid = 9;
  ASSERT_EQ(Request(plain(Utf16("carol"), true), other), 0);
  EXPECT_STREQ(SessionSetup[1].Login_Name, "CAROL");
  // An anonymous log-on names nobody.
  other.mid = 10;
  EXPECT_EQ(Request(plain({}, true), other), 0);
  EXPECT_EQ(Rows(), 2);
}

TEST_F(SmbSessionSetupTest, AnNtlmsspLogOnWithoutUnicodeSendsAnOemName) {
  const std::string dave = "dave";
  std::vector<unsigned char> m = Ntlmssp(3, {dave.begin(), dave.end()});
  Put32(m, 60, 0x00000002);  // NTLMSSP_NEGOTIATE_OEM alone
  ASSERT_EQ(Request(SetupBody(m)), 0);
  EXPECT_STREQ(SessionSetup[0].Login_Name, "DAVE");
}

}  // namespace
}  // namespace qvx
