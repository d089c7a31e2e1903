#include "capture/capture_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/startup.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_loop.h"
#include "capture/fake_connector.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

using test::Fake;

// The fake platform with a machine address list of the test's choosing.
class AddressPlatform : public PlatformWrapper {
 public:
  explicit AddressPlatform(Platform* t) : PlatformWrapper(t) { previous_ = SetPlatform(this); }
  ~AddressPlatform() override { SetPlatform(previous_); }
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override {
    *out = addresses;
    return result;
  }
  std::vector<std::string> addresses;
  AddressListResult result = AddressListResult::kOk;

 private:
  Platform* previous_;
};

IpAddress Addr(const char* text) {
  unsigned a, b, c, d;
  std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  return IpAddress::V4(bytes);
}

class CaptureControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QVX_StartUp(0, nullptr));
    OptionSetDefaults(&OptionInfo);
    OptionInfo.ServiceTaskWait = 0;
    std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "10.213.0.1");
    DiagLogLine(DiagLog::kKernel, 0, "test\r\n");
    Fake().data = &data;
    Fake().stop_when_empty = false;
  }
  void TearDown() override {
    if (data.LoggingFlg == 1) QVX_StartandStop_Logging(data);
    if (data.hThread.joinable()) data.hThread.join();
  }
  std::vector<std::string> Kernel() { return fake.Lines(szLogfileName); }
  int Count(const std::string& part) {
    int n = 0;
    for (auto& l : Kernel())
      if (l.find(part) != std::string::npos) ++n;
    return n;
  }

  test::FakePlatform fake;
  test::FakeConnectorGuard con;
  DATA data;
};

TEST_F(CaptureControlTest, AddressTextToAdapterValue) {
  EXPECT_EQ(QVX_IpTextToAddr("192.168.1.10"), Addr("192.168.1.10"));
  // Parts are converted numerically, so leading zeros still find the adapter.
  EXPECT_EQ(QVX_IpTextToAddr("192.168.001.010"), Addr("192.168.1.10"));
  EXPECT_EQ(QVX_IpTextToAddr("10.213.0.1"), Addr("10.213.0.1"));
  // An IPv6 address in any spelling is the same address.
  EXPECT_TRUE(QVX_IpTextToAddr("FD00::0001").v6);
  EXPECT_EQ(QVX_IpTextToAddr("FD00::0001"), QVX_IpTextToAddr("fd00:0:0::1"));
}

TEST(CaptureFilterTest, AFilterThatKeepsEverySmbFrameOutIsFound) {
  EXPECT_TRUE(QVX_FilterPassesSmb("tcp", "10.213.0.1"));
  EXPECT_TRUE(QVX_FilterPassesSmb("tcp", "fd00::1"));
  EXPECT_TRUE(QVX_FilterPassesSmb("tcp", "0.0.0.0")) << "no server named yet";
#ifndef _WIN32  // Windows compiles no filter of its own for this
  EXPECT_TRUE(QVX_FilterPassesSmb("tcp port 445", "10.213.0.1"));
  EXPECT_TRUE(QVX_FilterPassesSmb("vlan and tcp", "10.213.0.1")) << "tagged SMB passes";
  EXPECT_TRUE(QVX_FilterPassesSmb("host fd00::1", "FD00::0001"));
  EXPECT_FALSE(QVX_FilterPassesSmb("udp", "10.213.0.1"));
  EXPECT_FALSE(QVX_FilterPassesSmb("ip6", "10.213.0.1"));
  EXPECT_FALSE(QVX_FilterPassesSmb("host 10.213.0.9", "10.213.0.1"));
  EXPECT_FALSE(QVX_FilterPassesSmb("tcp port 80", "fd00::1"));
#endif
}

