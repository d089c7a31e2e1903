#include "base/text.h"

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

TEST(TextTest, DottedQuadsAreReadStrictly) {
  unsigned char a[4] = {9, 9, 9, 9};
  ASSERT_TRUE(ParseDottedQuad("10.213.0.2", a));
  EXPECT_EQ(a[0], 10);
  EXPECT_EQ(a[1], 213);
  EXPECT_EQ(a[2], 0);
  EXPECT_EQ(a[3], 2);
  ASSERT_TRUE(ParseDottedQuad("0.0.0.0", a));
  EXPECT_EQ(a[0] | a[1] | a[2] | a[3], 0);
  ASSERT_TRUE(ParseDottedQuad("255.255.255.255", a));
  EXPECT_EQ(a[3], 255);
  // Leading zeros are decimal, never octal: 010 is ten.
  ASSERT_TRUE(ParseDottedQuad("010.001.000.099", a));
  EXPECT_EQ(a[0], 10);
  EXPECT_EQ(a[1], 1);
  EXPECT_EQ(a[3], 99);

  for (const char* bad :
       {"1.2.3",      "1.2.3.4.5",  "256.1.1.1", "1.2.3.256",      "266.72.0.257",
        "1.2.3.4 ",   " 1.2.3.4",   "-1.2.3.4",  "+1.2.3.4",       "a.b.c.d",
        "1.2.3.4x",   "1..3.4",     "1.2.3.",    ".1.2.3",         "0x1.2.3.4",
        "0001.2.3.4", "1.2.3.4/24", "",          "not-an-address", "4294967297.0.0.1"}) {
    unsigned char b[4] = {7, 7, 7, 7};
    EXPECT_FALSE(ParseDottedQuad(bad, b)) << bad;
    EXPECT_EQ(b[0], 7) << bad;  // nothing written
  }
  EXPECT_FALSE(ParseDottedQuad(nullptr, a));
}

TEST(TextTest, DateTimeTextWritesWhatPrintfWrites) {
  const int cases[][6] = {{2026, 12, 9, 10, 20, 7}, {5, 1, 2, 3, 4, 5},
                          {0, 0, 0, 0, 0, 0},       {9999, 99, 99, 99, 99, 99},
                          {10000, 1, 1, 0, 0, 0},   {2026, -1, 1, 0, 0, 0},
                          {-7, 1, 1, 0, 0, 0},      {2026, 1, 1, 0, 0, 100}};
  for (const auto& t : cases) {
    char want[80];
    std::snprintf(want, sizeof want, "%04d/%02d/%02d %02d:%02d:%02d", t[0], t[1], t[2], t[3], t[4],
                  t[5]);
    char got[80];
    EXPECT_EQ(DateTimeText(got, sizeof got, t[0], t[1], t[2], t[3], t[4], t[5]),
              std::string(want).size());
    EXPECT_STREQ(got, want);
  }
  char cut[8];
  DateTimeText(cut, sizeof cut, 2026, 12, 9, 10, 20, 7);
  EXPECT_STREQ(cut, "2026/12");
}

std::string Escaped(const std::string& s) {
  std::string out;
  QVX_AppendEscaped(out, s.data(), s.size());
  EXPECT_EQ(QVX_TextIsPlain(s.data(), s.size()), out == s) << s;
  return out;
}

TEST(TextTest, EveryByteIsLookedAtWhereverItStands) {
  // Plain text is taken several bytes at a time: a byte to escape must be seen at every place.
  for (int b = 0; b < 0x80; ++b) {
    const bool plain = b >= 0x20 && b < 0x7F && b != '<';
    for (size_t at = 0; at < 19; ++at) {
      std::string s(19, 'a');
      s[at] = static_cast<char>(b);
      ASSERT_EQ(QVX_TextIsPlain(s.data(), s.size()), plain) << b << " at " << at;
    }
  }
  // Neighbours of the limits side by side, and a character of several bytes across eight.
  const std::string edges = "\x21\x7E\x3B\x3D !~=;abcdefgh";
  EXPECT_TRUE(QVX_TextIsPlain(edges.data(), edges.size()));
#ifndef _WIN32
  const std::string wide = "abcdef\xC3\xA9gh\xE2\x82\xACijklmn";
  EXPECT_TRUE(QVX_TextIsPlain(wide.data(), wide.size()));
  const std::string lone = "abcdefgh\x80ijklmnop";
  EXPECT_FALSE(QVX_TextIsPlain(lone.data(), lone.size()));
  const std::string cut = "abcdefg\xC3";
  EXPECT_FALSE(QVX_TextIsPlain(cut.data(), cut.size()));
#endif
}

TEST(TextTest, ControlCharactersAreWrittenVisibly) {
  EXPECT_EQ(Escaped("a\r\n[FAKE],x.txt"), "a<0D><0A>[FAKE],x.txt");
  EXPECT_EQ(Escaped(std::string("t\tab\x1b[31m\x7f") + '\0' + "z"), "t<09>ab<1B>[31m<7F><00>z");
  // The escape's own opening is escaped, so "<0D>" in a name cannot pass for a CR.
  EXPECT_EQ(Escaped("<0D>.txt"), "<3C>0D>.txt");
  EXPECT_EQ(Escaped("plain \\share\\file \"x\".txt"), "plain \\share\\file \"x\".txt");
  EXPECT_EQ(Escaped("議事録.txt"), "議事録.txt");
}

#ifndef _WIN32
TEST(TextTest, BytesOfNoCharacterAndInvisibleBreaksAreEscaped) {
  // NEL (a C1 control), LINE SEPARATOR and RIGHT-TO-LEFT OVERRIDE are valid UTF-8 but break or
  // turn a line for whoever reads it.
  EXPECT_EQ(Escaped("a\xC2\x85"
                    "b"),
            "a<C2><85>b");
  EXPECT_EQ(Escaped("a\xE2\x80\xA8"
                    "b"),
            "a<E2><80><A8>b");
  EXPECT_EQ(Escaped("x\xE2\x80\xAEtxt.exe"), "x<E2><80><AE>txt.exe");
  // No character at all: a stray byte, a cut sequence, an overlong form, a surrogate.
  EXPECT_EQ(Escaped("\xFF\xFE"), "<FF><FE>");
  EXPECT_EQ(Escaped("\xE6\x97"
                    "a"),
            "<E6><97>a");
  EXPECT_EQ(Escaped("\xC0\xAF"), "<C0><AF>");
  EXPECT_EQ(Escaped("\xED\xA0\x80"), "<ED><A0><80>");
  // Other characters outside ASCII stay, four-byte ones included.
  EXPECT_EQ(Escaped("\xC2\xA0\xF0\x9F\x98\x80"), "\xC2\xA0\xF0\x9F\x98\x80");
}
#endif

TEST(TextTest, EscapedLinesKeepTheirEndAndTheirBuffer) {
  char buf[32] = "a\rb\r\n";
  EXPECT_EQ(QVX_EscapeLine(buf, 5, sizeof buf), 8u);
  EXPECT_STREQ(buf, "a<0D>b\r\n");
  // A plain line is left as it is.
  char plain[16] = "abc\r\n";
  EXPECT_EQ(QVX_EscapeLine(plain, 5, sizeof plain), 5u);
  // Grown past the buffer: cut before an escape that would not fit whole, CR LF kept.
  char full[12] = "abcd\n\n\r\n";
  EXPECT_EQ(QVX_EscapeLine(full, 8, sizeof full), 10u);
  EXPECT_STREQ(full, "abcd<0A>\r\n");
}

}  // namespace
}  // namespace qvx
