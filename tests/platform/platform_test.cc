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

#ifndef _WIN32
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
