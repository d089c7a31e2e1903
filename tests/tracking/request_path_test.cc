#include "tracking/request_path.h"

#include <gtest/gtest.h>

#include <string>

namespace qvx {
namespace {

std::string Resolve(const char* name, bool* inside = nullptr) {
  char out[256];
  const bool in = QVX_ResolveRequestName(name, out, sizeof out);
  if (inside) *inside = in;
  return out;
}

TEST(RequestPathTest, DotsAreResolvedWithinTheShare) {
  bool inside = false;
  EXPECT_EQ(Resolve("docs\\a.txt", &inside), "docs\\a.txt");
  EXPECT_TRUE(inside);
  EXPECT_EQ(Resolve("docs\\..\\a.txt", &inside), "a.txt");
  EXPECT_TRUE(inside);
  EXPECT_EQ(Resolve("\\docs\\.\\sub\\..\\b.txt", &inside), "\\docs\\b.txt");
  EXPECT_TRUE(inside);
  // Down to the share's root, and "/" separates as well (it does on the server's disk).
  EXPECT_EQ(Resolve("docs/..", &inside), "");
  EXPECT_TRUE(inside);
  // Names that merely hold dots are names.
  EXPECT_EQ(Resolve("..a\\b..\\.c", &inside), "..a\\b..\\.c");
  EXPECT_TRUE(inside);
}

TEST(RequestPathTest, ANameThatLeavesTheShareIsKeptAsSent) {
  bool inside = true;
  EXPECT_EQ(Resolve("..\\..\\..\\..\\etc\\motd", &inside), "..\\..\\..\\..\\etc\\motd");
  EXPECT_FALSE(inside);
  // Climbing out after going down is still out.
  EXPECT_EQ(Resolve("\\docs\\..\\..\\x", &inside), "\\docs\\..\\..\\x");
  EXPECT_FALSE(inside);
  EXPECT_EQ(Resolve("docs/../../x", &inside), "docs/../../x");
  EXPECT_FALSE(inside);
#ifdef _WIN32
  // Windows drops trailing dots and spaces: ".. " and "..." climb too.
  Resolve("a\\..\\.. \\x", &inside);
  EXPECT_FALSE(inside);
  Resolve("...\\x", &inside);
  EXPECT_FALSE(inside);
#endif
}

}  // namespace
}  // namespace qvx
