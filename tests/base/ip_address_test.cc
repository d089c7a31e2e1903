#include "base/ip_address.h"

#include <gtest/gtest.h>

#include <string>

namespace qvx {
namespace {

std::string Standard(const char* text) {
  char out[kIpTextSize];
  return NormalizeIpText(text, out, sizeof out) ? out : "(none)";
}

// The texts of RFC 5952: lower case, no leading zeros, the longest run of zero groups (two at
// least, the first of equal ones) as "::", an IPv4-mapped address with its dotted tail.
TEST(IpAddressTest, StandardTextOfIpv6) {
  EXPECT_EQ(Standard("2001:0DB8:0000:0000:0000:0000:0002:0001"), "2001:db8::2:1");
  EXPECT_EQ(Standard("2001:db8:0:1:1:1:1:1"), "2001:db8:0:1:1:1:1:1");  // one zero group stays
  EXPECT_EQ(Standard("2001:0:0:1:0:0:0:1"), "2001:0:0:1::1");           // the longer run
  EXPECT_EQ(Standard("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1");     // the first of equals
  EXPECT_EQ(Standard("fd00::"), "fd00::");
  EXPECT_EQ(Standard("::"), "::");
  EXPECT_EQ(Standard("::1"), "::1");
  EXPECT_EQ(Standard("::ffff:10.0.0.5"), "::ffff:10.0.0.5");
  EXPECT_EQ(Standard("0:0:0:0:0:ffff:a00:5"), "::ffff:10.0.0.5");
  EXPECT_EQ(Standard("fd00:1:2:3:4:5:6:7"), "fd00:1:2:3:4:5:6:7");
  EXPECT_EQ(Standard("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"),
            "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
  EXPECT_EQ(Standard("010.000.0.001"), "10.0.0.1");  // dotted, read as decimal
}

TEST(IpAddressTest, WhatIsNoAddressIsRefused) {
  for (const char* bad :
       {"", ":", ":::", "1::2::3", "fd00:", ":fd00::1", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7",
        "12345::", "fd00::g", "[fd00::1]", "fd00::1%eth0", "fd00::/8", " fd00::1", "::ffff:10.0.0",
        "1:2:3:4:5:6:7:1.2.3.4", "10.0.0", "10.0.0.256", "host"})
    EXPECT_EQ(Standard(bad), "(none)") << bad;
  // Seven groups with "::" for the eighth, and six before a dotted tail, are whole.
  EXPECT_EQ(Standard("1:2:3:4:5:6:7::"), "1:2:3:4:5:6:7:0");
  EXPECT_EQ(Standard("1:2:3:4:5:6:1.2.3.4"), "1:2:3:4:5:6:102:304");
}

TEST(IpAddressTest, FamiliesAndTheEndsOfAConnection) {
  IpAddress v4, v6, mapped;
  ASSERT_TRUE(ParseIpAddress("10.0.0.5", &v4));
  ASSERT_TRUE(ParseIpAddress("::a00:5", &v6));
  ASSERT_TRUE(ParseIpAddress("::ffff:10.0.0.5", &mapped));
  // Same bytes or same tail, another family: another address.
  EXPECT_FALSE(v4 == v6);
  EXPECT_FALSE(v4 == mapped);
  EXPECT_NE(v4.Hash(), v6.Hash());
  EXPECT_TRUE(IpAddress().IsUnspecified());
  ConnectionEnds e{v6, v4, 50123, 445};
  const EndsText text(e);
  EXPECT_STREQ(text.client, "::a00:5");
  EXPECT_STREQ(text.server, "10.0.0.5");
  EXPECT_STREQ(text.client_port, "50123");
  EXPECT_STREQ(text.server_port, "445");
}

}  // namespace
}  // namespace qvx
