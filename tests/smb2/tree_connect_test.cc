#include "smb2/tree_connect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smb2/handler_fixture.h"
#include "support/ntlm_message.h"

namespace qvx {
namespace {

using test::Frame;
using test::Smb2;
using test::Smb2Ids;
using test::TreeConnectBody;

class Smb2TreeConnectTest : public test::HandlerTest {
 protected:
  int Request(Frame f) {
    data.SMBCommand = 3;
    return QVX_Smb2TreeConnectAndx(&f.smb2, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                   At(f));
  }
  int Response(Frame f) {
    data.SMBCommand = 3;
    return QVX_Smb2TreeConnectAndxRecv(&f.smb2, f.Len, f.data(), f.cursor,
                                       OptionInfo.TreeConnectCnt, At(f));
  }
  // A connect request with MessageId message_id and its answer with TreeId tree_id; the
  // identifiers of the tree.
  Smb2Ids Connect(uint64_t message_id, uint32_t tree_id) {
    Smb2Ids ids;
    ids.message_id = message_id;
    EXPECT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\data"))), 0);
    ids.tree_id = tree_id;
    EXPECT_EQ(Response(Smb2(3, ids, {}, true)), 0);
    return ids;
  }
  int Disconnect(Frame f) {
    data.SMBCommand = 4;
    return QVX_Smb2TreeDisConnectReq(&f.smb2, f.Len, f.data(), f.cursor, OptionInfo.TreeConnectCnt,
                                     At(f));
  }
};

TEST_F(Smb2TreeConnectTest, LoginConnectAndDisconnectLinesAndRows) {
  Smb2Ids ids;
  ids.message_id = 256;  // bytes 00 01 00 ...: a zero low byte pairs like any other
  ASSERT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\data"))), 0);
  const TreeConnectSt& t = TreeConnect[0];
  EXPECT_EQ(t.Flg, kSlotWaiting);
  EXPECT_STREQ(t.SharePath, "\\\\srv\\data");
  EXPECT_STREQ(t.src_addr, "10.0.0.5");
  EXPECT_STREQ(t.dst_addr, "10.0.0.1");
  EXPECT_STREQ(t.src_port, "50123");
  EXPECT_STREQ(t.dst_port, "445");
  EXPECT_STREQ(t.Login_Name, "alice");
  ASSERT_EQ(nListIndex, 1);
  EXPECT_STREQ(AccessData[0].Action, "login");
  EXPECT_STREQ(AccessData[0].TreeID, "WAIT0");
  EXPECT_STREQ(AccessData[0].Path, "\\\\srv\\data");
  EXPECT_STREQ(AccessData[0].Size, "");

  // The answer from another server, or to another MessageId, binds nothing.
  Smb2Ids answer = ids;
  answer.tree_id = 261;
  Frame foreign = Smb2(3, answer, {}, true);
  foreign.ends = test::Ends(test::kClient, test::kClientPort, "10.0.0.9");  // from 10.0.0.9
  EXPECT_EQ(Response(foreign), 10);
  Smb2Ids other = answer;
  other.message_id = 257;
  EXPECT_EQ(Response(Smb2(3, other, {}, true)), 10);
  EXPECT_EQ(t.Flg, kSlotWaiting);

  ASSERT_EQ(Response(Smb2(3, answer, {}, true)), 0);
  EXPECT_EQ(t.Flg, kSlotBound);
  EXPECT_EQ(t.Tid, 261u);
  EXPECT_EQ(nListIndex, 1);  // the login row became the connect row
  EXPECT_STREQ(AccessData[0].Action, "connect");
  EXPECT_STREQ(AccessData[0].TreeID, "261");
  EXPECT_STREQ(AccessData[0].LoginName, "alice");

  Smb2Ids bye;
  bye.tree_id = 261;
  ASSERT_EQ(Disconnect(Smb2(4, bye, {4, 0, 0, 0})), 0);
  EXPECT_EQ(t.Flg, kSlotDisconnected);
  ASSERT_EQ(nListIndex, 2);
  EXPECT_STREQ(AccessData[1].Action, "disconnect");
  EXPECT_STREQ(AccessData[1].TreeID, "261");
  EXPECT_STREQ(AccessData[1].Size, "0");
  EXPECT_STREQ(AccessData[1].Operation, "");
  EXPECT_STREQ(AccessData[1].Path, "\\\\srv\\data");

  // SessionId 0x0000123400005678: bytes 78 56 00 00 34 12 00 00, printed last to first.
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],login,WAIT0,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,-,-,,,\\\\srv\\data [T:0 C:00000010 S:001234005678]",
      // The answer travels from the server: the MAC texts swap columns.
      "[2026/12/09 10:20:07],connect,261,alice,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
      "cc:cc:cc:cc:cc:05,-,-,,,\\\\srv\\data [T:261 C:00000010 S:001234005678][WAIT0]",
      "[2026/12/09 10:20:07],disconnect,261,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,-,-,,,\\\\srv\\data [T:261 C:00000010 S:001234005678]",
  };
  EXPECT_EQ(LogLines(), want);
}

