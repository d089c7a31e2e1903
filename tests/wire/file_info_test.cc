#include "wire/file_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit/change_text.h"

namespace qvx {
namespace {

std::vector<uint8_t> Hex(const std::string& h) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

// Bytes that Samba's own encoder made (ndr_pack of descriptor.from_sddl) from the SDDL expected
// back: an owner, a group, a protected auto-inherited DACL with an allow and a deny entry.
TEST(ChangeInfoTest, SecurityDescriptorReadsBackAsTheSddlItWasMadeFrom) {
  const std::vector<uint8_t> sd = Hex(
      "0100049414000000300000000000000040000000010500000000000515000000010000000200000003000000"
      "e803000001020000000000052000000021020000040040000200000000031400ff011f00010100000000000100"
      "0000000100240002000000010500000000000515000000010000000200000003000000e9030000");
  EXPECT_EQ(wire::SecurityDescriptorSddl(sd.data(), sd.size()),
            "O:S-1-5-21-1-2-3-1000G:S-1-5-32-545D:PAI(A;OICI;0x1f01ff;;;S-1-1-0)"
            "(D;;0x2;;;S-1-5-21-1-2-3-1001)");
  // Cut inside the DACL: the entries that fit are kept, nothing past the bytes is read.
  EXPECT_EQ(wire::SecurityDescriptorSddl(sd.data(), sd.size() - 8),
            "O:S-1-5-21-1-2-3-1000G:S-1-5-32-545D:PAI(A;OICI;0x1f01ff;;;S-1-1-0)");
  // A DACL present without a body is the null DACL; no descriptor at all gives nothing.
  std::vector<uint8_t> null_dacl(20, 0);
  null_dacl[0] = 1;
  null_dacl[2] = 0x04;
  null_dacl[3] = 0x80;
  EXPECT_EQ(wire::SecurityDescriptorSddl(null_dacl.data(), null_dacl.size()),
            "D:NO_ACCESS_CONTROL");
  EXPECT_EQ(wire::SecurityDescriptorSddl(sd.data(), 19), "");
  EXPECT_EQ(QVX_SecurityInfoText(wire::kOwnerSecurity | wire::kDaclSecurity | wire::kSaclSecurity),
            "owner+DACL+SACL");
}

// FILETIMEs from an independent clock (Python's datetime): 2001-01-01T00:00:00Z and
// 2026-12-11T12:00:00Z (Unix 1796990400).
TEST(ChangeInfoTest, BasicInfoSaysWhatItSetsAndWhenATimeIsInThePast) {
  wire::FileBasicInfo b;
  b.last_write = 126227808000000000ull;
  b.change = 134414640000000000ull;
  b.creation = ~0ull;  // left alone
  b.attributes = 0x3;
  EXPECT_EQ(QVX_BasicInfoText(b, 1796990400),
            "attributes read-only+hidden; last write time 2001-01-01T00:00:00Z in the past; "
            "change time 2026-12-11T12:00:00Z");
  uint8_t bytes[40] = {};
  bytes[16] = 1;
  bytes[32] = 0x20;
  ASSERT_TRUE(wire::ReadFileBasicInfo(bytes, sizeof bytes, &b));
  EXPECT_EQ(b.last_write, 1u);
  EXPECT_EQ(b.attributes, 0x20u);
  EXPECT_FALSE(wire::ReadFileBasicInfo(bytes, 35, &b));
  // Nothing set: nothing to tell.
  EXPECT_EQ(QVX_BasicInfoText(wire::FileBasicInfo{}, 1796990400), "");
}

}  // namespace
}  // namespace qvx
