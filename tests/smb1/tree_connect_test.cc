#include "smb1/tree_connect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Put16;
using test::Smb1;
using test::Smb1Ids;
using test::Utf16;

// Tree Connect AndX request: WordCount 4, no chained command, PasswordLength 1, the password
// byte, the path and its zero, the service. byte_count < 0: the count of these data bytes.
std::vector<unsigned char> ConnectBody(const std::string& path, long byte_count = -1,
                                       unsigned andx = 0xFF) {
  std::vector<unsigned char> b(12, 0);
  b[0] = 4;
  b[1] = static_cast<unsigned char>(andx);
  Put16(b, 7, 1);
  const std::vector<unsigned char> p = Utf16(path);
  b.insert(b.end(), p.begin(), p.end());
  for (char c : {'\0', '\0', '?', '?', '?', '?', '?', '\0'})
    b.push_back(static_cast<unsigned char>(c));
  Put16(b, 9, byte_count < 0 ? static_cast<unsigned>(b.size() - 11) : byte_count);
  return b;
}

class SmbTreeConnectTest : public test::Smb1HandlerTest {
 protected:
  void SetUp() override {
    Smb1HandlerTest::SetUp();
    request_.tid = 0xFFFF, request_.pid = 7658, request_.uid = 45792, request_.mid = 6;
  }
  int Request(Frame f) {
    data.SMBCommand = 0x75;
    return QVX_SmbTreeConnectAndx(&f.smb1, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                  At(f));
  }
  int Request(const std::string& path, const char* client = test::kClient,
              int port = test::kClientPort) {
    return Request(Smb1(0x75, request_, ConnectBody(path), false, client, port));
  }
  int Answer(uint16_t tid, const char* client = test::kClient, int port = test::kClientPort) {
    Smb1Ids a = request_;
    a.tid = tid;
    Frame f = Smb1(0x75, a, {}, true, client, port);
    data.SMBCommand = 0x75;
    return QVX_SmbTreeConnectAndxRecv(&f.smb1, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                      At(f));
  }
  int Disconnect(uint16_t tid) {
    Smb1Ids d = request_;
    d.tid = tid;
    d.mid = 40;
    Frame f = Smb1(0x71, d, {0, 0, 0});
    data.SMBCommand = 0x71;
    return QVX_SmbTreeDisConnectReq(&f.smb1, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                    At(f));
  }
  Smb1Ids request_;
};

TEST_F(SmbTreeConnectTest, LoginConnectAndDisconnectLinesAndRows) {
  ASSERT_EQ(Request("\\\\10.0.0.1\\DATA"), 0);
  const TreeConnectSt& t = TreeConnect[0];
  EXPECT_EQ(t.Flg, kSlotWaiting);
  EXPECT_STREQ(t.SharePath, "\\\\10.0.0.1\\DATA");
  EXPECT_STREQ(t.src_port, "50123");
  EXPECT_STREQ(t.Login_Name, "alice");
  ASSERT_EQ(nListIndex, 1);
  EXPECT_STREQ(AccessData[0].TreeID, "WAIT0");
  EXPECT_STREQ(AccessData[0].Action, "login");

  ASSERT_EQ(Answer(2048), 0);
  EXPECT_EQ(t.Flg, kSlotBound);
  EXPECT_EQ(t.Tid, 2048u);
  EXPECT_STREQ(AccessData[0].Action, "connect");
  EXPECT_STREQ(AccessData[0].TreeID, "2048");
  EXPECT_EQ(Answer(2048), 10);  // nothing pending any more

  ASSERT_EQ(Disconnect(2048), 0);
  EXPECT_EQ(t.Flg, kSlotDisconnected);
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[1].Action, "disconnect");
  EXPECT_STREQ(AccessData[1].Size, "0");
  EXPECT_STREQ(AccessData[1].Operation, "");
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],login,WAIT0,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,--,--,,,\\\\10.0.0.1\\DATA [T:65535 P:7658 U:45792 M:6]",
      "[2026/12/09 10:20:07],connect,2048,alice,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
      "cc:cc:cc:cc:cc:05,--,--,,,\\\\10.0.0.1\\DATA [T:2048 P:7658 U:45792 M:6][WAIT0]",
      // The identifiers of the connect request, not those of the disconnect.
      "[2026/12/09 10:20:07],disconnect,2048,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,--,--,,,\\\\10.0.0.1\\DATA [T:2048 P:7658 U:45792 M:6]",
  };
  EXPECT_EQ(LogLines(), want);
}

