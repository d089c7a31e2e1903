#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "support/fake_platform.h"

namespace qvx {
namespace {

const char kIni[] =
    "; settings\r\n"
    "[Other]\r\n"
    "ErrorLevel=9\r\n"
    "[option]\r\n"
    "  errorlevel = 3 \r\n"
    "FilterCode=\"tcp port 445\"\r\n"
    "Empty=\r\n";

TEST(Profile, LookupIgnoresCaseAndBlanksAndTakesTheRightSection) {
  EXPECT_EQ(ProfileLookup(kIni, "Option", "ErrorLevel"), "3");
  EXPECT_EQ(ProfileLookup(kIni, "OTHER", "ErrorLevel"), "9");
  EXPECT_EQ(ProfileLookup(kIni, "Option", "FilterCode"), "tcp port 445");
  EXPECT_EQ(ProfileLookup(kIni, "Option", "Empty"), "");
  EXPECT_FALSE(ProfileLookup(kIni, "Option", "Missing").has_value());
  EXPECT_FALSE(ProfileLookup(kIni, "Nothing", "ErrorLevel").has_value());
}

TEST(Profile, IntegersReadLikeTheWin32Call) {
  EXPECT_EQ(ProfileValueToInt("42", 7), 42);
  EXPECT_EQ(ProfileValueToInt("  42", 7), 42);
  EXPECT_EQ(ProfileValueToInt("55zz", 7), 55);
  EXPECT_EQ(ProfileValueToInt("abc", 7), 0);  // does not start with a number
  EXPECT_EQ(ProfileValueToInt("", 7), 7);     // empty value: the default
  EXPECT_EQ(ProfileValueToInt("-5", 7), -5);
  EXPECT_EQ(ProfileValueToInt("0x1F", 7), 31);
  EXPECT_EQ(ProfileValueToInt("0x", 7), 0);
}

TEST(Profile, AWholeValueIsANumberOrNot) {
  long long v = 0;
  ASSERT_TRUE(ProfileValueIsNumber("42", &v));
  EXPECT_EQ(v, 42);
  ASSERT_TRUE(ProfileValueIsNumber("-1", &v));
  EXPECT_EQ(v, -1);
  ASSERT_TRUE(ProfileValueIsNumber("+7", &v));
  EXPECT_EQ(v, 7);
  ASSERT_TRUE(ProfileValueIsNumber("0x1000000", &v));
  EXPECT_EQ(v, 0x1000000);
  // Past int: still a number, and past int's range rather than wrapped into it.
  ASSERT_TRUE(ProfileValueIsNumber("2147483648", &v));
  EXPECT_EQ(v, 2147483648LL);
  ASSERT_TRUE(ProfileValueIsNumber("99999999999999999999999", &v));
  EXPECT_GT(v, 2147483647LL);
  ASSERT_TRUE(ProfileValueIsNumber("-4294967296", &v));
  EXPECT_LT(v, -2147483647LL);
  for (const char* bad : {"", "abc", "55zz", "12 34", "0x", "-", "1.5", "64MB", "0x1G", "--1"})
    EXPECT_FALSE(ProfileValueIsNumber(bad, &v)) << bad;
}

TEST(Profile, StoreReplacesAddsAndAppends) {
  std::string t = ProfileStore("", "Option", "A", "1");
  EXPECT_EQ(t, "[Option]\r\nA=1\r\n");
  t = ProfileStore(t, "option", "a", "2");  // same key, other case: replaced in place
  EXPECT_EQ(t, "[Option]\r\na=2\r\n");
  t = ProfileStore(t, "Option", "B", "x y");
  EXPECT_EQ(t, "[Option]\r\na=2\r\nB=x y\r\n");
  t = ProfileStore(t, "Second", "C", "");
  EXPECT_EQ(ProfileLookup(t, "Second", "C"), "");
  EXPECT_EQ(ProfileLookup(t, "Option", "B"), "x y");
  // A key added to the first of two sections lands inside it, not at the end of the file.
  t = ProfileStore(t, "Option", "D", "4");
  EXPECT_EQ(ProfileLookup(t, "Option", "D"), "4");
  EXPECT_FALSE(ProfileLookup(t, "Second", "D").has_value());
  // An LF-only file keeps LF endings.
  EXPECT_EQ(ProfileStore("[S]\nK=1\n", "S", "K", "2"), "[S]\nK=2\n");
}

TEST(Profile, ByteOrderMarkAndEveryLineEnd) {
  // Saved by an editor that starts UTF-8 with a byte-order mark, or ends lines with CR alone.
  const std::string bom = "\xEF\xBB\xBF[Option]\r\nErrorLevel=3\r\nLogFileWriteFlg=1\r\n";
  const std::string cr = "[Option]\rErrorLevel=3\rLogFileWriteFlg=1\r";
  const std::string mixed = "\xEF\xBB\xBF[Option]\rErrorLevel=3\nLogFileWriteFlg=1\r\n";
  for (const std::string& text : {bom, cr, mixed}) {
    EXPECT_EQ(ProfileLookup(text, "Option", "ErrorLevel"), "3");
    EXPECT_EQ(ProfileLookup(text, "Option", "LogFileWriteFlg"), "1");
    EXPECT_TRUE(ProfileHasSection(text, "option"));
  }
  // A mark anywhere else is text, and a section line without brackets is none.
  EXPECT_FALSE(ProfileHasSection("; x\r\n\xEF\xBB\xBF[Option]\r\n", "Option"));
  EXPECT_FALSE(ProfileHasSection("Option\r\nErrorLevel=3\r\n", "Option"));
  EXPECT_FALSE(ProfileHasSection("", "Option"));
  // Storing keeps the mark and the text's own line ends.
  EXPECT_EQ(ProfileStore(bom, "Option", "ErrorLevel", "5"),
            "\xEF\xBB\xBF[Option]\r\nErrorLevel=5\r\nLogFileWriteFlg=1\r\n");
  EXPECT_EQ(ProfileStore(cr, "Option", "ErrorLevel", "5"),
            "[Option]\rErrorLevel=5\rLogFileWriteFlg=1\r");
}

TEST(Profile, PlatformReadsAndWritesRealFiles) {
  test::FakePlatform fake;
  const std::string ini = fake.Path("Quorvix.ini");
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 5);  // no file yet
  char buf[8];
  EXPECT_EQ(platform().GetProfileString("Option", "IpAddress", "0.0.0.0", buf, sizeof buf, ini),
            7u);
  EXPECT_STREQ(buf, "0.0.0.0");

