#include "audit/open_files.h"

#include <gtest/gtest.h>

#include "audit/answer.h"

namespace qvx {
namespace {

IpAddress Host(uint8_t last) {
  const uint8_t a[4] = {10, 0, 0, last};
  return IpAddress::V4(a);
}

OpenFile File(uint64_t session, uint64_t id, uint8_t client = 1, uint16_t port = 0) {
  OpenFile f;
  f.key.server = Host(9);
  f.key.client = Host(client);
  f.key.version = 2;
  f.key.session = session;
  f.key.id[0] = id;
  f.client = Host(client);
  f.client_port = port;
  f.facts.path = "p" + std::to_string(id);
  return f;
}

TEST(OpenFilesTest, HandlesAreKeptByTheirOwnSessionAndId) {
  OpenFiles t;
  OpenFile evicted;
  EXPECT_FALSE(t.Add(File(1, 10), &evicted));
  EXPECT_FALSE(t.Add(File(2, 10), &evicted));  // the same id in another session
  ASSERT_NE(t.Find(File(2, 10).key), nullptr);
  EXPECT_EQ(t.Find(File(3, 10).key), nullptr);
  OpenFile out;
  ASSERT_TRUE(t.Take(File(1, 10).key, &out));
  EXPECT_EQ(out.facts.path, "p10");
  EXPECT_FALSE(t.Take(File(1, 10).key, &out));
  EXPECT_EQ(t.Size(), 1u);
}

TEST(OpenFilesTest, AFullTableGivesUpItsOldestHandle) {
  OpenFiles t;
  OpenFile evicted;
  for (uint64_t i = 0; i < OpenFiles::kCapacity; ++i) ASSERT_FALSE(t.Add(File(1, i), &evicted));
  ASSERT_TRUE(t.Add(File(1, 999999), &evicted));
  EXPECT_EQ(evicted.facts.path, "p0");
  EXPECT_EQ(t.Size(), OpenFiles::kCapacity);
}

TEST(OpenFilesTest, TheOldestOfAConnectionAndTheLastOpenOfASession) {
  OpenFiles t;
  OpenFile evicted, out;
  t.Add(File(1, 1, 5, 100), &evicted);
  t.Add(File(1, 2, 6, 200), &evicted);
  ASSERT_TRUE(t.TakeOldest(&out, Host(6), 200));
  EXPECT_EQ(out.facts.path, "p2");
  EXPECT_FALSE(t.TakeOldest(&out, Host(6), 200));

  OpenFileKey last;
  EXPECT_FALSE(t.Last(File(1, 0).key, &last));
  t.NoteOpen(File(1, 7).key);
  t.NoteOpen(File(2, 8).key);
  ASSERT_TRUE(t.Last(File(1, 0).key, &last));
  EXPECT_EQ(last.id[0], 7u);
  // Only the newest opens are remembered.
  for (uint64_t i = 0; i < 100; ++i) t.NoteOpen(File(2, i).key);
  EXPECT_FALSE(t.Last(File(1, 0).key, &last));
}

TEST(StatusTest, NamesAndDenials) {
  char buf[40];
  EXPECT_STREQ(QVX_StatusName(0xC0000022, buf, sizeof buf), "STATUS_ACCESS_DENIED");
  EXPECT_STREQ(QVX_StatusName(0xC0001234, buf, sizeof buf), "STATUS_0xC0001234");
  EXPECT_TRUE(QVX_StatusIsDenial(0xC0000061));
  EXPECT_FALSE(QVX_StatusIsDenial(0xC0000043));  // a sharing violation is no matter of rights
  EXPECT_FALSE(QVX_StatusIsDenial(0));
}

}  // namespace
}  // namespace qvx
