#include "smb1/nt_transact.h"

#include <gtest/gtest.h>

#include <string>

#include "smb1/answer.h"
#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Captured;
using test::Frame;

Smb1Message MessageOf(Frame& f) {
  Smb1Message m;
  EXPECT_TRUE(QVX_Smb1MessageOf(f.smb1, f.Len, f.data(), f.cursor, &m));
  return m;
}

// NT_TRANSACT requests an impacket client sent to Samba 4.17 (tests/e2e/smb1_routes.py), the
// values as tshark 4.0 decodes them.
TEST(Smb1NtTransactReadTest, CapturedCreatesAndSecurityDescriptor) {
  // CREATE, Unicode: Access Mask 0x0012019f, Disposition Create (2), Create Options 0x00000040,
  // File Name \routes\bs\ntnew.txt (a pad after the 53 bytes before it).
  Frame create = Captured(
      "ff534d42a0000000001801c80000000000000000000000001fee5715eda80000130000005e000000000000000004"
      "0000e0ff00005e0000004c0000000000000000000000000100610000000000000000000000009f01120000000000"
      "00000000800000000700000002000000400000000000000000000000280000000200000000005c0072006f007500"
      "7400650073005c00620073005c006e0074006e00650077002e00740078007400");
  Smb1OpenRecord r;
  ASSERT_TRUE(QVX_Smb1ReadNtTransactCreate(MessageOf(create), &r));
  EXPECT_EQ(r.name, "\\routes\\bs\\ntnew.txt");
  EXPECT_EQ(r.desired, 0x0012019Fu);
  EXPECT_EQ(r.disposition, 2u);
  EXPECT_EQ(r.options, 0x40u);
  EXPECT_EQ(QVX_Smb1TransactionSub(create.data() + create.cursor - 33, create.Len - 44), 1);
  // CREATE, OEM: File Name Len 19, routes\nb\ntnew.txt right after the 53 bytes.
  Frame oem = Captured(
      "ff534d42a0000000001801480000000000000000000000001fee5715eda800001300000048000000000000000004"
      "0000e0ff0000480000004c00000000000000000000000001004b0000000000000000000000009f01120000000000"
      "00000000800000000700000002000000400000000000000000000000130000000200000000726f757465735c6e62"
      "5c6e746e65772e747874");
  ASSERT_TRUE(QVX_Smb1ReadNtTransactCreate(MessageOf(oem), &r));
  EXPECT_EQ(r.name, "routes\\nb\\ntnew.txt");
  // SET_SECURITY_DESC: FID 0xb801, Security Information 0x00000004 (DACL); the descriptor is
  // self-relative with a protected DACL of three ACEs allowing 0x0012019f to
  // S-1-5-21-2118863894-4224712238-1357034743-1000, S-1-22-2-0 and S-1-1-0.
  Frame security = Captured(
      "ff534d42a0000000001801c80000000000000000000000001fee5715eda8000013000000080000006c0000000004"
      "0000e0ff0000080000004c0000006c00000054000000000300770000000001b80000040000000100049000000000"
      "0000000000000000140000000200580003000000000024009f011200010500000000000515000000164c4b7e2efe"
      "cffbf7b4e250e8030000000018009f01120001020000000000160200000000000000000014009f01120001010000"
      "0000000100000000");
  Smb1SecurityRecord s;
  ASSERT_TRUE(QVX_Smb1ReadSetSecurity(MessageOf(security), &s));
  EXPECT_EQ(s.fid, 0xB801u);
  EXPECT_EQ(s.security_information, 4u);
  EXPECT_EQ(s.sddl,
            "D:P(A;;0x12019f;;;S-1-5-21-2118863894-4224712238-1357034743-1000)"
            "(A;;0x12019f;;;S-1-22-2-0)(A;;0x12019f;;;S-1-1-0)");
  // Each reads only its own function.
  EXPECT_FALSE(QVX_Smb1ReadNtTransactCreate(MessageOf(security), &r));
  EXPECT_FALSE(QVX_Smb1ReadSetSecurity(MessageOf(create), &s));
  // A descriptor cut off by the end of what was kept: the change is still read, its
  // descriptor not.
  Frame cut = test::Cut(security, security.Len - 100);
  ASSERT_TRUE(QVX_Smb1ReadSetSecurity(MessageOf(cut), &s));
  EXPECT_EQ(s.fid, 0xB801u);
  EXPECT_EQ(s.sddl, "");
}

}  // namespace
}  // namespace qvx
