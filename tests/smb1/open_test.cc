#include "smb1/open.h"

#include <gtest/gtest.h>

#include <string>

#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Captured;
using test::Frame;

// The record a captured request reads into; false when it is refused.
bool Read(Frame f, Smb1OpenRecord* r) {
  Smb1Message m;
  return QVX_Smb1MessageOf(f.smb1, f.Len, f.data(), f.cursor, &m) && QVX_Smb1ReadOpen(m, r);
}

// The access and disposition of an NT open the older requests amount to, as the server maps
// them: AccessMode read, write, read and write, execute (read), FCB; OpenFunction fail, open or
// truncate an existing file, bit 4 creating a missing one.
TEST(Smb1OpenReadTest, AccessModesAndOpenFunctions) {
  EXPECT_EQ(QVX_Smb1AccessModeDesired(0x40), 0x00120089u);
  EXPECT_EQ(QVX_Smb1AccessModeDesired(0x21), 0x00120116u);
  EXPECT_EQ(QVX_Smb1AccessModeDesired(0x42), 0x0012019Fu);
  EXPECT_EQ(QVX_Smb1AccessModeDesired(0x03), 0x00120089u);
  EXPECT_EQ(QVX_Smb1AccessModeDesired(0xFF), 0x0012019Fu);
  EXPECT_EQ(QVX_Smb1OpenFunctionDisposition(0x01), 1u);  // FILE_OPEN
  EXPECT_EQ(QVX_Smb1OpenFunctionDisposition(0x10), 2u);  // FILE_CREATE
  EXPECT_EQ(QVX_Smb1OpenFunctionDisposition(0x11), 3u);  // FILE_OPEN_IF
  EXPECT_EQ(QVX_Smb1OpenFunctionDisposition(0x02), 4u);  // FILE_OVERWRITE
  EXPECT_EQ(QVX_Smb1OpenFunctionDisposition(0x12), 5u);  // FILE_OVERWRITE_IF
}

// Requests an impacket client sent to Samba 4.17 (tests/e2e/smb1_routes.py), the values as
// tshark 4.0 decodes them: Unicode names with a leading backslash, OEM ones without.
TEST(Smb1OpenReadTest, CapturedRequests) {
  Smb1OpenRecord r;
  // OPEN_ANDX: Desired Access 0x0042 (deny none, read and write), Open Function 0x0012 (create,
  // truncate), File Name \routes\bs\o-trunc.txt.
  ASSERT_TRUE(Read(Captured("ff534d422d000000001801c80000000000000000000000001fee5715eda800000fff00"
                            "0000000042001600000000"
                            "00000012000000000000000000000000002f00005c0072006f0075007400650073005c"
                            "00620073005c006f002d00"
                            "7400720075006e0063002e007400780074000000"),
                   &r));
  EXPECT_EQ(r.command, 0x2D);
  EXPECT_EQ(r.name, "\\routes\\bs\\o-trunc.txt");
  EXPECT_EQ(r.desired, 0x0012019Fu);
  EXPECT_EQ(r.disposition, 5u);
  EXPECT_EQ(r.options, 0x40u);  // no folder
  EXPECT_EQ(r.tid, 0xEE1Fu);
  EXPECT_FALSE(r.temporary);
  // OPEN: Desired Access 0x0040 (read), File Name routes\nb\open.txt; it opens what is there.
  ASSERT_TRUE(Read(Captured("ff534d4202000000001801480000000000000000000000001fee5715eda80000024000"
                            "1600140004726f75746573"
                            "5c6e625c6f70656e2e74787400"),
                   &r));
  EXPECT_EQ(r.name, "routes\\nb\\open.txt");
  EXPECT_EQ(r.desired, 0x00120089u);
  EXPECT_EQ(r.disposition, 1u);
  // CREATE_NEW: File Name routes\nb\cnew.txt; it makes the file or fails.
  ASSERT_TRUE(Read(Captured("ff534d420f000000001801480000000000000000000000001fee5715eda80000032000"
                            "00000000140004726f7574"
                            "65735c6e625c636e65772e74787400"),
                   &r));
  EXPECT_EQ(r.name, "routes\\nb\\cnew.txt");
  EXPECT_EQ(r.desired, 0x0012019Fu);
  EXPECT_EQ(r.disposition, 2u);
  // CREATE_TEMPORARY: Directory \routes\bs\tmp; the server names the file.
  ASSERT_TRUE(Read(Captured("ff534d420e000000001801c80000000000000000000000001fee5715eda80000032000"
                            "000000001f00045c007200"
                            "6f0075007400650073005c00620073005c0074006d0070000000"),
                   &r));
  EXPECT_EQ(r.name, "\\routes\\bs\\tmp");
  EXPECT_TRUE(r.temporary);
  EXPECT_EQ(r.disposition, 2u);
  // TRANSACTION2 OPEN2: Desired Access 0x0042, Open Function 0x0010 (create, fail if it
  // exists), File Name routes\nb\t2new.txt (OEM) and \routes\bs\t2new.txt (Unicode).
  ASSERT_TRUE(Read(Captured("ff534d4232000000001801480000000000000000000000001fee5715eda800000f3000"
                            "0000000400100000000000"
                            "0000000000300044000000000001000000330000000000004200000020000000000010"
                            "0000000000000000000000"
                            "00000000726f757465735c6e625c74326e65772e74787400"),
                   &r));
  EXPECT_EQ(r.name, "routes\\nb\\t2new.txt");
  EXPECT_EQ(r.desired, 0x0012019Fu);
  EXPECT_EQ(r.disposition, 2u);
  const Frame open2 = Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f46000000000400100000000000"
      "00000000004600440000000000010000004900000000000042000000200000000000100000000000000000000000"
      "000000005c0072006f0075007400650073005c00620073005c00740032006e00650077002e00740078007400000"
      "0");
  ASSERT_TRUE(Read(open2, &r));
  EXPECT_EQ(r.name, "\\routes\\bs\\t2new.txt");
  // Cut inside its parameters, or with too few words, a request reads into nothing.
  EXPECT_FALSE(Read(test::Cut(open2, open2.Len - 60), &r));
  Frame words = open2;
  words.data()[words.cursor - 1] = 14;
  EXPECT_FALSE(Read(words, &r));
}

}  // namespace
}  // namespace qvx
