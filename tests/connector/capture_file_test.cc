#include "connector/capture_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace qvx {
namespace {

// A pcap file written here: header fields in the byte order asked for, frames whose bytes are a
// function of their number and position, so that any misplaced byte shows.
class PcapWriter {
 public:
  PcapWriter(bool big_endian, bool nanos) : big_(big_endian) {
    U32(nanos ? 0xA1B23C4Du : 0xA1B2C3D4u);
    U16(2), U16(4), U32(0), U32(0), U32(262144), U32(1);
  }
  void Frame(uint32_t sec, uint32_t frac, uint32_t size, int number) {
    U32(sec), U32(frac), U32(size), U32(size);
    for (uint32_t i = 0; i < size; ++i) bytes_.push_back(Byte(number, i));
  }
  static unsigned char Byte(int number, uint32_t i) {
    return static_cast<unsigned char>(number * 31 + i * 7 + (i >> 8));
  }
  std::string Save(const std::string& name, size_t cut = 0) const {
    auto path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes_.data()),
               static_cast<std::streamsize>(bytes_.size() - cut));
    return path;
  }

 private:
  void U16(uint16_t v) {
    for (int i = 0; i < 2; ++i)
      bytes_.push_back(static_cast<unsigned char>(big_ ? v >> (8 - 8 * i) : v >> (8 * i)));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes_.push_back(static_cast<unsigned char>(big_ ? v >> (24 - 8 * i) : v >> (8 * i)));
  }
  bool big_;
  std::vector<unsigned char> bytes_;
};

struct Read {
  std::vector<uint32_t> sizes;
  int rc = 0;
  std::string error;
};

// Reads every frame, checking each byte and its time stamp against what the writer put there.
Read ReadAll(const std::string& path, uint32_t usec_of_frac_1000) {
  Read r;
  CaptureFileReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path.c_str(), &error)) << error;
  for (int number = 0;; ++number) {
    const unsigned char* d = nullptr;
    uint32_t n = 0;
    int64_t sec = 0;
    long usec = 0;
    r.rc = reader.Next(&d, &n, &sec, &usec, &r.error);
    if (r.rc != 1) break;
    r.sizes.push_back(n);
    EXPECT_EQ(sec, 1000 + number);
    EXPECT_EQ(usec, static_cast<long>(usec_of_frac_1000));
    for (uint32_t i = 0; i < n; ++i) {
      if (d[i] != PcapWriter::Byte(number, i)) {
        ADD_FAILURE() << "frame " << number << " byte " << i;
        break;
      }
    }
  }
  return r;
}

TEST(CaptureFileTest, FramesOfEverySizeAcrossTheReadWindow) {
  // Many small frames carry the reads across several window refills; one frame is close to the
  // largest record allowed, bigger than the window itself.
  for (bool big : {false, true}) {
    PcapWriter w(big, false);
    std::vector<uint32_t> sizes;
    for (int i = 0; i < 3000; ++i) sizes.push_back(60 + static_cast<uint32_t>(i * 37 % 1500));
    sizes[1234] = 250000;
    sizes[1235] = 0;
    for (size_t i = 0; i < sizes.size(); ++i)
      w.Frame(1000 + static_cast<uint32_t>(i), 1000, sizes[i], static_cast<int>(i));
    Read r = ReadAll(w.Save("qvx-capture-file-sizes.pcap"), 1000);
    EXPECT_EQ(r.rc, 0) << r.error;
    EXPECT_EQ(r.sizes, sizes);
  }
}

TEST(CaptureFileTest, NanosecondStampsBecomeMicroseconds) {
  PcapWriter w(false, true);
  w.Frame(1000, 1000, 64, 0);
  Read r = ReadAll(w.Save("qvx-capture-file-nanos.pcap"), 1);
  EXPECT_EQ(r.sizes.size(), 1u);
}

TEST(CaptureFileTest, TruncationAndBadLengthsAreReportedAfterTheGoodFrames) {
  PcapWriter w(false, false);
  for (int i = 0; i < 3; ++i) w.Frame(1000 + i, 5, 100, i);
  // The last frame lacks 10 of its bytes.
  Read body = ReadAll(w.Save("qvx-capture-file-cut.pcap", 10), 5);
  EXPECT_EQ(body.rc, -1);
  EXPECT_EQ(body.sizes.size(), 2u);
  EXPECT_EQ(body.error, "truncated dump file; tried to read 100 captured bytes, only got 90");
  // A record header cut short.
  Read head = ReadAll(w.Save("qvx-capture-file-head.pcap", 100 + 6), 5);
  EXPECT_EQ(head.rc, -1);
  EXPECT_EQ(head.sizes.size(), 2u);
  EXPECT_EQ(head.error, "truncated dump file; tried to read 16 header bytes, only got 10");
  // A length no adapter produces is refused, not allocated.
  PcapWriter bogus(false, false);
  bogus.Frame(1000, 5, 100, 0);
  bogus.Frame(1001, 5, 300000, 1);
  Read r = ReadAll(bogus.Save("qvx-capture-file-bogus.pcap"), 5);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.sizes.size(), 1u);
  EXPECT_EQ(r.error, "bogus record length 300000");
}

