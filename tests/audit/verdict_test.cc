#include "audit/verdict.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "audit/tree_lookup.h"
#include "base/option.h"
#include "serverinfo/server_info.h"
#include "support/fake_platform.h"
#include "tracking/session_tree.h"

namespace qvx {
namespace {

TEST(VerdictTest, AccessMaskLooksAtReadWriteAndDeleteOnly) {
  EXPECT_EQ(QVX_SmbAccessVerdict(0x00010080), kVerdictGone);  // DELETE | FILE_READ_ATTRIBUTES
  EXPECT_EQ(QVX_SmbAccessVerdict(0x00010003), kVerdictWritten);
  EXPECT_EQ(QVX_SmbAccessVerdict(0x00010001), kVerdictRead);
  EXPECT_EQ(QVX_SmbAccessVerdict(0x00000003), kVerdictWritten);
  EXPECT_EQ(QVX_SmbAccessVerdict(0x00120089), kVerdictRead);  // a plain read open
  EXPECT_EQ(QVX_SmbAccessVerdict(0x0012019F), kVerdictWritten);
  EXPECT_EQ(QVX_SmbAccessVerdict(0x10000000), 0);  // GENERIC_ALL is not looked at
  EXPECT_EQ(QVX_SmbAccessVerdict(0x00000080), 0);
}

// The blended table, one row per line: kind, S, O, then V for each A in 201..204.
TEST(VerdictTest, BlendedTableRowByRow) {
  struct Row {
    int kind;
    int S;
    bool O;
    int V[4];  // for A = 201, 202, 203, 204
  };
  const Row rows[] = {
      // none or file
      {kKindFile, 201, false, {201, 202, 203, 201}},
      {kKindNone, 201, true, {201, 202, 203, 201}},
      {kKindFile, 203, false, {203, 203, 203, 203}},
      {kKindFile, 204, false, {204, 204, 204, 204}},
      {kKindNone, 0, false, {201, 202, 203, 204}},
      // folder
      {kKindFolder, 201, false, {201, 201, 201, 204}},
      {kKindFolder, 203, true, {201, 202, 203, 204}},
      {kKindFolder, 203, false, {203, 203, 203, 204}},
      {kKindFolder, 204, false, {201, 202, 203, 204}},
      {kKindFolder, 0, false, {201, 202, 203, 204}},
  };
  for (const Row& r : rows)
    for (int a = 0; a < 4; ++a)
      EXPECT_EQ(QVX_BlendAccessVerdict(r.S, 201 + a, r.kind, r.O), r.V[a])
          << "kind " << r.kind << " S " << r.S << " O " << r.O << " A " << 201 + a;
}

TEST(VerdictTest, OperationTexts) {
  EXPECT_STREQ(QVX_OperationText(201), "Wt  ");
  EXPECT_STREQ(QVX_OperationText(202), "New ");
  EXPECT_STREQ(QVX_OperationText(203), "Rd  ");
  EXPECT_STREQ(QVX_OperationText(204), "Del ");
  EXPECT_STREQ(QVX_OperationText(205), "ReNm");
  EXPECT_STREQ(QVX_OperationText(kVerdictPermissions), "Perm");
  EXPECT_STREQ(QVX_OperationText(kVerdictAttributes), "Attr");
  EXPECT_STREQ(QVX_OperationText(kVerdictLinked), "Link");
  EXPECT_STREQ(QVX_OperationText(kVerdictCopied), "Copy");
  // No verdict, a mask that says nothing, or a code out of the table: "Err".
  EXPECT_STREQ(QVX_OperationText(200), "Err");
  EXPECT_STREQ(QVX_OperationText(0), "Err");
  EXPECT_STREQ(QVX_OperationText(210), "Err");
}

// Time stamps that cannot be read (no rights, a failing disk) say nothing about the access: the
// mask judges alone, and with no mask the verdict is "Err", never "Del". A path that is not there
// is still gone.
TEST(VerdictTest, UnreadableTimeStampsAreNoDeletion) {
  test::FakePlatform fake;
  OptionSetDefaults(&OptionInfo);
  constexpr time_t kRef = 1800000000;
  fake.RefuseFileInfo("/srv/secret", EACCES);
  // The time class as the caller reads it for the verdict, on a known tree.
  auto look = [](const char* path) {
    char full[kAccessPathSize];
    std::snprintf(full, sizeof full, "%s", path);
    return QVXAccessChkToTreeIDPathChg(full, "\\x", kRef, -1, nullptr, 0);
  };
  OpenVerdict v =
      QVX_OpenVerdict(QVX_ACCESS_KIND_API, kFileReadData, 0, kKindNone, look("/srv/secret"));
  EXPECT_EQ(v.api, kTimeRefused);
  EXPECT_EQ(v.verdict, kVerdictNone);
  const int blend = QVX_ACCESS_KIND_BLEND;
  v = QVX_OpenVerdict(blend, kFileReadData, 0, kKindNone, look("/srv/secret"));
  EXPECT_EQ(v.verdict, kVerdictRead);
  v = QVX_OpenVerdict(blend, 0, 0, kKindNone, look("/srv/secret"));
  EXPECT_EQ(v.verdict, kVerdictNone);
  v = QVX_OpenVerdict(blend, 0, 0, kKindNone, look("/srv/other"));
  EXPECT_EQ(v.verdict, kVerdictGone);
}

}  // namespace
}  // namespace qvx