TEST_F(CaptureControlTest, StartOpensTheMatchingAdapterAndStopJoins) {
  Fake().adapters = {{Addr("192.0.2.99"), "eth9"}, {Addr("10.213.0.1"), "veth-srv"}};
  EXPECT_EQ(QVX_StartandStop_Logging(data), 0);
  EXPECT_EQ(data.LoggingFlg.load(), 1);
  EXPECT_STREQ(data.ServerIpAddress, "10.213.0.1");
  EXPECT_EQ(Fake().calls, (std::vector<std::string>{"enum", "open veth-srv 20", "filter"}));
  EXPECT_EQ(Fake().filter, "tcp");
  EXPECT_EQ(Fake().mask, 0xFFFFFFu);
  EXPECT_EQ(Count("WPCAPバッファセット。[default]"), 1);
  EXPECT_EQ(Count("QVX_I03-002 QVX_StartandStop_Logging["), 1);

  EXPECT_EQ(QVX_StartandStop_Logging(data), 0);  // a start while running stops
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_FALSE(data.hThread.joinable());
  EXPECT_EQ(Fake().calls.back(), "close");
  EXPECT_EQ(Count("QVX_I03-001 QVX_StartandStop_Logging["), 1);
  // The thread had ended before the stop returned.
  EXPECT_EQ(Count("] : Thread End"), 1);
}

TEST_F(CaptureControlTest, NoAdapterMatches) {
  Fake().adapters = {
      {Addr("10.213.9.1"), "a0"}, {Addr("10.213.9.2"), "a1"}, {Addr("10.213.9.3"), "a2"}};
  std::snprintf(OptionInfo.PcapDevNamae, sizeof OptionInfo.PcapDevNamae, "fallback0");
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_EQ(Fake().calls, std::vector<std::string>{"enum"});
  const unsigned long want = 0x0100D50A;  // 10.213.0.1 as an in_addr holds it
  char line[200];
  std::snprintf(line, sizeof line, "アダプタ名検出エラー。(%ld)(%x) max=(3)",
                static_cast<long>(want), static_cast<unsigned>(want));
  EXPECT_EQ(Count(line), 1);
  EXPECT_EQ(Count("QVX_E03-012 QVX_StartandStop_Logging QvxWPcapConEnumAdapter["), 3);
  const unsigned long third = 0x0309D50A;  // 10.213.9.3
  std::snprintf(line, sizeof line, "アダプタ名一覧 [2](%ld)(%x)[a2]", static_cast<long>(third),
                static_cast<unsigned>(third));
  EXPECT_EQ(Count(line), 1);
  ASSERT_EQ(fake.boxes().size(), 1u);
  // The box names the address looked for and every adapter found with its address.
  const std::string problem =
      "no adapter carries the address 10.213.0.1 (IpAddress in Quorvix.ini); adapters found: "
      "a0 10.213.9.1, a1 10.213.9.2, a2 10.213.9.3";
  EXPECT_EQ(fake.boxes()[0].text, "Capture cannot start: " + problem);
  EXPECT_EQ(fake.boxes()[0].caption, "Error");
  EXPECT_EQ(QVX_CaptureStartProblem(), problem);
}

TEST_F(CaptureControlTest, PcapDevNamaeOnlyWhenTheListIsEmpty) {
  std::snprintf(OptionInfo.PcapDevNamae, sizeof OptionInfo.PcapDevNamae, "fallback0");
  EXPECT_EQ(QVX_StartandStop_Logging(data), 0);
  EXPECT_EQ(Fake().opened, "fallback0");
  EXPECT_EQ(Count("オプションアダプタ名 [0][fallback0]"), 1);
  QVX_StartandStop_Logging(data);

  // Empty list and no fallback name: nothing to open.
  OptionInfo.PcapDevNamae[0] = '\0';
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(Count("アダプタ名検出エラー。"), 1);
  EXPECT_EQ(Count("QVX_E03-012"), 0);
  EXPECT_EQ(QVX_CaptureStartProblem(),
            "no adapter carries the address 10.213.0.1 (IpAddress in Quorvix.ini); no adapter "
            "with an IP address was found");
}

TEST_F(CaptureControlTest, PacketBufferIsSetOnlyWhenConfigured) {
  Fake().adapters = {{Addr("10.213.0.1"), "veth-srv"}};
  OptionInfo.PacketBuffer = 4194304;
  EXPECT_EQ(QVX_StartandStop_Logging(data), 0);
  EXPECT_EQ(Fake().buffer_size, 4194304);
  EXPECT_EQ(QVX_CaptureAdapter(), "veth-srv");
  EXPECT_EQ(QVX_CaptureStartProblem(), "");
  EXPECT_EQ(Count("WPCAPバッファセット。[4194304]"), 1);
  QVX_StartandStop_Logging(data);

  Fake().buffer_rc = -1;
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(Count("WPCAPバッファセット失敗。[4194304]"), 1);
  EXPECT_EQ(fake.boxes().back().text.rfind(
                "Capture cannot start: the capture buffer of veth-srv cannot be set to 4194304 "
                "bytes",
                0),
            0u);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
}

