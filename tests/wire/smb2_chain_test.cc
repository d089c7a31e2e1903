#include "wire/smb2_chain.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qvx::wire {
namespace {

using Bytes = std::vector<uint8_t>;

// Appends an SMB2 header with the given Flags and NextCommand, followed by body bytes up to
// `size` in all.
void AddElement(Bytes* msg, size_t size, uint32_t flags, uint32_t next_command) {
  const size_t at = msg->size();
  msg->resize(at + size, 0x33);
  uint8_t* h = msg->data() + at;
  h[0] = 0xFE;
  h[1] = 'S';
  h[2] = 'M';
  h[3] = 'B';
  h[4] = 64;
  h[5] = 0;
  for (int i = 0; i < 4; ++i) {
    h[16 + i] = static_cast<uint8_t>(flags >> (8 * i));
    h[20 + i] = static_cast<uint8_t>(next_command >> (8 * i));
  }
}

std::vector<Smb2Element> Elements(const Bytes& msg, size_t kept) {
  std::vector<Smb2Element> out;
  ForEachSmb2Element(msg.data(), kept, [&](const Smb2Element& e) { out.push_back(e); });
  return out;
}
std::vector<Smb2Element> Elements(const Bytes& msg) { return Elements(msg, msg.size()); }

constexpr uint32_t kRelated = 0x00000004;
constexpr uint32_t kServerToRedir = 0x00000001;

TEST(WireSmb2ChainTest, ThreeRelatedElements) {
  Bytes msg;
  AddElement(&msg, 120, 0, 120);                       // CREATE
  AddElement(&msg, 104, kRelated, 104);                // QUERY_INFO
  AddElement(&msg, 88, kRelated | kServerToRedir, 0);  // CLOSE, last
  const auto e = Elements(msg);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].offset, 0u);
  EXPECT_EQ(e[0].size, 120u);
  EXPECT_FALSE(e[0].related);
  EXPECT_EQ(e[1].offset, 120u);
  EXPECT_EQ(e[1].size, 104u);
  EXPECT_TRUE(e[1].related);
  EXPECT_EQ(e[2].offset, 224u);
  EXPECT_EQ(e[2].size, 88u);
  EXPECT_TRUE(e[2].related);
}

TEST(WireSmb2ChainTest, LastElementRunsToWhatWasKept) {
  Bytes msg;
  AddElement(&msg, 72, 0, 72);
  AddElement(&msg, 200, 0, 0);
  const auto e = Elements(msg, 150);  // kept prefix ends inside the second element
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].offset, 72u);
  EXPECT_EQ(e[1].size, 78u);
  EXPECT_FALSE(e[1].related);
}

TEST(WireSmb2ChainTest, SingleMessageAndTooShort) {
  Bytes msg;
  AddElement(&msg, 90, 0, 0);
  auto e = Elements(msg);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].size, 90u);
  EXPECT_TRUE(Elements(msg, 63).empty());  // the header itself is not all there
  EXPECT_EQ(Elements(msg, 64).size(), 1u);
  msg[0] = 0xFF;  // SMB1 is not a chain of SMB2 headers
  EXPECT_TRUE(Elements(msg).empty());
}

TEST(WireSmb2ChainTest, UnusableNextCommandEndsTheChainAfterItsElement) {
  for (uint32_t bad : {100u, 68u, 56u, 8u, 0xFFFFFFF8u, 264u}) {
    Bytes msg;
    AddElement(&msg, 96, 0, bad);
    AddElement(&msg, 160, kRelated, 0);
    const auto e = Elements(msg);  // 256 bytes kept
    ASSERT_EQ(e.size(), 1u) << bad;
    EXPECT_EQ(e[0].size, 256u) << bad;
  }
}

TEST(WireSmb2ChainTest, NextCommandAtTheEndOfWhatWasKept) {
  Bytes msg;
  AddElement(&msg, 96, 0, 96);
  AddElement(&msg, 64, kRelated, 0);
  auto e = Elements(msg, 96);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].size, 96u);
  e = Elements(msg, 159);  // one byte short of the second header
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].size, 96u);
}

TEST(WireSmb2ChainTest, NextElementWithoutProtocolIdStops) {
  Bytes msg;
  AddElement(&msg, 64, 0, 64);
  AddElement(&msg, 64, 0, 0);
  msg[64 + 1] = 'X';
  EXPECT_EQ(Elements(msg).size(), 1u);
}

TEST(WireSmb2ChainTest, ChainLengthBounded) {
  Bytes msg;
  for (int i = 0; i < 100; ++i) AddElement(&msg, 64, kRelated, 64);
  const auto e = Elements(msg);
  EXPECT_EQ(e.size(), kSmb2MaxChain);
  EXPECT_EQ(e.back().offset, (kSmb2MaxChain - 1) * 64);
}

}  // namespace
}  // namespace qvx::wire