TEST_F(Smb2TreeConnectTest, QuotedPathsAndCommandNames) {
  OptionInfo.PathDubileCorteSet = 1;
  data.SMBCmdListFlg = 1;
  Smb2Ids ids;
  ids.message_id = 0x1A;
  ids.session_id = 0;
  ASSERT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\IPC$"))), 0);
  ids.tree_id = 1;
  ASSERT_EQ(Response(Smb2(3, ids, {}, true)), 0);
  const std::vector<std::string> want = {
      "[2026/12/09 10:20:07],login,WAIT0,alice,10.0.0.5,10.0.0.1,cc:cc:cc:cc:cc:05,"
      "ss:ss:ss:ss:ss:01,SMB2_TREE_CONNECT,ツリー接続,,,\"\\\\srv\\IPC$ [T:0 C:00000001a "
      "S:00000000]\"",
      "[2026/12/09 10:20:07],connect,1,alice,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
      "cc:cc:cc:cc:cc:05,SMB2_TREE_CONNECT,ツリー接続,,,\"\\\\srv\\IPC$ [T:1 C:00000001a "
      "S:00000000][WAIT0]\"",
  };
  EXPECT_EQ(LogLines(), want);
}

TEST_F(Smb2TreeConnectTest, AnIpv6ServerInThePathIsNoStreamName) {
  // The colons of \\fd00::1\data belong to the server's address; a colon in the share's own
  // name still marks an oddity that takes no line.
  Smb2Ids ids;
  ASSERT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\fd00::1\\data"))), 0);
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\fd00::1\\data");
  ids.message_id = 2;
  EXPECT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\da:ta"))), 10);
  EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(Smb2TreeConnectTest, PathBoundsStayInsideTheFrame) {
  // A path that ends on the frame's last byte is taken.
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\a"))), 0);
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\srv\\a");

  // PathLength beyond the received data: the bytes after Len would complete the path, but
  // they are not part of the frame.
  Frame cut = Smb2(3, {}, TreeConnectBody("\\\\srv\\bb"));
  cut.Len -= 4;
  cut.bytes.resize(cut.Len);  // an over-read now leaves the buffer
  cut.bytes.shrink_to_fit();
  EXPECT_EQ(Request(cut), 10);

  // Too short for the 8 fixed bytes; StructureSize below 8; PathLength 0.
  Frame stub = Smb2(3, {}, {9, 0, 0, 0, 0x48, 0});
  EXPECT_EQ(Request(stub), 10);
  std::vector<unsigned char> small = TreeConnectBody("\\\\srv\\c");
  small[0] = 7;
  EXPECT_EQ(Request(Smb2(3, {}, small)), 10);
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\d", 0))), 10);

  // 1022 bytes are the most a path may have.
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\" + std::string(511 - 6, 'e')))), 0);
  EXPECT_EQ(
      Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\" + std::string(511 - 6, 'f') + "g", 1023))),
      10);
  EXPECT_NE(Kernel().find("Lengthサイズエラー Length=1023"), std::string::npos);

  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(nListIndex, 2);
}

TEST_F(Smb2TreeConnectTest, NameFiltersAndAFullTable) {
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\a*b"))), 10);
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\PIPE"))), 10);
  EXPECT_EQ(nListIndex, 0);
  OptionInfo.AllPacketGet = 1;
  run_.TakeOptions();
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\a*b"))), 0);
  OptionInfo.AllPacketGet = 0;
  run_.TakeOptions();

  for (int i = 0; i < OptionInfo.TreeConnectCnt; ++i) TreeConnect[i].Flg = kSlotBound;
  Smb2Ids ids;
  ids.message_id = 77;
  ASSERT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\data"))), 0);
  const std::string k = Kernel();
  EXPECT_NE(k.find("QVX_E04-001 QVX_Smb2TreeConnectAndx"), std::string::npos);
  EXPECT_NE(k.find("QVX_I04-001 QVX_Smb2TreeConnectAndx"), std::string::npos);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotWaiting);
  EXPECT_STREQ(TreeConnect[0].SharePath, "\\\\srv\\data");
  for (int i = 1; i < OptionInfo.TreeConnectCnt; ++i) EXPECT_EQ(TreeConnect[i].Flg, kSlotFree);
}

