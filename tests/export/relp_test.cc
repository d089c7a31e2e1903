#include "export/relp.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qvx {
namespace {

TEST(RelpFrameTest, FramesAreWrittenAsTheProtocolSpellsThem) {
  EXPECT_EQ(QVX_RelpFrame(2, "syslog", "<134>1 x"), "2 syslog 8 <134>1 x\n");
  EXPECT_EQ(QVX_RelpFrame(7, "close", ""), "7 close 0\n");  // no data: no space before the LF
}

TEST(RelpFrameTest, AnswersAreCutAtTheirLengthWhateverTheyHoldAndHoweverTheyArrive) {
  RelpReader r;
  RelpFrame f;
  // An answer to open whose data holds LFs, then two answers, fed a byte at a time.
  const std::string in =
      "1 rsp 48 200 OK\nrelp_version=0\nrelp_software=x\ncommands=s\n"
      "2 rsp 6 200 OK\n3 rsp 11 500 no room\n0 serverclose 0\n";
  std::vector<RelpFrame> got;
  for (char c : in) {
    r.Feed(&c, 1);
    int rc;
    while ((rc = r.Next(&f)) == 1) got.push_back(f);
    ASSERT_EQ(rc, 0);
  }
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].txnr, 1u);
  EXPECT_EQ(got[0].data, "200 OK\nrelp_version=0\nrelp_software=x\ncommands=s");
  EXPECT_TRUE(got[0].Ok());
  EXPECT_TRUE(got[1].Ok());
  EXPECT_EQ(got[2].txnr, 3u);
  EXPECT_FALSE(got[2].Ok());
  EXPECT_EQ(got[3].command, "serverclose");
  EXPECT_FALSE(got[3].Ok());
}

TEST(RelpFrameTest, WhatIsNoRelpIsRefusedRatherThanWaitedFor) {
  for (const char* bad : {"HTTP/1.1 400 Bad Request\r\n", "1 rsp x6 200 OK\n", "1 rsp 2 200 OK\n",
                          "12345678901 rsp 0\n", "1 rsp 6_200 OK\n"}) {
    RelpReader r;
    RelpFrame f;
    r.Feed(bad, std::strlen(bad));
    EXPECT_EQ(r.Next(&f), -1) << bad;
  }
}

}  // namespace
}  // namespace qvx
