#include "smb1/answer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvx {
namespace {

void Put(std::vector<unsigned char>& v, size_t at, uint64_t x, int n) {
  for (int i = 0; i < n; ++i) v[at + i] = static_cast<unsigned char>(x >> (8 * i));
}

std::vector<unsigned char> Answer(uint8_t command, bool nt_status, size_t words) {
  std::vector<unsigned char> m(32 + 1 + 2 * words + 2, 0);
  m[0] = 0xFF, m[1] = 'S', m[2] = 'M', m[3] = 'B';
  m[4] = command;
  m[9] = 0x80;  // a reply
  if (nt_status) Put(m, 10, 0x4000, 2);
  m[32] = static_cast<unsigned char>(words);
  return m;
}

TEST(Smb1AnswerFactsTest, NtCreateAnswerFields) {
  // NT_CREATE_ANDX response words: AndX (4 bytes), OplockLevel, FID, CreateAction, four times,
  // ExtFileAttributes, AllocationSize, EndOfFile, FileType, DeviceState, Directory.
  auto m = Answer(0xA2, true, 34);
  unsigned char* w = m.data() + 32;
  w[6] = 0x34, w[7] = 0x12;    // FID
  w[8] = 3;                    // FILE_OVERWRITTEN
  w[28] = 0x77;                // LastWriteTime (low byte)
  w[44] = 0x20;                // archive
  w[56] = 0x10, w[57] = 0x27;  // EndOfFile 10000
  AnswerFacts a;
  ASSERT_TRUE(QVX_Smb1AnswerFacts(m.data(), m.size(), &a));
  EXPECT_TRUE(a.open);
  EXPECT_EQ(a.file_id[1], 0x1234u);
  EXPECT_EQ(a.create_action, kCreateOverwritten);
  EXPECT_EQ(a.last_write_time, 0x77u);
  EXPECT_EQ(a.end_of_file, 10000u);
  EXPECT_FALSE(a.pipe);
  w[64] = 2;  // FileTypeMessageModePipe
  ASSERT_TRUE(QVX_Smb1AnswerFacts(m.data(), m.size(), &a));
  EXPECT_TRUE(a.pipe);
  EXPECT_FALSE(a.directory);
  w[68] = 1;
  ASSERT_TRUE(QVX_Smb1AnswerFacts(m.data(), m.size(), &a));
  EXPECT_TRUE(a.directory);
}

TEST(Smb1AnswerFactsTest, StatusesNtAndDos) {
  auto nt = Answer(0xA2, true, 0);
  Put(nt, 5, 0xC0000022, 4);
  AnswerFacts a;
  ASSERT_TRUE(QVX_Smb1AnswerFacts(nt.data(), nt.size(), &a));
  EXPECT_EQ(a.status, 0xC0000022u);
  EXPECT_FALSE(a.open);
  // Without the NT-status flag: error class at 5, code at 7.
  auto dos = Answer(0x06, false, 0);
  dos[5] = 1;
  Put(dos, 7, 5, 2);  // ERRDOS / ERRnoaccess
  ASSERT_TRUE(QVX_Smb1AnswerFacts(dos.data(), dos.size(), &a));
  EXPECT_EQ(a.status, 0xC0000022u);
  EXPECT_TRUE(QVX_StatusIsDenial(a.status));
  EXPECT_EQ(QVX_DosErrorStatus(1, 2), 0xC0000034u);  // no such file: no denial
  EXPECT_FALSE(QVX_StatusIsDenial(QVX_DosErrorStatus(1, 2)));
  EXPECT_EQ(QVX_DosErrorStatus(3, 19), 0xC00000A2u);  // write-protected
  EXPECT_EQ(QVX_DosErrorStatus(0, 0), 0u);
  EXPECT_FALSE(QVX_Smb1AnswerFacts(dos.data(), 32, &a));
}

// A captured message (hex of the SMB header and what follows).
std::vector<unsigned char> Hex(const std::string& hex) {
  std::vector<unsigned char> b;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    b.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return b;
}

// Answers of Samba 4.17 to the legacy opens of tests/e2e/smb1_routes.py, the values as tshark
// 4.0 decodes them.
TEST(Smb1AnswerFactsTest, LegacyOpenAnswers) {
  AnswerFacts a;
  // OPEN_ANDX: FID 0xf594, File Attributes 0x0020, File Size 0, Action 0x0003 (truncated).
  auto openx = Hex(
      "ff534d422d000000008803c80000000000000000000000001fee5715eda800000fff00000094f52000450d1c6b00"
      "00000002000000000003000000000000000000");
  ASSERT_TRUE(QVX_Smb1AnswerFacts(openx.data(), openx.size(), &a));
  EXPECT_TRUE(a.open);
  EXPECT_EQ(a.file_id[1], 0xF594u);
  EXPECT_EQ(a.create_action, kCreateOverwritten);
  EXPECT_EQ(a.attributes, 0x20u);
  EXPECT_FALSE(a.pipe);
  // OPEN: FID 0x0774, File Attributes 0x0080, File Size 5; it opened what was there.
  auto open = Hex(
      "ff534d4202000000008803c80000000000000000000000001fee5715eda800000774078000450d1c6b0500000040"
      "000000");
  ASSERT_TRUE(QVX_Smb1AnswerFacts(open.data(), open.size(), &a));
  EXPECT_EQ(a.file_id[1], 0x0774u);
  EXPECT_EQ(a.end_of_file, 5u);
  EXPECT_EQ(a.create_action, kCreateOpened);
  // CREATE: the FID only (0x49bd): read as a truncation, the most it can have done.
  auto create = Hex("ff534d4203000000008803c80000000000000000000000001fee5715eda8000001bd490000");
  ASSERT_TRUE(QVX_Smb1AnswerFacts(create.data(), create.size(), &a));
  EXPECT_EQ(a.file_id[1], 0x49BDu);
  EXPECT_EQ(a.create_action, kCreateOverwritten);
  // CREATE_TEMPORARY: FID 0x146d, File Name TMP50106 (ASCII, without a buffer format byte).
  auto temporary =
      Hex("ff534d420e000000008803c80000000000000000000000001fee5715eda80000016d140900544d5035303130"
          "3600");
  ASSERT_TRUE(QVX_Smb1AnswerFacts(temporary.data(), temporary.size(), &a));
  EXPECT_EQ(a.file_id[1], 0x146Du);
  EXPECT_EQ(a.create_action, kCreateCreated);
  EXPECT_EQ(a.temporary_name, "TMP50106");
  // TRANSACTION2 OPEN2: FID 0x986b, Action 0x0002 (created); the answer names no subcommand,
  // the request's tells how to read it.
  auto open2 = Hex(
      "ff534d4232000000008803c80000000000000000000000001fee5715eda800000a1e00000000001e003800000000"
      "000000000000001f00006b9820008b5d13760000000042000000000002006f02a800000000000000");
  ASSERT_TRUE(QVX_Smb1AnswerFacts(open2.data(), open2.size(), &a, 0));
  EXPECT_EQ(a.file_id[1], 0x986Bu);
  EXPECT_EQ(a.create_action, kCreateCreated);
  ASSERT_TRUE(QVX_Smb1AnswerFacts(open2.data(), open2.size(), &a, 5));
  EXPECT_FALSE(a.open);
  // NT_TRANSACT CREATE: FID 0x33d4, Create action 2, File Attributes 0x00000020, End Of File 0.
  auto nt = Hex(
      "ff534d42a0000000008803c80000000000000000000000001fee5715eda800001200000045000000000000004500"
      "00004800000000000000000000000000000000000000004600000000d433020000000000000041ba2eb57e89dd01"
      "41ba2eb57e89dd0141ba2eb57e89dd0141ba2eb57e89dd0120000000000000000000000000000000000000000000"
      "000000");
  ASSERT_TRUE(QVX_Smb1AnswerFacts(nt.data(), nt.size(), &a, 1));
  EXPECT_EQ(a.file_id[1], 0x33D4u);
  EXPECT_EQ(a.create_action, kCreateCreated);
  EXPECT_EQ(a.attributes, 0x20u);
  EXPECT_FALSE(a.directory);
  // Its parameters cut short: no open's facts.
  ASSERT_TRUE(QVX_Smb1AnswerFacts(nt.data(), nt.size() - 10, &a, 1));
  EXPECT_FALSE(a.open);
}

}  // namespace
}  // namespace qvx
