#include "smb1/handles.h"

#include <gtest/gtest.h>

#include "audit/answer.h"
#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Put16;

// READ_ANDX: AndX command, reserved, offset, then the FID (WordCount 10).
Frame ReadAndx(uint16_t fid, int port = test::kClientPort) {
  std::vector<unsigned char> b(1 + 20 + 2, 0);
  b[0] = 10;
  b[1] = 0xFF;
  Put16(b, 5, fid);
  test::Smb1Ids ids;
  return test::Smb1(0x2E, ids, b, false, test::kClient, port);
}

class SmbHandleTest : public test::Smb1HandlerTest {};

// An SMB1 FID opened before capture: the server's list names it by its FID on the connection it
// belongs to (the same FID on another connection of the client is another handle).
TEST_F(SmbHandleTest, AFidOpenedBeforeCaptureIsNamedOnItsOwnConnection) {
  ServerOpenFiles server;
  ServerOpenFile c;
  c.volatile_id = 26218;
  c.volatile_known = true;
  c.client = test::kClient;
  c.client_port = test::kClientPort;
  c.path = Local("c.txt");
  c.share_path = share_dir_;
  server.files.push_back(c);
  fake.SetOpenFiles(server);
  AnswerFacts ok;
  run_->answer = &ok;
  for (int port : {test::kClientPort, test::kClientPort + 1}) {
    Frame f = ReadAndx(26218, port);
    EXPECT_EQ(QVX_SmbRead(&f.smb1, f.Len, f.data(), f.cursor, At(f)), 0);
  }
  run_->answer = nullptr;
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(",access,2049,alice,10.0.0.5,10.0.0.1,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(",Rd  ," + Local("c.txt")), std::string::npos) << lines[0];
  // The tree is the client's whichever connection: the mark stands under the share's folder.
  EXPECT_NE(lines[1].find(",Rd  ," + Local("[opened before capture] FID 0x666a")),
            std::string::npos)
      << lines[1];
}

}  // namespace
}  // namespace qvx