// A pcapng file of one section with one Ethernet interface of the given if_tsresol, and
// enhanced packet blocks of 60 bytes with the given 64-bit stamps.
std::string PcapngWithStamps(const std::string& name, int tsresol,
                             const std::vector<uint64_t>& stamps) {
  std::vector<unsigned char> b;
  auto u16 = [&b](uint16_t v) { b.push_back(v & 0xFF), b.push_back(v >> 8); };
  auto u32 = [&u16](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  u32(0x0A0D0D0A), u32(28), u32(0x1A2B3C4D), u16(1), u16(0), u32(0xFFFFFFFF), u32(0xFFFFFFFF);
  u32(28);
  const bool resol = tsresol >= 0;
  const uint32_t idb = resol ? 32 : 20;
  u32(1), u32(idb), u16(1), u16(0), u32(65535);
  if (resol) u16(9), u16(1), u32(static_cast<uint32_t>(tsresol)), u32(0);
  u32(idb);
  for (uint64_t ts : stamps) {
    u32(6), u32(32 + 60), u32(0), u32(static_cast<uint32_t>(ts >> 32)),
        u32(static_cast<uint32_t>(ts)), u32(60), u32(60);
    for (int i = 0; i < 60; ++i) b.push_back(static_cast<unsigned char>(i));
    u32(32 + 60);
  }
  auto path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return path;
}

struct Stamp {
  int64_t sec;
  long usec;
  bool operator==(const Stamp&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Stamp& s) { return o << s.sec << "." << s.usec; }

std::vector<Stamp> StampsOf(const std::string& path) {
  std::vector<Stamp> out;
  CaptureFileReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path.c_str(), &error)) << error;
  const unsigned char* d;
  uint32_t n;
  Stamp s{};
  while (reader.Next(&d, &n, &s.sec, &s.usec, &error) == 1) out.push_back(s);
  return out;
}

// 9999-12-31 23:59:59 UTC, the last second a calendar shows.
constexpr int64_t kLastSecond = 253402300799;

TEST(CaptureFileTest, PcapngStampsOfEveryResolution) {
  // if_tsresol 0 and 0x80 both count whole seconds; without the option, microseconds.
  const uint64_t t = 1796083200;  // 2026-12-01 00:00:00 UTC
  EXPECT_EQ(StampsOf(PcapngWithStamps("qvx-tsresol-0.pcapng", 0, {t})),
            std::vector<Stamp>({{1796083200, 0}}));
  EXPECT_EQ(StampsOf(PcapngWithStamps("qvx-tsresol-80.pcapng", 0x80, {t})),
            std::vector<Stamp>({{1796083200, 0}}));
  EXPECT_EQ(StampsOf(PcapngWithStamps("qvx-tsresol-none.pcapng", -1, {t * 1000000 + 7})),
            std::vector<Stamp>({{1796083200, 7}}));
  // Units beyond 10^18 and 2^18: 10^19 and 2^40 per second.
  EXPECT_EQ(StampsOf(PcapngWithStamps("qvx-tsresol-19.pcapng", 19, {15000000000000000000ull})),
            std::vector<Stamp>({{1, 500000}}));
  EXPECT_EQ(StampsOf(PcapngWithStamps("qvx-tsresol-2e40.pcapng", 0x80 | 40,
                                      {(5ull << 40) + (1ull << 39)})),
            std::vector<Stamp>({{5, 500000}}));
}

TEST(CaptureFileTest, ScrambledStampsStayWithinTheCalendar) {
  // Whole-second units and a stamp of all ones: far beyond any date, and beyond what a count of
  // microseconds in 64 bits can hold.
  const auto ng = StampsOf(
      PcapngWithStamps("qvx-tsresol-huge.pcapng", 0, {~0ull, 0x7FFFFFFFFFFFFFFFull, 1ull << 40}));
  EXPECT_EQ(ng, std::vector<Stamp>(
                    {{kLastSecond, 999999}, {kLastSecond, 999999}, {kLastSecond, 999999}}));
  for (const Stamp& s : ng) EXPECT_LT(s.sec, INT64_MAX / 1000000);
  // A pcap fraction of more than a second carries into the seconds.
  for (bool nanos : {false, true}) {
    PcapWriter w(false, nanos);
    w.Frame(0xFFFFFFFFu, 0xFFFFFFFFu, 60, 0);
    const auto p = StampsOf(w.Save("qvx-capture-file-scrambled.pcap"));
    const Stamp want = nanos ? Stamp{0xFFFFFFFFll + 4, 294967} : Stamp{0xFFFFFFFFll + 4294, 967295};
    EXPECT_EQ(p, std::vector<Stamp>({want})) << (nanos ? "nanoseconds" : "microseconds");
  }
}

}  // namespace
}  // namespace qvx