  ASSERT_TRUE(platform().WriteProfileString("Option", "IpAddress", "10.20.30.40", ini));
  ASSERT_TRUE(platform().WriteProfileString("Option", "ErrorLevel", "6", ini));
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 6);
  // Truncated to the buffer less one.
  EXPECT_EQ(platform().GetProfileString("Option", "IpAddress", "", buf, sizeof buf, ini), 7u);
  EXPECT_STREQ(buf, "10.20.3");
}

TEST(Profile, RepeatedSectionsAndKeysKeepTheFirstValue) {
  const char text[] =
      "Stray=1\n"  // before any section: never found
      "[A]\nK=first\n[B]\nK=b\n[a]\nK=second\nL='quoted'\nM=\"half\n";
  ProfileIndex index(text);
  EXPECT_EQ(index.Lookup("A", "k"), "first");
  EXPECT_EQ(index.Lookup("b", "K"), "b");
  EXPECT_EQ(index.Lookup("A", "L"), "quoted");  // found in the second [a] block
  EXPECT_EQ(index.Lookup("A", "M"), "\"half");  // unmatched quote kept
  EXPECT_FALSE(index.Lookup("A", "Stray").has_value());
  EXPECT_FALSE(index.Lookup("", "Stray").has_value());
  EXPECT_EQ(ProfileLookup(text, "a", "K"), "first");
}

TEST(Profile, AChangedFileIsReadAgain) {
  test::FakePlatform fake;
  const std::string ini = fake.Path("Quorvix.ini");
  {
    std::ofstream o(ini, std::ios::binary);
    o << "[Option]\r\nErrorLevel=3\r\n";
  }
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 3);
  // Replaced behind the program's back (as an editor saves), with the same size.
  {
    std::ofstream o(ini + ".new", std::ios::binary | std::ios::trunc);
    o << "[Option]\r\nErrorLevel=4\r\n";
  }
  std::remove(ini.c_str());  // Windows renames onto no existing file
  ASSERT_EQ(std::rename((ini + ".new").c_str(), ini.c_str()), 0);
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 4);
  ASSERT_TRUE(platform().WriteProfileString("Option", "ErrorLevel", "7", ini));
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 7);
  // Another file is another profile.
  const std::string other = fake.Path("Other.ini");
  ASSERT_TRUE(platform().WriteProfileString("Option", "ErrorLevel", "1", other));
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, other), 1);
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 7);
  std::remove(ini.c_str());
  EXPECT_EQ(platform().GetProfileInt("Option", "ErrorLevel", 5, ini), 5);
}

}  // namespace
}  // namespace qvx
