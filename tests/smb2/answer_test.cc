#include "smb2/answer.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvx {
namespace {

void Put(std::vector<unsigned char>& v, size_t at, uint64_t x, int n) {
  for (int i = 0; i < n; ++i) v[at + i] = static_cast<unsigned char>(x >> (8 * i));
}

// An SMB2 answer header of command and status, and a body.
std::vector<unsigned char> Answer(uint16_t command, uint32_t status, size_t body) {
  std::vector<unsigned char> m(64 + body, 0);
  m[0] = 0xFE, m[1] = 'S', m[2] = 'M', m[3] = 'B';
  Put(m, 4, 64, 2);
  Put(m, 8, status, 4);
  Put(m, 12, command, 2);
  Put(m, 16, 1, 4);  // from the server
  return m;
}

TEST(Smb2AnswerFactsTest, CreateAnswerFieldsWhereTheWireFormatPutsThem) {
  // CREATE response: StructureSize 89, OplockLevel, Flags, CreateAction, four FILETIMEs,
  // AllocationSize, EndofFile, FileAttributes, Reserved2, FileId (persistent, volatile).
  auto m = Answer(5, 0, 88 + 8);
  Put(m, 64, 89, 2);
  Put(m, 64 + 4, 2, 4);  // FILE_CREATED
  Put(m, 64 + 8, 0x01D9000000000001ull, 8);
  Put(m, 64 + 24, 0x01D9000000000003ull, 8);
  Put(m, 64 + 32, 0x01D9000000000004ull, 8);
  Put(m, 64 + 40, 8192, 8);
  Put(m, 64 + 48, 4321, 8);
  Put(m, 64 + 56, 0x10, 4);  // a folder
  Put(m, 64 + 64, 0x1111, 8);
  Put(m, 64 + 72, 0x2222, 8);
  AnswerFacts a;
  ASSERT_TRUE(QVX_Smb2AnswerFacts(m.data(), m.size(), &a));
  EXPECT_TRUE(a.Ok());
  EXPECT_TRUE(a.open);
  EXPECT_EQ(a.create_action, kCreateCreated);
  EXPECT_EQ(a.creation_time, 0x01D9000000000001ull);
  EXPECT_EQ(a.last_write_time, 0x01D9000000000003ull);
  EXPECT_EQ(a.change_time, 0x01D9000000000004ull);
  EXPECT_EQ(a.end_of_file, 4321u);
  EXPECT_TRUE(a.directory);
  EXPECT_EQ(a.file_id[0], 0x1111u);
  EXPECT_EQ(a.file_id[1], 0x2222u);
}

// IOCTL response of FSCTL_SRV_REQUEST_RESUME_KEY: StructureSize 49, CtlCode at 4, OutputOffset
// at 32 and OutputCount at 36; the output is the 24-byte key, then a context length.
TEST(Smb2AnswerFactsTest, AResumeKeyIsTakenFromItsIoctlOutput) {
  auto m = Answer(0x0B, 0, 48 + 28);
  Put(m, 64, 49, 2);
  Put(m, 64 + 4, 0x00140078, 4);
  Put(m, 64 + 32, 64 + 48, 4);
  Put(m, 64 + 36, 28, 4);
  for (int i = 0; i < 24; ++i) m[64 + 48 + i] = static_cast<unsigned char>(0xA0 + i);
  AnswerFacts a;
  ASSERT_TRUE(QVX_Smb2AnswerFacts(m.data(), m.size(), &a));
  ASSERT_TRUE(a.resume_key_set);
  EXPECT_EQ(a.resume_key[0], 0xA0);
  EXPECT_EQ(a.resume_key[23], 0xA0 + 23);
  // An output that the frame cuts, or another control code, gives no key.
  ASSERT_TRUE(QVX_Smb2AnswerFacts(m.data(), 64 + 48 + 20, &a));
  EXPECT_FALSE(a.resume_key_set);
  Put(m, 64 + 4, 0x001440F2, 4);
  ASSERT_TRUE(QVX_Smb2AnswerFacts(m.data(), m.size(), &a));
  EXPECT_FALSE(a.resume_key_set);
}

TEST(Smb2AnswerFactsTest, FailuresAndShortAnswersGiveOnlyWhatIsThere) {
  // An error response (StructureSize 9) carries the status only.
  auto denied = Answer(5, 0xC0000022, 9);
  Put(denied, 64, 9, 2);
  AnswerFacts a;
  ASSERT_TRUE(QVX_Smb2AnswerFacts(denied.data(), denied.size(), &a));
  EXPECT_EQ(a.status, 0xC0000022u);
  EXPECT_FALSE(a.open);
  // A CREATE answer cut before its file id is no open the program can follow.
  auto cut = Answer(5, 0, 80);
  Put(cut, 64, 89, 2);
  ASSERT_TRUE(QVX_Smb2AnswerFacts(cut.data(), cut.size(), &a));
  EXPECT_FALSE(a.open);
  // A CLOSE answer is no open either; a header cut short is nothing at all.
  auto close = Answer(6, 0, 60);
  ASSERT_TRUE(QVX_Smb2AnswerFacts(close.data(), close.size(), &a));
  EXPECT_FALSE(a.open);
  EXPECT_FALSE(QVX_Smb2AnswerFacts(close.data(), 63, &a));
}

}  // namespace
}  // namespace qvx