TEST_F(CaptureControlTest, OpenEnumAndFilterFailures) {
  Fake().adapters = {{Addr("10.213.0.1"), "veth-srv"}};
  Fake().open_rc = -1;
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(Count("WPCAPオープン失敗。(no such device)[veth-srv]"), 1);
  EXPECT_EQ(fake.boxes().back().text,
            "Capture cannot start: the adapter veth-srv cannot be opened: no such device");
  Fake().open_rc = 0;
  Fake().filter_rc = -1;
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(Count("WPCAPパケットフィルタリング設定エラー。[tcp]"), 1);
  EXPECT_EQ(fake.boxes().back().text.rfind(
                "Capture cannot start: the capture filter \"tcp\" (FilterCode) is refused", 0),
            0u);
  Fake().enum_rc = -1;
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(Count("WPCAPアダプタ一覧取得失敗。(enum failed)"), 1);
  EXPECT_EQ(fake.boxes().back().text,
            "Capture cannot start: the adapters cannot be listed: enum failed");
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  EXPECT_FALSE(data.hThread.joinable());
  // Under "SC" the boxes are skipped and the lines still written.
  nCmdLineOptSc = 1;
  size_t boxes = fake.boxes().size();
  EXPECT_EQ(QVX_StartandStop_Logging(data), 1);
  EXPECT_EQ(fake.boxes().size(), boxes);
  EXPECT_EQ(Count("WPCAPアダプタ一覧取得失敗。(enum failed)"), 2);
}

TEST_F(CaptureControlTest, RestartWhileRunningNeverOverlapsThreads) {
  Fake().adapters = {{Addr("10.213.0.1"), "veth-srv"}};
  ASSERT_EQ(QVX_StartandStop_Logging(data), 0);
  for (int i = 0; i < 5; ++i) {
    // Stop and start back to back, as the restart does.
    QVX_StartandStop_Logging(data);
    EXPECT_EQ(Count("] : Thread End"), i + 1);
    QVX_StartandStop_Logging(data);
    EXPECT_EQ(data.LoggingFlg.load(), 1);
  }
  QVX_StartandStop_Logging(data);
  EXPECT_EQ(Count("] : Thread End"), 6);
  EXPECT_EQ(Count("QVX_I03-002 QVX_StartandStop_Logging["), 6);
}

// A stop on a live adapter first reads the frames it held (here each takes 20 ms to arrive),
// up to the first one captured after the stop; the close comes after them. A drain that outlasts
// its second is cut short by the close, and says so.
TEST_F(CaptureControlTest, AStopReadsWhatTheAdapterHeld) {
  struct Case {
    int frame_ms, held, later;
    size_t left;
    const char* told;
  } cases[] = {
      {20, 30, 0, 0, "QVX_I21-073 "},
      {20, 20, 5, 4, "QVX_I21-073 "},    // the first later frame ends the drain
      {150, 30, 0, 23, "QVX_E21-073 "},  // some 7 read in the second, the rest cut
  };
  Fake().adapters = {{Addr("10.213.0.1"), "veth-srv"}};
  Fake().drainable = 1;
  Fake().clock_us = 5'000'000;
  for (const Case& c : cases) {
    Fake().frame_ms = c.frame_ms;
    Fake().frames.clear();
    for (int i = 0; i < c.held + c.later; ++i) {
      test::FakeFrame f{test::MakeFrame("10.213.0.2", "10.213.0.1", {1, 2, 3}), 0};
      f.reported = static_cast<unsigned long>(f.bytes.size());
      f.time_us = i < c.held ? 4'000'000 + i : 6'000'000 + i;
      Fake().frames.push_back(f);
    }
    const int told = Count(c.told);
    ASSERT_EQ(QVX_StartandStop_Logging(data), 0);
    QVX_StartandStop_Logging(data);
    EXPECT_FALSE(data.hThread.joinable());
    EXPECT_EQ(Fake().calls.back(), "close");
    if (c.left == 0) {
      EXPECT_TRUE(Fake().frames.empty());
    } else if (c.later > 0) {
      EXPECT_EQ(Fake().frames.size(), c.left);
    } else {
      EXPECT_GE(Fake().frames.size(), c.left - 3);
      EXPECT_LE(Fake().frames.size(), c.left + 3);
    }
    EXPECT_EQ(Count(c.told), told + 1) << c.told;
    EXPECT_EQ(Fake().wait_ends, &c - cases + 1);
  }
}

