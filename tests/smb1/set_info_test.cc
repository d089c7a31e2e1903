#include "smb1/set_info.h"

#include <gtest/gtest.h>

#include <string>

#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Captured;
using test::Frame;
using Change = Smb1SetInfoRecord::Change;

// 2001-01-01T00:00:00Z as a FILETIME (from Python's datetime), as tshark shows it.
constexpr uint64_t k2001 = 126227808000000000ull;

Smb1SetInfoRecord Read(Frame f, int64_t zone = 0) {
  Smb1Message m;
  Smb1SetInfoRecord r;
  EXPECT_TRUE(QVX_Smb1MessageOf(f.smb1, f.Len, f.data(), f.cursor, &m));
  EXPECT_TRUE(QVX_Smb1ReadSetInfo(m, zone, &r));
  return r;
}

// Set-information requests an impacket client sent to Samba 4.17 (tests/e2e/smb1_routes.py),
// the values as tshark 4.0 decodes them; where tshark names a level Unknown (1011, the
// pass-through FileLinkInformation) the fields are those of [MS-FSCC] 2.4.21.2 with the 8-byte
// RootDirectory of [MS-SMB] pass-through levels.
TEST(Smb1SetInfoReadTest, ThroughAHandle) {
  // SET_FILE_INFO, FID 0x1337, Level Set File Disposition Info (258): delete.
  Smb1SetInfoRecord r = Read(Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f06000100000400100000000000"
      "00000000000600440001004c00010008000c00000000371302010000000001"));
  EXPECT_TRUE(r.by_handle);
  EXPECT_EQ(r.fid, 0x1337u);
  EXPECT_EQ(r.level, 0x102u);
  EXPECT_EQ(r.change, Change::kDelete);
  EXPECT_TRUE(r.delete_pending);
  // FID 0xcb83, Set Rename Information (1010), Target name ren-h2.txt (a name in the file's
  // folder); the same from an OEM client.
  r = Read(Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f06002000000400100000000000"
      "00000000000600440020004c00010008002b0000000083cbf2030000000000000000000000001400000072006500"
      "6e002d00680032002e00740078007400"));
  EXPECT_EQ(r.fid, 0xCB83u);
  EXPECT_EQ(r.change, Change::kRename);
  EXPECT_EQ(r.target, "ren-h2.txt");
  r = Read(Captured(
      "ff534d4232000000001801480000000000000000000000001fee5715eda800000f06001600000400100000000000"
      "00000000000600440016004c00010008002100000000ed1cf2030000000000000000000000000a00000072656e2d"
      "68322e747874"));
  EXPECT_EQ(r.change, Change::kRename);
  EXPECT_EQ(r.target, "ren-h2.txt");
  // FID 0x6e57, Set File End Of File Info (260), End Of File 3.
  r = Read(Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f06000800000400100000000000"
      "00000000000600440008004c00010008001300000000576e0401000000000300000000000000"));
  EXPECT_EQ(r.fid, 0x6E57u);
  EXPECT_EQ(r.change, Change::kSize);
  // FID 0x504b, Set File Basic Info (257): Last Write Jan 1, 2001, attributes 0 (left alone).
  r = Read(Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f06002800000400100000000000"
      "00000000000600440028004c000100080033000000004b5001010000000000000000000000000000000000000000"
      "00c09dc88573c00100000000000000000000000000000000"));
  EXPECT_EQ(r.change, Change::kBasic);
  EXPECT_EQ(r.basic.last_write, k2001);
  EXPECT_EQ(r.basic.creation, 0u);
  EXPECT_EQ(r.basic.attributes, 0u);
  // FID 0x9a04, level 1011: a hard link \routes\bs\link-h2.txt, named from the share's root.
  r = Read(Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f06004000000400100000000000"
      "00000000000600440040004c00010008004b00000000049af3030000000000000000000000000000000000000000"
      "2c0000005c0072006f0075007400650073005c00620073005c006c0069006e006b002d00680032002e0074007800"
      "7400"));
  EXPECT_EQ(r.fid, 0x9A04u);
  EXPECT_EQ(r.change, Change::kLink);
  EXPECT_EQ(r.target, "\\routes\\bs\\link-h2.txt");
  // SET_INFORMATION2, FID 0x757c: Last Write DOS Date 2001-01-01 (0x2a21), DOS Time 00:00:00,
  // the other dates 0 (left alone). DOS dates are the server's local time: nine hours ahead of
  // UTC, the same date is 2000-12-31T15:00:00Z.
  const Frame dates = Captured(
      "ff534d4222000000001801c80000000000000000000000001fee5715eda80000077c750000000000000000212a00"
      "000000");
  r = Read(dates);
  EXPECT_EQ(r.fid, 0x757Cu);
  EXPECT_EQ(r.change, Change::kBasic);
  EXPECT_EQ(r.basic.last_write, k2001);
  EXPECT_EQ(r.basic.creation, 0u);
  EXPECT_EQ(r.basic.last_access, 0u);
  EXPECT_EQ(Read(dates, 9 * 3600).basic.last_write, k2001 - 9 * 3600 * 10000000ull);
}

TEST(Smb1SetInfoReadTest, ByName) {
  // SET_PATH_INFO, OEM: Set File Basic Info (257), File Name routes\nb\attr-p.txt, Last Write
  // Jan 1, 2001, File Attributes 0x00000002 (hidden).
  Smb1SetInfoRecord r = Read(Captured(
      "ff534d4232000000001801480000000000000000000000001fee5715eda800000f1b002800000400100000000000"
      "00000000001b00440028006000010006004700000000010100000000726f757465735c6e625c617474722d702e74"
      "787400000000000000000000000000000000000000c09dc88573c00100000000000000000200000000000000"));
  EXPECT_FALSE(r.by_handle);
  EXPECT_EQ(r.name, "routes\\nb\\attr-p.txt");
  EXPECT_EQ(r.change, Change::kBasic);
  EXPECT_EQ(r.basic.last_write, k2001);
  EXPECT_EQ(r.basic.attributes, 2u);
  // Unicode: Set EOF Information (1020), \routes\bs\eof-p.txt.
  r = Read(Captured(
      "ff534d4232000000001801c80000000000000000000000001fee5715eda800000f30000800000400100000000000"
      "00000000003000440008007400010006003b00000000fc03000000005c0072006f0075007400650073005c006200"
      "73005c0065006f0066002d0070002e0074007800740000000200000000000000"));
  EXPECT_EQ(r.name, "\\routes\\bs\\eof-p.txt");
  EXPECT_EQ(r.change, Change::kSize);
  // SET_INFORMATION: File Attributes 0x0002 (hidden), Last Write Jan 1, 2001 (a UTIME of the
  // server's local time), File Name \routes\bs\seti.txt.
  Frame set = Captured(
      "ff534d4209000000001801c80000000000000000000000001fee5715eda8000008020080c84f3a00000000000000"
      "0000002900045c0072006f0075007400650073005c00620073005c0073006500740069002e00740078007400000"
      "0");
  r = Read(set);
  EXPECT_EQ(r.name, "\\routes\\bs\\seti.txt");
  EXPECT_EQ(r.basic.attributes, 2u);
  EXPECT_EQ(r.basic.last_write, k2001);
  // Attributes 0 clear them all: the file is then normal.
  set.data()[set.cursor] = 0;
  EXPECT_EQ(Read(set).basic.attributes, 0x80u);
}

}  // namespace
}  // namespace qvx
