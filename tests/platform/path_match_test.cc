#include "platform/path_match.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

TEST(PathMatch, WildcardsIgnoreCaseAndTakeSeveralPatterns) {
  EXPECT_TRUE(PathMatchSpec("D:\\share\\a.tmp", "*.tmp"));
  EXPECT_TRUE(PathMatchSpec("/srv/share/A.TMP", "*.tmp"));
  EXPECT_FALSE(PathMatchSpec("/srv/share/a.tmpx", "*.tmp"));
  EXPECT_TRUE(PathMatchSpec("/srv/x/~$report.docx", "*~$*"));
  EXPECT_TRUE(PathMatchSpec("/srv/a1.log", "*.txt; *a?.log"));
  EXPECT_FALSE(PathMatchSpec("/srv/a12.log", "*.txt;*a?.log"));
  EXPECT_TRUE(PathMatchSpec("/srv/noext", "*.*"));
  EXPECT_FALSE(PathMatchSpec("/srv/a.txt", ""));
}

TEST(PathMatch, RemoveFileSpec) {
  EXPECT_EQ(PathRemoveFileSpec("/srv/share/dir/a.txt"), "/srv/share/dir");
  EXPECT_EQ(PathRemoveFileSpec("/a.txt"), "/");
  EXPECT_EQ(PathRemoveFileSpec("a.txt"), "");
#ifdef _WIN32
  EXPECT_EQ(PathRemoveFileSpec("D:\\share\\dir\\a.txt"), "D:\\share\\dir");
  EXPECT_EQ(PathRemoveFileSpec("D:\\a.txt"), "D:\\");
#endif
}

}  // namespace
}  // namespace qvx