TEST_F(SmbTreeConnectTest, AnAnswerBindsTheTreeOfItsOwnClientConnection) {
  // Two clients, each on its first tree connect after the log-on: the same PID, UID and MID.
  ASSERT_EQ(Request("\\\\10.0.0.1\\DATA", "10.0.0.5", 50123), 0);
  ASSERT_EQ(Request("\\\\10.0.0.1\\PUBLIC", "10.0.0.6", 50200), 0);
  // The first client's answer is lost; the second client's arrives.
  ASSERT_EQ(Answer(7, "10.0.0.6", 50200), 0);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotWaiting);
  EXPECT_EQ(TreeConnect[1].Flg, kSlotBound);
  EXPECT_EQ(TreeConnect[1].Tid, 7u);
  EXPECT_STREQ(AccessData[0].TreeID, "WAIT0");
  EXPECT_STREQ(AccessData[1].TreeID, "7");
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[2].find(",connect,7,Not Find,10.0.0.6,"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("\\\\10.0.0.1\\PUBLIC [T:7 P:7658 U:45792 M:6][WAIT1]"),
            std::string::npos);
  // An answer on another connection of the first client binds nothing either.
  EXPECT_EQ(Answer(8, "10.0.0.5", 50999), 10);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotWaiting);
}

TEST_F(SmbTreeConnectTest, ShareNamesFromTheWireCannotForgeLines) {
  // A share name with a quote and CR LF: every tree line stays one line, its quoted field whole.
  OptionInfo.PathDubileCorteSet = 1;
  ASSERT_EQ(Request("\\\\10.0.0.1\\say \"hi\"\r\n[FAKE]"), 0);
  ASSERT_EQ(Answer(2048), 0);
  ASSERT_EQ(Disconnect(2048), 0);
  const std::string share = "\\\\10.0.0.1\\say \"\"hi\"\"<0D><0A>[FAKE]";
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],login,WAIT0,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,--,--,,,\"" +
          share + " [T:65535 P:7658 U:45792 M:6]\"",
      "[2026/12/09 10:20:07],connect,2048,alice,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
      "cc:cc:cc:cc:cc:05,--,--,,,\"" +
          share + " [T:2048 P:7658 U:45792 M:6][WAIT0]\"",
      "[2026/12/09 10:20:07],disconnect,2048,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,--,--,,,\"" +
          share + " [T:2048 P:7658 U:45792 M:6]\""};
  EXPECT_EQ(LogLines(), want);
  // The row keeps the name as it came; the tree still matches its share by it.
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\10.0.0.1\\say \"hi\"\r\n[FAKE]");
}

TEST_F(SmbTreeConnectTest, TheConnectLineOutlivesItsListRow) {
  OptionInfo.AccessDataCnt = 1;
  ASSERT_EQ(Request("\\\\10.0.0.1\\DATA"), 0);
  // The next row finds the list full: the oldest row, the login row, makes room for it.
  request_.mid = 7;
  ASSERT_EQ(Request("\\\\10.0.0.1\\OTHER"), 0);
  EXPECT_EQ(nListIndex, 1);
  request_.mid = 6;
  ASSERT_EQ(Answer(2048), 0);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotBound);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2],
            "[2026/12/09 10:20:07],connect,2048,alice,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
            "cc:cc:cc:cc:cc:05,--,--,,,\\\\10.0.0.1\\DATA [T:2048 P:7658 U:45792 M:6][WAIT0]");
}

