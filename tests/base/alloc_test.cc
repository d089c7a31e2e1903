#include "base/alloc.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qvx {
namespace {

TEST(Alloc, Char3DIsOneZeroedBlockOfDistinctStrings) {
  char*** t = mallocChar3D(512, 2, 256);
  ASSERT_NE(t, nullptr);
  // Strings follow each other in one block.
  EXPECT_EQ(t[0][1], t[0][0] + 256);
  EXPECT_EQ(t[1][0], t[0][0] + 512);
  EXPECT_EQ(t[511][1], t[0][0] + (511 * 2 + 1) * 256);
  for (int e = 0; e < 512; ++e) EXPECT_EQ(t[e][1][255], '\0');
  std::strcpy(t[3][0], "pc1");
  std::strcpy(t[3][1], "10.0.0.12");
  EXPECT_STREQ(t[3][0], "pc1");
  EXPECT_STREQ(t[3][1], "10.0.0.12");
  EXPECT_STREQ(t[2][1], "");
  freeChar3D(t);
  freeChar3D(nullptr);
  EXPECT_EQ(mallocChar3D(0, 2, 256), nullptr);
}

TEST(Alloc, Char2D) {
  char** t = mallocChar2D(4, 16);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[3], t[0] + 48);
  freeChar2D(t);
}

}  // namespace
}  // namespace qvx
