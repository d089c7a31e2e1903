#include "app/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qvx {
namespace {

TEST(TextTest, CopyTextCutsAndTerminates) {
  char small[4];
  EXPECT_EQ(CopyText(small, "abcdef"), 3u);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(CopyText(small, nullptr), 0u);
  EXPECT_STREQ(small, "");
  char big[8];
  EXPECT_EQ(CopyTextN(big, sizeof big, "abcdef", 2), 2u);
  EXPECT_STREQ(big, "ab");
}

TEST(TextTest, DottedQuadWritesWhatPrintfWrites) {
  const unsigned char cases[][4] = {
      {0, 0, 0, 0}, {10, 213, 0, 2}, {255, 255, 255, 255}, {9, 10, 99, 100}, {1, 20, 109, 250}};
  for (const auto& a : cases) {
    char want[32];
    std::snprintf(want, sizeof want, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    char got[32];
    EXPECT_EQ(DottedQuad(got, sizeof got, a), std::string(want).size());
    EXPECT_STREQ(got, want);
  }
  // A short field takes what fits, terminated.
  char cut[6];
  DottedQuad(cut, sizeof cut, cases[2]);
  EXPECT_STREQ(cut, "255.2");
}

}  // namespace
}  // namespace qvx
