#include "connector/qvx_wpcap_con.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace qvx {
namespace {

std::string Data(const char* name) { return std::string(QVX_CAPTURE_DATA_DIR) + "/" + name; }

// Frames of a file through the open-capture calls: count, and the state at the end.
struct Drained {
  int frames = 0;
  int state = 0;
  unsigned long first_len = 0;
};
Drained Drain() {
  Drained d;
  static unsigned char buf[kQvxFrameBufSize];
  for (int idle = 0; idle < 3;) {
    unsigned long len = 0;
    EXPECT_EQ(QvxWPcapConRecv(buf, &len), 0);
    if (len == 0) {
      ++idle;
      continue;
    }
    if (d.frames++ == 0) d.first_len = len;
  }
  d.state = QvxWPcapConFileState(nullptr);
  return d;
}

TEST(QvxWPcapConTest, ReplaysEveryFrameOfAFile) {
  char err[kQvxErrBufSize] = {};
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0) << err;
  Drained d = Drain();
  // tshark counts 178 frames in this file; the first is the client's SYN (74 bytes).
  EXPECT_EQ(d.frames, 178);
  EXPECT_EQ(d.first_len, 74u);
  EXPECT_EQ(d.state, kQvxFileEnd);
  EXPECT_EQ(QvxWPcapConFrameCount(), 178u);
  int64_t sec = 0;
  long usec = 0;
  EXPECT_TRUE(QvxWPcapConLastFrameTime(&sec, &usec));
  EXPECT_GT(sec, 1700000000);
  EXPECT_EQ(QvxWPcapConClose(), 0);
  // After a close a receive fails at once, and a second close reports nothing to close.
  unsigned char buf[64];
  unsigned long len = 99;
  EXPECT_EQ(QvxWPcapConRecv(buf, &len), -1);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(QvxWPcapConClose(), -1);
}

TEST(QvxWPcapConTest, FilterAppliesToFiles) {
  char err[kQvxErrBufSize] = {};
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0) << err;
  ASSERT_EQ(QvxWPcapFilterSet("tcp", 0xFFFFFF, err), 0) << err;
  EXPECT_EQ(Drain().frames, 178);  // every frame of the file is TCP
  QvxWPcapConClose();
#ifndef _WIN32
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0) << err;
  ASSERT_EQ(QvxWPcapFilterSet("tcp[tcpflags] & tcp-syn != 0", 0xFFFFFF, err), 0) << err;
  EXPECT_EQ(Drain().frames, 2);  // SYN and SYN-ACK
  QvxWPcapConClose();
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0);
  EXPECT_EQ(QvxWPcapFilterSet("this is not a filter", 0xFFFFFF, err), -1);
  EXPECT_NE(std::string(err), "");
  QvxWPcapConClose();
#else
  // Windows has no filter compiler for files: other expressions let every frame through.
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0) << err;
  ASSERT_EQ(QvxWPcapFilterSet("udp", 0xFFFFFF, err), 0) << err;
  EXPECT_EQ(Drain().frames, 178);
  QvxWPcapConClose();
#endif
}

TEST(QvxWPcapConTest, DamagedAndUnreadableFiles) {
  auto dir = std::filesystem::temp_directory_path() / "qvx-connector-test";
  std::filesystem::create_directories(dir);
  std::string cut = (dir / "cut.pcap").string();
  {
    std::ifstream in(Data("smb2_ops.pcap"), std::ios::binary);
    std::vector<char> bytes(20000);
    in.read(bytes.data(), bytes.size());
    std::ofstream(cut, std::ios::binary).write(bytes.data(), bytes.size());
  }
  char err[kQvxErrBufSize] = {};
  ASSERT_EQ(QvxWPcapConOpenFile(cut.c_str(), err), 0);
  Drained d = Drain();
  EXPECT_GT(d.frames, 50);
  EXPECT_LT(d.frames, 178);
  EXPECT_EQ(d.state, kQvxFileDamaged);
  char reason[kQvxErrBufSize] = {};
  QvxWPcapConFileState(reason);
  EXPECT_NE(std::string(reason).find("truncated"), std::string::npos) << reason;
  QvxWPcapConClose();

  std::string junk = (dir / "junk.pcap").string();
  std::ofstream(junk) << "not a capture file at all";
  EXPECT_EQ(QvxWPcapConOpenFile(junk.c_str(), err), -1);
  EXPECT_NE(std::string(err), "");
  EXPECT_EQ(QvxWPcapConOpenFile((dir / "missing.pcap").string().c_str(), err), -1);
  std::filesystem::remove_all(dir);
}