TEST_F(CaptureControlTest, DefaultServerAddressIsTheFirstLocalAddress) {
  AddressPlatform addresses(&fake);
  addresses.addresses = {"10.0.0.5", "10.0.0.6"};
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "0.0.0.0");
  EXPECT_EQ(QVX_Init_Dlg(nullptr, data), 0);
  EXPECT_STREQ(OptionInfo.IpAddress, "10.0.0.5");
  // A configured address is kept.
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "10.0.0.6");
  EXPECT_EQ(QVX_Init_Dlg(nullptr, data), 0);
  EXPECT_STREQ(OptionInfo.IpAddress, "10.0.0.6");
  // No address list: 1, the option untouched.
  addresses.result = AddressListResult::kQueryFailed;
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "0.0.0.0");
  EXPECT_EQ(QVX_Init_Dlg(nullptr, data), 1);
  EXPECT_STREQ(OptionInfo.IpAddress, "0.0.0.0");
  EXPECT_EQ(Count("QVX_E13-003 QVX_GetIPaddress["), 1);
}

// Each step of reading the address list has its own line and its pair of boxes (stop icon, then
// plain); the option keeps 0.0.0.0.
TEST_F(CaptureControlTest, AddressListFailuresNameTheirStep) {
  AddressPlatform addresses(&fake);
  addresses.addresses = {"10.0.0.5"};
  struct Case {
    AddressListResult result;
    const char* line;
    const char* first_box;
    const char* second_box;
  };
  const Case cases[] = {
      {AddressListResult::kStartupFailed,
       "QVX_E13-001 QVX_GetIPaddress[%] : エラー：WSAStartupが失敗しました",
       "Error:WSAStartup Error", "Connection Error:WSAStartup Error"},
      {AddressListResult::kSocketFailed,
       "QVX_E13-002 QVX_GetIPaddress[%] : 接続エラー：socketが失敗しました",
       "Connection Error:socket Error", "Connection Error:socket Error"},
      {AddressListResult::kQueryFailed, "QVX_E13-003 QVX_GetIPaddress[%] : WSAIoctlに失敗しました",
       "WSAIoctl Error", "WSAIoctl Error"},
  };
  for (const Case& c : cases) {
    const size_t boxes = fake.boxes().size();
    addresses.result = c.result;
    std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "0.0.0.0");
    EXPECT_EQ(QVX_Init_Dlg(nullptr, data), 1);
    EXPECT_STREQ(OptionInfo.IpAddress, "0.0.0.0");
    const std::string line = c.line;
    const std::string head = line.substr(0, line.find('%'));
    const std::string tail = line.substr(line.find('%') + 1);
    bool found = false;
    for (const auto& l : Kernel())
      found |= l.rfind(head, 0) == 0 && l.size() >= tail.size() &&
               l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
    EXPECT_TRUE(found) << c.line;
    ASSERT_EQ(fake.boxes().size(), boxes + 2) << c.line;
    EXPECT_EQ(fake.boxes()[boxes].text, c.first_box);
    EXPECT_EQ(fake.boxes()[boxes].style, static_cast<unsigned>(kMbIconStop));
    EXPECT_EQ(fake.boxes()[boxes + 1].text, c.second_box);
    EXPECT_EQ(fake.boxes()[boxes + 1].style, static_cast<unsigned>(kMbOk));
  }
  // Under "SC" the lines are written and no box is shown.
  nCmdLineOptSc = 1;
  const size_t boxes = fake.boxes().size();
  addresses.result = AddressListResult::kSocketFailed;
  EXPECT_EQ(QVX_Init_Dlg(nullptr, data), 1);
  EXPECT_EQ(fake.boxes().size(), boxes);
  EXPECT_EQ(Count("QVX_E13-002 QVX_GetIPaddress["), 2);
  nCmdLineOptSc = 0;
}

}  // namespace
}  // namespace qvx
