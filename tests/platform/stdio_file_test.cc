#include "platform/stdio_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_platform.h"

namespace qvx {
namespace {

TEST(StdioFile, AppendsWhatWasWrittenAndReadsItBack) {
  test::FakePlatform fake;
  const std::string path = fake.Path("stream.log");
  for (const char* line : {"one\r\n", "two\r\n"}) {
    std::unique_ptr<StdioFile> f = StdioFile::Open(path, "ab");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->WriteAndFlush(line, std::char_traits<char>::length(line)));
    EXPECT_FALSE(f->Failed());
  }
  std::unique_ptr<StdioFile> in = StdioFile::Open(path, "rb");
  ASSERT_NE(in, nullptr);
  in->Unbuffered();
  char buf[32] = {};
  EXPECT_EQ(in->Read(buf, sizeof buf), 10u);  // both lines, the second after the first
  EXPECT_EQ(std::string(buf), "one\r\ntwo\r\n");
  EXPECT_EQ(in->Read(buf, sizeof buf), 0u);  // the end
}

TEST(StdioFile, FailuresAreReportedWithTheSystemsReason) {
  test::FakePlatform fake;
  std::string why;
  EXPECT_EQ(StdioFile::Open(fake.Path("no/such/folder/x"), "rb", &why), nullptr);
  EXPECT_FALSE(why.empty());
  // A stream opened for reading cannot be written: the error state shows it.
  const std::string path = fake.Path("read-only.txt");
  ASSERT_NE(StdioFile::Open(path, "ab"), nullptr);
  std::unique_ptr<StdioFile> f = StdioFile::Open(path, "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(f->WriteAndFlush("x", 1));
  EXPECT_TRUE(f->Failed());
}

}  // namespace
}  // namespace qvx
