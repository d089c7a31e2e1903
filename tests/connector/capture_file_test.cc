#include "connector/capture_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
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

}  // namespace
}  // namespace qvx
