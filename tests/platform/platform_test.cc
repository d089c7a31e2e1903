#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvx {
namespace {

std::vector<unsigned char> Wide(const std::u16string& s) {
  std::vector<unsigned char> w;
  for (char16_t c : s) {
    w.push_back(static_cast<unsigned char>(c & 0xFF));
    w.push_back(static_cast<unsigned char>(c >> 8));
  }
  w.push_back(0);
  w.push_back(0);
  return w;
}

TEST(WideToAnsiTest, ATextLongerThanTheBufferIsCutNotDropped) {
  const std::vector<unsigned char> w = Wide(u"abcdef");
  char out[4];
  EXPECT_EQ(QVX_WideToAnsi(w.data(), w.size() / 2, out, sizeof out), 4);
  EXPECT_STREQ(out, "abc");
  char fits[7];
  EXPECT_EQ(QVX_WideToAnsi(w.data(), w.size() / 2, fits, sizeof fits), 7);
  EXPECT_STREQ(fits, "abcdef");
}

TEST(OemToWideTest, AsciiIsTheSameAndTheOutputIsBounded) {
  const unsigned char oem[] = {'\\', 'C', '$'};
  unsigned char out[4] = {};
  EXPECT_EQ(QVX_OemToWide(oem, sizeof oem, out, 2), 2u);
  EXPECT_EQ(std::vector<unsigned char>(out, out + 4),
            (std::vector<unsigned char>{'\\', 0, 'C', 0}));
}

#ifndef _WIN32
TEST(OemToWideTest, LinuxReadsCodePage850) {
  // As Python's cp850 codec maps them: u-umlaut, sharp s, the no-break space.
  const unsigned char oem[] = {0x81, 0xE1, 0xFF};
  unsigned char out[6] = {};
  ASSERT_EQ(QVX_OemToWide(oem, sizeof oem, out, 3), 3u);
  EXPECT_EQ(std::vector<unsigned char>(out, out + 6),
            (std::vector<unsigned char>{0xFC, 0x00, 0xDF, 0x00, 0xA0, 0x00}));
}

TEST(WideToAnsiTest, ACutNeverSplitsACharacter) {
  // Three bytes of UTF-8 each: 7 bytes of room hold two of them.
  const std::vector<unsigned char> w = Wide(u"日本語");
  char out[8];
  EXPECT_EQ(QVX_WideToAnsi(w.data(), w.size() / 2, out, sizeof out), 7);
  EXPECT_EQ(std::string(out), "日本");
  // A surrogate pair (four bytes) that does not fit whole is left out whole.
  const std::vector<unsigned char> pair = Wide(u"a\U0001F600");
  char small[5];
  EXPECT_EQ(QVX_WideToAnsi(pair.data(), pair.size() / 2, small, sizeof small), 2);
  EXPECT_STREQ(small, "a");
}
#endif

}  // namespace
}  // namespace qvx