TEST(QvxWPcapConTest, CloseFromAnotherThreadEndsReceiving) {
  char err[kQvxErrBufSize] = {};
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb2_ops.pcap").c_str(), err), 0);
  std::atomic<bool> failed{false};
  std::thread reader([&] {
    static unsigned char buf[kQvxFrameBufSize];
    unsigned long len;
    while (QvxWPcapConRecv(buf, &len) == 0) {
    }
    failed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(QvxWPcapConClose(), 0);
  reader.join();
  EXPECT_TRUE(failed);
}

TEST(QvxWPcapConTest, FilesKeepNoDropCountsAndTheirClockIsTheFramesTime) {
  char err[kQvxErrBufSize] = {};
  ASSERT_EQ(QvxWPcapConOpenFile(Data("smb1_ops.pcap").c_str(), err), 0);
  EXPECT_EQ(QvxWPcapConClockUs(), 0);   // no frame read yet
  EXPECT_EQ(QvxWPcapConWait(1000), 1);  // frames are always ready while the file lasts
  static unsigned char buf[kQvxFrameBufSize];
  unsigned long len = 0;
  ASSERT_EQ(QvxWPcapConRecv(buf, &len), 0);
  ASSERT_GT(len, 0u);
  int64_t sec = 0;
  long usec = 0;
  ASSERT_TRUE(QvxWPcapConLastFrameTime(&sec, &usec));
  EXPECT_EQ(QvxWPcapConClockUs(), sec * 1000000 + usec);
  EXPECT_EQ(QvxWPcapConFrameTimeUs(), sec * 1000000 + usec);
  uint64_t received = 0, dropped = 0;
  EXPECT_EQ(QvxWPcapConStats(&received, &dropped), -1);
  EXPECT_EQ(QvxWPcapConClose(), 0);
  EXPECT_EQ(QvxWPcapConWait(10), -1);  // nothing open
}

#ifndef _WIN32
TEST(QvxWPcapConTest, CloseEndsAWaitOnTheAdapterAtOnce) {
  char err[kQvxErrBufSize] = {};
  if (QvxWPcapConOpen("lo", 20, err) != 0) GTEST_SKIP() << "cannot capture on lo: " << err;
  uint64_t received = 1, dropped = 1;
  EXPECT_EQ(QvxWPcapConStats(&received, &dropped), 0);
  EXPECT_EQ(dropped, 0u);
  std::atomic<int> last{2};
  std::thread waiter([&] {
    // Ten minutes: only the close can end this wait in time for the test.
    int rc;
    while ((rc = QvxWPcapConWait(600000)) != -1) {
    }
    last = rc;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(QvxWPcapConClose(), 0);
  waiter.join();
  EXPECT_EQ(last, -1);
  EXPECT_EQ(QvxWPcapConStats(&received, &dropped), -1);
}
#endif

TEST(QvxWPcapConTest, FileReaderReadsIndependently) {
  QvxPcapFileReader r;
  char err[kQvxErrBufSize] = {};
  ASSERT_TRUE(r.Open(Data("smb1_ops.pcap").c_str(), err)) << err;
  const unsigned char* d;
  uint32_t n;
  int64_t sec;
  long usec;
  int frames = 0;
  while (r.Next(&d, &n, &sec, &usec, err) == 1) ++frames;
  EXPECT_EQ(frames, 108);  // capinfos: 108 frames
}

TEST(QvxWPcapConTest, PcapngHoldsTheSameFrames) {
  // smb2_ops.pcapng is smb2_ops.pcap converted by editcap -F pcapng.
  QvxPcapFileReader a, b;
  char err[kQvxErrBufSize] = {};
  ASSERT_TRUE(a.Open(Data("smb2_ops.pcap").c_str(), err)) << err;
  ASSERT_TRUE(b.Open(Data("smb2_ops.pcapng").c_str(), err)) << err;
  int frames = 0;
  for (;;) {
    const unsigned char *da, *db;
    uint32_t na = 0, nb = 0;
    int64_t sa = 0, sb = 0;
    long ua = 0, ub = 0;
    int ra = a.Next(&da, &na, &sa, &ua, err);
    int rb = b.Next(&db, &nb, &sb, &ub, err);
    ASSERT_EQ(ra, rb) << "frame " << frames;
    if (ra != 1) break;
    ASSERT_EQ(na, nb);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(da), na),
              std::string(reinterpret_cast<const char*>(db), nb));
    EXPECT_EQ(sa, sb);
    EXPECT_EQ(ua, ub);
    ++frames;
  }
  EXPECT_EQ(frames, 178);
}

TEST(QvxWPcapConTest, EnumeratesAdaptersOrReportsWhy) {
  IpAddress addrs[kQvxAdapterMax];
  static char names[kQvxAdapterMax][kQvxAdapterNameSize];
  int count = -1;
  char err[kQvxErrBufSize] = {};
  int rc = QvxWPcapConEnumAdapter(addrs, names, &count, err);
  if (rc == -1) {
    EXPECT_NE(std::string(err), "");
  } else {
    EXPECT_GE(count, 0);
    EXPECT_LE(count, kQvxAdapterMax);
    for (int i = 0; i < count; ++i) EXPECT_NE(std::string(names[i]), "");
  }
}

}  // namespace
}  // namespace qvx