TEST_F(Smb2TreeConnectTest, AnExcludedShareStaysPendingAndSilent) {
  std::snprintf(ExclusionInfoData[0], kFilterLineSize, "01,00000000,-,00000000,0,0,1,*secret");
  ExclusionInfoDataNo = 1;
  EXPECT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\secret"))), 10);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotWaiting);
  Smb2Ids answer;
  answer.tree_id = 3;
  EXPECT_EQ(Response(Smb2(3, answer, {}, true)), 0);  // bound, but it has no row to complete
  EXPECT_EQ(TreeConnect[0].Flg, kSlotBound);
  answer.message_id = 2;
  EXPECT_EQ(Disconnect(Smb2(4, answer, {4, 0, 0, 0})), 10);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotDisconnected);
  EXPECT_EQ(nListIndex, 0);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(Smb2TreeConnectTest, WithoutTheLogRowsAndRecordsStillChange) {
  OptionInfo.LogFileWriteFlg = 0;
  ASSERT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\data"))), 0);
  Smb2Ids answer;
  answer.tree_id = 5;
  ASSERT_EQ(Response(Smb2(3, answer, {}, true)), 0);
  EXPECT_STREQ(AccessData[0].Action, "connect");
  EXPECT_TRUE(LogLines().empty());
}

// The frame moved to another client connection: 10.0.0.<host>, TCP port port.
Frame OnClient(Frame f, bool response, unsigned char host, int port) {
  f.bytes[response ? 19 : 15] = host;
  f.bytes[response ? 22 : 20] = static_cast<unsigned char>(port >> 8);
  f.bytes[response ? 23 : 21] = static_cast<unsigned char>(port & 0xFF);
  f.ends = test::Ends(("10.0.0." + std::to_string(host)).c_str(), port);
  return f;
}

TEST_F(Smb2TreeConnectTest, AnAnswerBindsTheTreeOfItsOwnClientConnectionAndSession) {
  // MessageIds restart on every connection: two clients both connect a tree as message 4.
  Smb2Ids ids;
  ids.message_id = 4;
  ASSERT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\data"))), 0);
  ASSERT_EQ(Request(OnClient(Smb2(3, ids, TreeConnectBody("\\\\srv\\public")), false, 6, 50200)),
            0);
  // The first client's answer is lost; the second client's binds the second client's tree.
  Smb2Ids answer = ids;
  answer.tree_id = 9;
  ASSERT_EQ(Response(OnClient(Smb2(3, answer, {}, true), true, 6, 50200)), 0);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotWaiting);
  EXPECT_EQ(TreeConnect[1].Flg, kSlotBound);
  EXPECT_EQ(TreeConnect[1].Tid, 9u);
  EXPECT_STREQ(AccessData[0].TreeID, "WAIT0");
  EXPECT_STREQ(AccessData[1].TreeID, "9");
  // Neither another session on the first client's connection nor its other connection binds.
  Smb2Ids other_session = answer;
  other_session.session_id = 0x99;
  EXPECT_EQ(Response(Smb2(3, other_session, {}, true)), 10);
  EXPECT_EQ(Response(OnClient(Smb2(3, answer, {}, true), true, 5, 50124)), 10);
  EXPECT_EQ(TreeConnect[0].Flg, kSlotWaiting);
}

TEST_F(Smb2TreeConnectTest, TheConnectLineOutlivesItsListRow) {
  OptionInfo.AccessDataCnt = 1;
  ASSERT_EQ(Request(Smb2(3, {}, TreeConnectBody("\\\\srv\\data"))), 0);
  Smb2Ids second;
  second.message_id = 2;
  ASSERT_EQ(Request(Smb2(3, second, TreeConnectBody("\\\\srv\\other"))), 0);
  EXPECT_EQ(nListIndex, 1);  // the oldest row made room in the full list
  Smb2Ids answer;
  answer.tree_id = 77;
  ASSERT_EQ(Response(Smb2(3, answer, {}, true)), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2],
            "[2026/12/09 10:20:07],connect,77,alice,10.0.0.5,10.0.0.1,ss:ss:ss:ss:ss:01,"
            "cc:cc:cc:cc:cc:05,-,-,,,\\\\srv\\data [T:77 C:00000001 S:001234005678][WAIT0]");
}

