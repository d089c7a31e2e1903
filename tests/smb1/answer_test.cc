#include "smb1/answer.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qvx