TEST_F(SmbTreeConnectTest, TheWaitRowIsFoundWithTheListHidden) {
  OptionInfo.AccessLogOnly = 1;
  ASSERT_EQ(Request("\\\\10.0.0.1\\DATA"), 0);
  ASSERT_EQ(Answer(300), 0);
  EXPECT_STREQ(AccessData[0].Action, "connect");
  EXPECT_STREQ(AccessData[0].TreeID, "300");
  EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(SmbTreeConnectTest, LengthsAreCheckedAgainstTheFrame) {
  // The data bytes up to the path's end and one byte of the service lie in the frame.
  Frame f = Smb1(0x75, request_, ConnectBody("\\\\s\\a"));
  const unsigned long whole = f.Len;
  EXPECT_EQ(Request(test::Cut(f, whole - 2)), 0);  // ByteCount - 3 bytes are there: enough
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\s\\a");
  EXPECT_EQ(Request(test::Cut(f, whole - 3)), 10);  // one byte less
  // The block cut short; a frame ending at the WordCount byte.
  EXPECT_EQ(Request(test::Cut(f, static_cast<unsigned long>(f.cursor - 1 + 11))), 10);
  EXPECT_EQ(Request(test::Cut(f, static_cast<unsigned long>(f.cursor - 1))), 10);
  // ByteCounts too small for a path are an empty path, never a huge copy.
  for (long bc : {0, 1, 2, 3})
    EXPECT_EQ(Request(Smb1(0x75, request_, ConnectBody("\\\\s\\b", bc))), 10);
  // 1022 data bytes are the most.
  std::vector<unsigned char> big = ConnectBody("\\\\s\\" + std::string(500, 'c'));
  big.resize(12 + 1022 - 1, 0);
  Put16(big, 9, 1022);
  EXPECT_EQ(Request(Smb1(0x75, request_, big)), 0);
  big.push_back(0);
  Put16(big, 9, 1023);
  EXPECT_EQ(Request(Smb1(0x75, request_, big)), 10);
  EXPECT_NE(Kernel().find("ByteCount　サイズエラー ByteCount=1023"), std::string::npos);
  // Another WordCount, or a command chained behind it.
  std::vector<unsigned char> words = ConnectBody("\\\\s\\d");
  words[0] = 3;
  EXPECT_EQ(Request(Smb1(0x75, request_, words)), 10);
  EXPECT_EQ(Request(Smb1(0x75, request_, ConnectBody("\\\\s\\e", -1, 0x2D))), 10);
  EXPECT_EQ(nListIndex, 2);
}

TEST_F(SmbTreeConnectTest, PipesAreLeftOutAndExcludedSharesStaySilent) {
  EXPECT_EQ(Request("\\\\10.0.0.1\\IPC$"), 0);  // IPC$ itself is a tree like any other
  EXPECT_EQ(Request("\\\\10.0.0.1\\PIPE\\x"), 10);
  EXPECT_EQ(nListIndex, 1);

  std::snprintf(ExclusionInfoData[0], kFilterLineSize, "01,00000000,-,00000000,0,0,1,*secret");
  ExclusionInfoDataNo = 1;
  request_.mid = 9;
  EXPECT_EQ(Request("\\\\10.0.0.1\\secret"), 10);
  EXPECT_EQ(TreeConnect[1].Flg, kSlotWaiting);
  EXPECT_EQ(Answer(12), 10);  // bound, but nothing is written
  EXPECT_EQ(TreeConnect[1].Flg, kSlotBound);
  EXPECT_EQ(Disconnect(12), 10);
  EXPECT_EQ(TreeConnect[1].Flg, kSlotDisconnected);
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(SmbTreeConnectTest, ThePathFollowsThePasswordInTheClientsStrings) {
  // A share-level password of 24 bytes, then the path and the service. OEM: no pad.
  std::vector<unsigned char> oem(12 - 1, 0);
  oem[0] = 4;
  oem[1] = 0xFF;
  Put16(oem, 7, 24);
  oem.resize(oem.size() + 24, 0xA5);
  for (char c : std::string("\\\\10.4.30.5\\C$")) oem.push_back(static_cast<unsigned char>(c));
  for (char c : {'\0', '?', '?', '?', '?', '?', '\0'}) oem.push_back(static_cast<unsigned char>(c));
  Put16(oem, 9, static_cast<unsigned>(oem.size() - 11));
  ASSERT_EQ(Request(test::Oem(Smb1(0x75, request_, oem))), 0);
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\10.4.30.5\\C$");
  // Unicode: the password ends at an odd offset from the header (11 + 24 after the 32 bytes of
  // the header and the WordCount byte), so a pad byte precedes the path.
  std::vector<unsigned char> wide(12 - 1, 0);
  wide[0] = 4;
  wide[1] = 0xFF;
  Put16(wide, 7, 24);
  wide.resize(wide.size() + 24 + 1, 0xA5);
  const std::vector<unsigned char> path = Utf16("\\\\10.0.0.1\\DOCS");
  wide.insert(wide.end(), path.begin(), path.end());
  for (char c : {'\0', '\0', '?', '?', '?', '?', '?', '\0'})
    wide.push_back(static_cast<unsigned char>(c));
  Put16(wide, 9, static_cast<unsigned>(wide.size() - 11));
  ASSERT_EQ(Request(Smb1(0x75, request_, wide)), 0);
  EXPECT_STREQ(TreeConnect[1].SharePath, "\\\\10.0.0.1\\DOCS");
}

TEST_F(SmbTreeConnectTest, TheAnswersServiceTellsATreeOfPipes) {
  // The answer: WordCount 3 (AndX, OptionalSupport), ByteCount, Service in OEM text, the file
  // system.
  auto answer = [this](uint16_t tid, const std::string& service) {
    std::vector<unsigned char> b = {3, 0xFF, 0, 0, 0, 1, 0, 0, 0};
    for (char c : service) b.push_back(static_cast<unsigned char>(c));
    b.push_back(0);
    Put16(b, 7, static_cast<unsigned>(b.size() - 9));
    Smb1Ids a = request_;
    a.tid = tid;
    Frame f = Smb1(0x75, a, b, true);
    return QVX_SmbTreeConnectAndxRecv(&f.smb1, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                      &data);
  };
  ASSERT_EQ(Request("\\\\10.0.0.1\\RPC"), 0);
  ASSERT_EQ(answer(5, "IPC"), 0);
  EXPECT_EQ(TreeConnect[0].Pipe, 1);
  ASSERT_EQ(Request("\\\\10.0.0.1\\DATA"), 0);
  ASSERT_EQ(answer(6, "A:"), 0);
  EXPECT_EQ(TreeConnect[1].Pipe, 0);
}

TEST_F(SmbTreeConnectTest, TheDisconnectOfAnUnknownTreeWritesNothing) {
  EXPECT_EQ(Disconnect(999), 10);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(nListIndex, 0);
}

}  // namespace
}  // namespace qvx