TEST_F(Smb2TreeConnectTest, TheLogOnSeenOnItsConnectionNamesTheTreesUser) {
  // A fresh client: the server does not list its session yet while the frames are handled.
  fake.SetSessions({});
  Smb2Ids setup;
  setup.message_id = 2;
  OnTheWire(Smb2(1, setup, test::NtlmAuthenticate(u"bob")));
  const Smb2Ids ids = Connect(3, 9);
  EXPECT_STREQ(TreeConnect[0].Login_Name, "bob");
  EXPECT_STREQ(AccessData[0].LoginName, "bob");
  // The connection is no longer known (its end was seen) and the server lists nobody: the tree
  // keeps the name it had.
  run_.tracker.Reset();
  ASSERT_EQ(Disconnect(Smb2(4, ids, {})), 0);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& l : lines) EXPECT_NE(l.find(",bob,10.0.0.5,"), std::string::npos) << l;
}

TEST_F(Smb2TreeConnectTest, OfTwoLogOnsOnOneConnectionTheRequestsSessionNamesTheUser) {
  // One connection carries two sessions, as a client does for a second user: the tree belongs
  // to the session its request names, from the login line on.
  fake.SetSessions({});
  Smb2Ids bob, alice;
  bob.message_id = 2;
  bob.session_id = 0x22;
  alice.message_id = 3;
  alice.session_id = 0x11;
  // What the capture loop takes from each AUTHENTICATE: the connection's user, and the user of
  // the session the message sets up.
  OnTheWire(Smb2(1, bob, test::NtlmAuthenticate(u"bob")));
  run_.tracker.TakeLogon("10.0.0.1", "10.0.0.5", 50123, 2, bob.session_id, "bob");
  OnTheWire(Smb2(1, alice, test::NtlmAuthenticate(u"alice")));
  run_.tracker.TakeLogon("10.0.0.1", "10.0.0.5", 50123, 2, alice.session_id, "alice");
  bob.message_id = 4;
  ASSERT_EQ(Request(Smb2(3, bob, TreeConnectBody("\\\\srv\\data"))), 0);
  EXPECT_STREQ(TreeConnect[0].Login_Name, "bob");
  bob.tree_id = 7;
  ASSERT_EQ(Response(Smb2(3, bob, {}, true)), 0);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(",login,WAIT0,bob,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(",connect,7,bob,"), std::string::npos) << lines[1];
}

TEST_F(Smb2TreeConnectTest, WithoutALogOnOnTheWireTheServersListNamesTheUserOnceItCan) {
  // Another client's log-on is no evidence for this one (another port of the same address).
  Smb2Ids setup;
  Frame other = Smb2(1, setup, test::NtlmAuthenticate(u"mallory"));
  other.bytes[21] = 0x01;  // client port 50177
  OnTheWire(other);
  fake.SetSessions({});
  const Smb2Ids ids = Connect(5, 4);
  EXPECT_STREQ(TreeConnect[0].Login_Name, "Not Find");
  // The server lists the session now (a Kerberos log-on, or one from before the capture).
  ServerSession s;
  s.client = "10.0.0.5";
  s.user = "carol";
  fake.SetSessions({s});
  ASSERT_EQ(Disconnect(Smb2(4, ids, {})), 0);
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  // The lines written before keep what was known then.
  EXPECT_NE(lines[0].find(",login,WAIT0,Not Find,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(",connect,4,Not Find,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(",disconnect,4,carol,"), std::string::npos) << lines[2];
}

TEST_F(Smb2TreeConnectTest, TheAnswersShareTypeTellsATreeOfPipes) {
  // The answer's body: StructureSize 16, ShareType (1 disk, 2 pipe), then flags and access.
  auto answer = [](uint8_t share_type) {
    std::vector<unsigned char> b(16, 0);
    b[0] = 16;
    b[2] = share_type;
    return b;
  };
  Smb2Ids ids;
  ASSERT_EQ(Request(Smb2(3, ids, TreeConnectBody("\\\\srv\\rpc"))), 0);
  ids.tree_id = 5;
  ASSERT_EQ(Response(Smb2(3, ids, answer(2), true)), 0);
  EXPECT_EQ(TreeConnect[0].Pipe, 1);
  Smb2Ids disk;
  disk.message_id = 9;
  ASSERT_EQ(Request(Smb2(3, disk, TreeConnectBody("\\\\srv\\data"))), 0);
  disk.tree_id = 6;
  ASSERT_EQ(Response(Smb2(3, disk, answer(1), true)), 0);
  EXPECT_EQ(TreeConnect[1].Pipe, 0);
}

}  // namespace
}  // namespace qvx
