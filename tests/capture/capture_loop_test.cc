#include "capture/capture_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/maintenance.h"
#include "app/startup.h"
#include "audit/answer.h"
#include "audit/context.h"
#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_clock.h"
#include "capture/fake_connector.h"
#include "capture/held_requests.h"
#include "filters/ip_filter.h"
#include "support/fake_platform.h"
#include "tracking/connection_tracker.h"
#include "wire/smb_command_table.h"

namespace qvx {
namespace {

using test::Fake;
using test::MakeFrame;
using test::Smb1Payload;
using test::Smb2Payload;

constexpr const char* kServer = "10.213.0.1";
constexpr const char* kClient = "10.213.0.2";

// What each recording handler saw.
struct Call {
  std::string handler;
  unsigned long Len;
  long cursor;
  int max;
  int command;
  int version;
  bool tail_zero;  // every byte of the working buffer past Len is zero
  std::string server_mac;
  std::string client_mac;
  int64_t handled_us;  // the capture time the handler runs at
  int64_t read_us;     // capture time of the last frame read when it ran
  bool answered;       // the server's answer reached the handler
  uint32_t status;     // its status
};
std::vector<Call> g_calls;
std::vector<int64_t> g_times;  // the platform's Now() as each handler saw it
std::string g_fail;            // handler that returns 10

constexpr const char* kNames[] = {
    "QVX_SmbTreeConnectAndx",
    "QVX_SmbNtCreateAndx",
    "QVX_SmbComRename",
    "QVX_ComDeleteDirectory",
    "QVX_SmbTreeDisConnectReq",
    "QVX_SmbSessionSetupAndx",
    "QVX_SmbOtherCmd",
    "QVX_SmbTreeConnectAndxRecv",
    "QVX_SmbSessionSetupAndxRecv",
    "QVX_Smb2FileStandardInfo",
    "QVX_Smb2TreeConnectAndx",
    "QVX_Smb2TreeDisConnectReq",
    "QVX_Smb2OtherCmd",
    "QVX_Smb2TreeConnectAndxRecv",
    "QVX_Smb2Close",
    "QVX_Smb2Write",
    "QVX_Smb2SetInfo",
    "QVX_SmbClose",
    "QVX_SmbWrite",
    "QVX_SmbCreateDirectory",
    "QVX_SmbComDelete",
    "QVX_Smb2Ioctl",
    "QVX_SmbOpen",
    "QVX_SmbSetInfo",
    "QVX_SmbNtTransact",
    "QVX_SmbNtRename",
    "QVX_SmbWriteAndClose",
    "QVX_Smb2Read",
    "QVX_SmbRead",
};

int Record(int n, unsigned long Len, unsigned char* d, long cursor, int max, DATA* data) {
  bool zero = true;
  for (unsigned long i = Len; i < kRecvBufSize; ++i) zero = zero && d[i] == 0;
  g_calls.push_back({kNames[n], Len, cursor, max, data->SMBCommand, data->SMBVersion, zero,
                     data->ServerMac, data->ClientMac, QVX_CaptureHandledTimeUs(),
                     test::Fake().frame_us, data->ctx->answer != nullptr,
                     data->ctx->answer ? data->ctx->answer->status : 0});
  g_times.push_back(static_cast<int64_t>(platform().Now().t));
  return g_fail == kNames[n] ? 10 : 0;
}
template <int N>
int R1(SMB_HEADER_ST*, unsigned long L, unsigned char* d, long c, DATA* data) {
  return Record(N, L, d, c, -1, data);
}
template <int N>
int R1c(SMB_HEADER_ST*, unsigned long L, unsigned char* d, long c, int m, DATA* data) {
  return Record(N, L, d, c, m, data);
}
template <int N>
int R2(SMB2_HEADER_ST*, unsigned long L, unsigned char* d, long c, DATA* data) {
  return Record(N, L, d, c, -1, data);
}
template <int N>
int R2c(SMB2_HEADER_ST*, unsigned long L, unsigned char* d, long c, int m, DATA* data) {
  return Record(N, L, d, c, m, data);
}

class CaptureLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QVX_StartUp(0, nullptr));
    OptionSetDefaults(&OptionInfo);
    std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "%s", kServer);
    OptionInfo.TreeConnectCnt = 77;
    OptionInfo.SessionSetupCnt = 55;
    DiagLogLine(DiagLog::kKernel, 0, "test\r\n");
    Fake().data = &data;
    g_calls.clear();
    g_times.clear();
    g_fail.clear();
    QVX_CaptureDispatch = {R1c<0>, R1<1>,  R1<2>,   R1<3>,   R1c<4>, R1<5>,   R1<6>,  R1c<7>,
                           R1c<8>, R2c<9>, R2c<10>, R2c<11>, R2<12>, R2c<13>, R2<14>, R2<15>,
                           R2<16>, R1<17>, R1<18>,  R1<19>,  R1<20>, R2<21>,  R1<22>, R1<23>,
                           R1<24>, R1<25>, R1<26>,  R2<27>,  R1<28>};
  }
  void TearDown() override { QVX_CaptureDispatchReset(); }

  void Serve(const std::vector<unsigned char>& f) {
    Fake().frames.push_back({f, static_cast<unsigned long>(f.size()), 0});
  }
  void Run() {
    data.LoggingFlg = 1;
    QVX_LogThread(&data);
  }
  std::vector<std::string> Handlers() {
    std::vector<std::string> v;
    for (auto& c : g_calls) v.push_back(c.handler);
    return v;
  }
  int Count(const std::string& part) {
    int n = 0;
    for (auto& l : fake.Lines(szLogfileName))
      if (l.find(part) != std::string::npos) ++n;
    return n;
  }

  test::FakePlatform fake;
  test::FakeConnectorGuard con;
  DATA data;
};

// A datagram of n bytes: IPv4 header (20) then the given bytes at the given offset, zero-filled.
std::vector<unsigned char> Datagram(size_t n, size_t at, const std::vector<unsigned char>& put) {
  auto f = MakeFrame(kClient, kServer, {});
  f.resize(14 + n, 0);
  for (size_t i = 0; i < put.size() && at + i < n; ++i) f[14 + at + i] = put[i];
  return f;
}
const std::vector<unsigned char> kSmb1Sig = {0xFF, 'S', 'M', 'B'};
const std::vector<unsigned char> kSmb2Sig = {0xFE, 'S', 'M', 'B'};

TEST_F(CaptureLoopTest, AMessageTooShortForItsHeaderReachesNoHandler) {
  OptionInfo.ErrorLevel = 6;
  // The session header says 4 bytes: the signature and nothing else.
  Serve(MakeFrame(kClient, kServer, {0, 0, 0, 4, 0xFF, 'S', 'M', 'B'}));
  Run();
  EXPECT_EQ(Count("SMB1.0　BASE検索一致"), 1);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(CaptureLoopTest, HeaderMustFitInTheMessage) {
  // SMB1: a 31-byte message is one short of the header; SMB2: the 64-byte header plus its
  // StructureSize must fit from the 1-based cursor.
  auto one = Smb1Payload(0x2B, 0);
  auto short_one = one;
  short_one.pop_back();
  short_one[3] = 31;
  auto two = Smb2Payload(0x10, 1);
  auto short_two = two;
  short_two.pop_back();
  short_two[3] = 64;
  for (const auto& p : {short_one, one, short_two, two}) Serve(MakeFrame(kClient, kServer, p));
  Run();
  ASSERT_EQ(Handlers(), (std::vector<std::string>{"QVX_SmbOtherCmd", "QVX_Smb2OtherCmd"}));
  EXPECT_EQ(g_calls[0].Len, 44u + 32u);
  EXPECT_EQ(g_calls[0].cursor, 44 + 33);
  EXPECT_EQ(g_calls[1].Len, 44u + 65u);
  EXPECT_EQ(g_calls[1].cursor, 44 + 65);
}

TEST_F(CaptureLoopTest, MessagesAreFoundWhereverTheyFallInTheStream) {
  // Three requests in one segment, the last one's header split with the next segment, which
  // also carries a fourth.
  std::vector<unsigned char> run;
  for (uint64_t id : {1, 2, 3}) {
    auto m = Smb2Payload(0x10, 8, id);
    run.insert(run.end(), m.begin(), m.end());
  }
  auto fourth = Smb2Payload(0x10, 8, 4);
  run.insert(run.end(), fourth.begin(), fourth.begin() + 20);
  Serve(MakeFrame(kClient, kServer, run));
  std::vector<unsigned char> rest(fourth.begin() + 20, fourth.end());
  auto fifth = Smb2Payload(5, 8, 5);
  rest.insert(rest.end(), fifth.begin(), fifth.end());
  Serve(MakeFrame(kClient, kServer, rest));
  Run();
  EXPECT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_Smb2OtherCmd", "QVX_Smb2OtherCmd", "QVX_Smb2OtherCmd",
                                      "QVX_Smb2OtherCmd", "QVX_Smb2FileStandardInfo"}));
}

TEST_F(CaptureLoopTest, AnSmb1AndxChainHandsOnEachCommand) {
  // A session set-up (3 words here) with a tree connect chained behind it, and a write with
  // nothing behind it (AndXCommand 0xFF).
  auto m = Smb1Payload(0x73, 0);
  const size_t first = m.size();  // NBSS + header: the first block starts here
  std::vector<unsigned char> setup = {3, 0x75, 0, 0, 0, 0, 0, 0, 0};
  m.insert(m.end(), setup.begin(), setup.end());
  const size_t second = m.size() - 4;  // the tree connect's block, from the header's start
  m[first + 3] = static_cast<unsigned char>(second);
  std::vector<unsigned char> tree = {4, 0xFF, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0x41, 0x42};
  m.insert(m.end(), tree.begin(), tree.end());
  m[3] = static_cast<unsigned char>(m.size() - 4);
  Serve(MakeFrame(kClient, kServer, m));
  // A block that points back into itself ends the chain.
  auto loop = Smb1Payload(0x75, 0);
  std::vector<unsigned char> self = {3, 0x75, 0, 32, 0, 0, 0, 0, 0};
  loop.insert(loop.end(), self.begin(), self.end());
  loop[3] = static_cast<unsigned char>(loop.size() - 4);
  Serve(MakeFrame(kClient, kServer, loop));
  OptionInfo.SessionSetupFlg = 1;
  Run();
  EXPECT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_SmbSessionSetupAndx", "QVX_SmbTreeConnectAndx",
                                      "QVX_SmbTreeConnectAndx"}));
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[1].command, 0x75);
  // The chained command's block follows its header, as any first block does.
  EXPECT_EQ(g_calls[1].Len, 44u + 32u + tree.size());
}

TEST_F(CaptureLoopTest, AnSmbHeaderInsideAMessagesDataStartsNothing) {
  // An SMB2 CREATE whose body (a create context the server ignores) holds FF 'S' 'M' 'B': it is
  // the CREATE that counts.
  auto create = Smb2Payload(5, 40);
  for (size_t i = 0; i < 4; ++i) create[4 + 64 + 20 + i] = kSmb1Sig[i];
  create[4 + 64 + 24] = 0xA2;
  Serve(MakeFrame(kClient, kServer, create));
  // A long write whose data, in the next segment, happens to hold an SMB1 header and an SMB2 one:
  // they are skipped with the data.
  auto write = Smb2Payload(9, 48 + 300);
  write.resize(4 + 64 + 48);
  Serve(MakeFrame(kClient, kServer, write));
  std::vector<unsigned char> data_only(300, 0x5A);
  auto fake1 = Smb1Payload(0xA2);
  auto fake2 = Smb2Payload(5);
  std::copy(fake1.begin(), fake1.end(), data_only.begin() + 17);
  std::copy(fake2.begin(), fake2.end(), data_only.begin() + 120);
  Serve(MakeFrame(kClient, kServer, data_only));
  Run();
  ASSERT_EQ(Handlers(), (std::vector<std::string>{"QVX_Smb2FileStandardInfo", "QVX_Smb2Write"}));
  EXPECT_EQ(g_calls[0].version, 2);
  EXPECT_EQ(g_calls[0].command, 5);
  EXPECT_EQ(PacketSMB_Base, 44);
  EXPECT_EQ(g_calls[0].cursor, 44 + 65);
}

TEST_F(CaptureLoopTest, ALostSegmentIsToldAndTheStreamFoundAgain) {
  Serve(MakeFrame(kClient, kServer, Smb2Payload(0x10, 8, 1)));
  // A segment the capture never saw: the next one starts past it.
  MakeFrame(kClient, kServer, Smb2Payload(0x10, 8, 2));
  // It started inside a message; the request after that is found again.
  std::vector<unsigned char> tail(30, 0x33);
  auto after = Smb2Payload(5, 8, 3);
  tail.insert(tail.end(), after.begin(), after.end());
  Serve(MakeFrame(kClient, kServer, tail));
  Run();
  EXPECT_EQ(Handlers(), (std::vector<std::string>{"QVX_Smb2OtherCmd", "QVX_Smb2FileStandardInfo"}));
  EXPECT_EQ(Count("gaps in the SMB stream"), 1);
}

// A frame with IP and TCP options: each header is as long as its own length field says.
std::vector<unsigned char> WithOptions(std::vector<unsigned char> f, size_t ip_extra,
                                       size_t tcp_extra) {
  f.insert(f.begin() + 14 + 20 + 20, tcp_extra, 0x01);  // TCP no-op options
  f[14 + 20 + 12] = static_cast<unsigned char>((20 + tcp_extra) / 4 << 4);
  f.insert(f.begin() + 14 + 20, ip_extra, 0x00);  // IP end-of-options padding
  f[14] = static_cast<unsigned char>(0x40 | (20 + ip_extra) / 4);
  const size_t total = f.size() - 14;
  f[14 + 2] = static_cast<unsigned char>(total >> 8);
  f[14 + 3] = static_cast<unsigned char>(total);
  return f;
}

TEST_F(CaptureLoopTest, HeaderLengthsAreTakenFromTheHeaders) {
  Serve(WithOptions(MakeFrame(kClient, kServer, Smb1Payload(0x2B)), 4, 12));
  Serve(WithOptions(MakeFrame(kClient, kServer, Smb2Payload(5)), 40, 40));  // both at their most
  Run();
  // Handlers get each message behind plain 20-byte IPv4 and TCP headers and the session header.
  ASSERT_EQ(Handlers(), (std::vector<std::string>{"QVX_SmbOtherCmd", "QVX_Smb2FileStandardInfo"}));
  EXPECT_EQ(g_calls[0].cursor, 44 + 33);
  EXPECT_EQ(g_calls[1].cursor, 44 + 65);
  EXPECT_EQ(PacketSMB_Base, 44);
}

TEST_F(CaptureLoopTest, OnlyFirstFragmentsOfIpv4TcpCarryAMessage) {
  auto udp = MakeFrame(kClient, kServer, Smb2Payload(5));
  udp[14 + 9] = 17;
  Serve(udp);
  auto later_fragment = MakeFrame(kClient, kServer, Smb2Payload(5));
  later_fragment[14 + 7] = 0x10;  // fragment offset 16 (128 bytes)
  Serve(later_fragment);
  auto v6 = MakeFrame(kClient, kServer, Smb2Payload(5));
  v6[14] = 0x65;
  Serve(v6);
  auto bad_ihl = MakeFrame(kClient, kServer, Smb2Payload(5));
  bad_ihl[14] = 0x44;  // 16 bytes: shorter than any IPv4 header
  Serve(bad_ihl);
  auto bad_tcp = MakeFrame(kClient, kServer, Smb2Payload(5));
  bad_tcp[14 + 20 + 12] = 0x40;  // 16 bytes: shorter than any TCP header
  Serve(bad_tcp);
  auto past_end = MakeFrame(kClient, kServer, {0, 0, 0, 4, 0xFE, 'S', 'M'});
  Serve(past_end);
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  OptionInfo.VipFlg = 1;  // not even then
  Run();
  EXPECT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2FileStandardInfo"});
}

// The same frame with its TCP ports swapped (an answer on the same addresses).
std::vector<unsigned char> SwapPorts(std::vector<unsigned char> f) {
  std::swap_ranges(f.begin() + 34, f.begin() + 36, f.begin() + 36);
  return f;
}

TEST_F(CaptureLoopTest, LoopbackDirectionFollowsTheSmbPort) {
  // The server's own traffic: both ends carry its address. Requests go to port 445, answers come
  // from it.
  Serve(MakeFrame(kServer, kServer, Smb2Payload(3)));
  Serve(SwapPorts(MakeFrame(kServer, kServer, Smb2Payload(3))));
  Serve(MakeFrame(kServer, kServer, Smb1Payload(0x75)));
  Serve(SwapPorts(MakeFrame(kServer, kServer, Smb1Payload(0x75))));
  // Over port 139 as well.
  auto nbss = MakeFrame(kServer, kServer, Smb2Payload(3));
  nbss[14 + 20 + 3] = 139;
  nbss[14 + 20 + 2] = 0;
  Serve(nbss);
  Serve(SwapPorts(nbss));
  Run();
  EXPECT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_Smb2TreeConnectAndx", "QVX_Smb2TreeConnectAndxRecv",
                                      "QVX_SmbTreeConnectAndx", "QVX_SmbTreeConnectAndxRecv",
                                      "QVX_SmbSessionSetupAndxRecv", "QVX_Smb2TreeConnectAndx",
                                      "QVX_Smb2TreeConnectAndxRecv"}));
  // With VipFlg every frame is still a request.
  g_calls.clear();
  OptionInfo.VipFlg = 1;
  Serve(SwapPorts(MakeFrame(kServer, kServer, Smb2Payload(3))));
  Run();
  EXPECT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2TreeConnectAndx"});
}

TEST_F(CaptureLoopTest, Smb2NeedsSmbExtFlg) {
  OptionInfo.ErrorLevel = 6;
  OptionInfo.SMBExtFlg = 0;
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(Count("SMB2.0　BASE検索"), 0);
  OptionInfo.SMBExtFlg = 1;
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  EXPECT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2FileStandardInfo"});
  EXPECT_EQ(Count("SMB2.0　BASE検索"), 1);
}

TEST_F(CaptureLoopTest, ServerTestAndVipFlg) {
  // Neither end is the server: dropped unless VipFlg.
  Serve(MakeFrame("10.213.0.3", kClient, Smb1Payload(0x75)));
  Run();
  EXPECT_TRUE(g_calls.empty());
  OptionInfo.VipFlg = 1;
  Serve(MakeFrame("10.213.0.3", kClient, Smb1Payload(0x75)));
  // With VipFlg a tree-connect answer from the server goes to the request handler.
  Serve(MakeFrame(kServer, kClient, Smb1Payload(0x75), 445, 0xC000));
  Run();
  EXPECT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_SmbTreeConnectAndx", "QVX_SmbTreeConnectAndx"}));
}

TEST_F(CaptureLoopTest, IpFilterEntriesInForceDropFramesBeforeDecoding) {
  const char other[] = "10.213.0.9";
  std::snprintf(IpAddFilterInfoData[0], kFilterLineSize, "01,00000000,-,00000000,0,1,%s", kClient);
  std::snprintf(IpAddFilterInfoData[1], kFilterLineSize, "02,20000101,-,20000131,0,1,%s", other);
  IpAddFilterInfoDataNo = 2;
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));               // from a filtered client
  Serve(MakeFrame(kServer, kClient, Smb2Payload(3), 445, 0xC000));  // to it
  Serve(MakeFrame(other, kServer, Smb2Payload(5)));                 // its entry's period is over
  Run();
  IpAddFilterInfoDataNo = 0;
  EXPECT_EQ(Handlers(), (std::vector<std::string>{"QVX_Smb2FileStandardInfo"}));
}

TEST_F(CaptureLoopTest, TheServerIsTheAddressTheSettingNamesHoweverWritten) {
  // Compared as addresses, not as texts: leading zeros name the same server.
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "010.213.000.001");
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  EXPECT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2FileStandardInfo"});
  // A setting that names no address monitors nothing.
  g_calls.clear();
  std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "server");
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(CaptureLoopTest, CommandGateFollowsTheTablesAndStartUpOverrides) {
  QVX_ApplyCommandTableOptions(OptionInfo);  // defaults: READ_ANDX and WRITE_ANDX out of service
  for (unsigned char c : {0x2E, 0x2F, 0x32, 0xFE, 0x99})
    Serve(MakeFrame(kClient, kServer, Smb1Payload(c)));
  for (unsigned short c : {8, 9, 0xB, 7, 0xFE, 0x13})
    Serve(MakeFrame(kClient, kServer, Smb2Payload(c)));
  Run();
  std::vector<int> seen;
  for (auto& c : g_calls) seen.push_back(c.command);
  // SMB1: TRANSACTION2 and the "--" row pass; SMB2: unknown codes fail, FLUSH and 0xFE pass.
  // Reads, writes and IOCTL (READ_ANDX, WRITE_ANDX, READ, WRITE) reach only the handlers that
  // follow their handles.
  EXPECT_EQ(seen, (std::vector<int>{0x2E, 0x2F, 0x32, 0xFE, 8, 9, 0xB, 7, 0xFE}));

  OptionInfo.smb1_com_transaction2_off = 1;
  QVX_ApplyCommandTableOptions(OptionInfo);
  g_calls.clear();
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0x32)));
  Run();
  EXPECT_TRUE(g_calls.empty());
}

// An SMB1 transaction request: TRANSACTION2 (15 words, the subcommand in the setup word) or
// NT_TRANSACT (19 words, the subcommand in Function).
std::vector<unsigned char> TransPayload(unsigned char command, uint16_t sub) {
  const bool nt = command == 0xA0;
  std::vector<unsigned char> p = Smb1Payload(command, nt ? 1 + 38 + 2 + 8 : 1 + 30 + 2 + 8);
  unsigned char* w = p.data() + 4 + 32;
  w[0] = nt ? 19 : 15;
  std::fill(w + 1, w + 1 + (nt ? 38 : 30) + 2, 0);
  const size_t at = nt ? 36 : 28;
  w[1 + at] = static_cast<unsigned char>(sub);
  w[2 + at] = static_cast<unsigned char>(sub >> 8);
  return p;
}

TEST_F(CaptureLoopTest, DispatchOrderByVersionDirectionAndCommand) {
  const std::vector<std::pair<std::vector<unsigned char>, std::vector<std::string>>> cases = {
      {MakeFrame(kClient, kServer, Smb1Payload(0x75)), {"QVX_SmbTreeConnectAndx"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0xA2)), {"QVX_SmbNtCreateAndx"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x07)), {"QVX_SmbComRename"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x01)), {"QVX_ComDeleteDirectory"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x71)), {"QVX_SmbTreeDisConnectReq"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x73)), {"QVX_SmbSessionSetupAndx"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x2B)), {"QVX_SmbOtherCmd"}},
      {MakeFrame(kServer, kClient, Smb1Payload(0x75), 445, 0xC000),
       {"QVX_SmbTreeConnectAndxRecv", "QVX_SmbSessionSetupAndxRecv"}},
      {MakeFrame(kServer, kClient, Smb1Payload(0x73), 445, 0xC000), {}},
      {MakeFrame(kServer, kClient, Smb1Payload(0xA2), 445, 0xC000), {}},
      {MakeFrame(kClient, kServer, Smb2Payload(5)), {"QVX_Smb2FileStandardInfo"}},
      {MakeFrame(kClient, kServer, Smb2Payload(3)), {"QVX_Smb2TreeConnectAndx"}},
      {MakeFrame(kClient, kServer, Smb2Payload(4)), {"QVX_Smb2TreeDisConnectReq"}},
      {MakeFrame(kClient, kServer, Smb2Payload(0x10)), {"QVX_Smb2OtherCmd"}},
      // A log-on's security blob is no path: it never reaches the catch-all.
      {MakeFrame(kClient, kServer, Smb2Payload(1)), {}},
      {MakeFrame(kClient, kServer, Smb2Payload(0)), {}},
      {MakeFrame(kServer, kClient, Smb2Payload(3), 445, 0xC000), {"QVX_Smb2TreeConnectAndxRecv"}},
      {MakeFrame(kServer, kClient, Smb2Payload(5), 445, 0xC000), {}},
      // The legacy opens, set-information, NT_RENAME, COPY, MOVE and WRITE_AND_CLOSE.
      {MakeFrame(kClient, kServer, Smb1Payload(0x02)), {"QVX_SmbOpen"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x03)), {"QVX_SmbOpen"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x0E)), {"QVX_SmbOpen"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x0F)), {"QVX_SmbOpen"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x2D)), {"QVX_SmbOpen"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x09)), {"QVX_SmbSetInfo"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x22)), {"QVX_SmbSetInfo"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0xA5)), {"QVX_SmbNtRename"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x29)), {"QVX_SmbNtRename"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x2A)), {"QVX_SmbNtRename"}},
      {MakeFrame(kClient, kServer, Smb1Payload(0x2C)), {"QVX_SmbWriteAndClose"}},
      // Transactions by their subcommand: TRANSACTION2 OPEN2, SET_PATH_INFORMATION,
      // SET_FILE_INFORMATION, CREATE_DIRECTORY, the rest (a search) to the catch-all; NT_TRANSACT
      // CREATE and SET_SECURITY_DESC, the rest (a change notification) to none.
      {MakeFrame(kClient, kServer, TransPayload(0x32, 0)), {"QVX_SmbOpen"}},
      {MakeFrame(kClient, kServer, TransPayload(0x32, 6)), {"QVX_SmbSetInfo"}},
      {MakeFrame(kClient, kServer, TransPayload(0x32, 8)), {"QVX_SmbSetInfo"}},
      {MakeFrame(kClient, kServer, TransPayload(0x32, 0x0D)), {"QVX_SmbCreateDirectory"}},
      {MakeFrame(kClient, kServer, TransPayload(0x32, 1)), {"QVX_SmbOtherCmd"}},
      {MakeFrame(kClient, kServer, TransPayload(0xA0, 1)), {"QVX_SmbNtTransact"}},
      {MakeFrame(kClient, kServer, TransPayload(0xA0, 3)), {"QVX_SmbNtTransact"}},
      {MakeFrame(kClient, kServer, TransPayload(0xA0, 4)), {}},
  };
  for (auto& c : cases) {
    g_calls.clear();
    Serve(c.first);
    Run();
    EXPECT_EQ(Handlers(), c.second) << "command " << int(c.first[14 + 44 + 4]);
  }
  // Capacities: trees for the tree and create handlers, sessions for the session answer.
  g_calls.clear();
  Serve(MakeFrame(kServer, kClient, Smb1Payload(0x75), 445, 0xC000));
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].max, 77);
  EXPECT_EQ(g_calls[1].max, 55);
  EXPECT_EQ(g_calls[2].max, 77);
}

TEST_F(CaptureLoopTest, ALogOnReachesNoCatchAllWhateverTheSettings) {
  // The session set-up handler is off: the log-on still goes to no other handler.
  OptionInfo.SessionSetupFlg = 0;
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0x73)));
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0x72)));
  Run();
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(CaptureLoopTest, LiveLinesCarryTheTimeOfTheirRequest) {
  // A request handled a while after it crossed the wire (here: its answer came 0.9 s later)
  // is named by its own capture time, whatever the clock says when it is handled.
  CaptureClockPlatform clock(&platform());
  Platform* before = SetPlatform(&clock);
  fake.SetNow(2026, 12, 9, 10, 20, 30);
  const int64_t sent = (static_cast<int64_t>(fake.Now().t) - 20) * 1000000;
  Fake().frames.push_back({MakeFrame(kClient, kServer, Smb2Payload(5, 8, 7)), 0, 0, sent});
  auto answer = MakeFrame(kServer, kClient, Smb2Payload(5, 8, 7), 445, 0xC000);
  answer[14 + 40 + 4 + 16] |= 0x01;
  Fake().frames.push_back({answer, 0, 0, sent + 900000});
  for (auto& f : Fake().frames) f.reported = static_cast<unsigned long>(f.bytes.size());
  Run();
  SetPlatform(before);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_times.at(0), sent / 1000000);
  // Off the capture thread the clock is the platform's own.
  EXPECT_EQ(clock.Now().t, fake.Now().t);
}

TEST_F(CaptureLoopTest, SettingsThatTakeHandlersOut) {
  OptionInfo.SessionSetupFlg = 0;
  OptionInfo.SMBOtherPackets = 0;
  OptionInfo.SMB2OtherPackets = 1;  // not consulted
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0x73)));
  Serve(MakeFrame(kServer, kClient, Smb1Payload(0x75), 445, 0xC000));
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0x2B)));
  Serve(MakeFrame(kClient, kServer, Smb2Payload(0x10)));
  Run();
  EXPECT_EQ(Handlers(), std::vector<std::string>{"QVX_SmbTreeConnectAndxRecv"});
}

TEST_F(CaptureLoopTest, FailingHandlerEndsTheFrameAndSkipsTheCleanUp) {
  g_fail = "QVX_SmbTreeConnectAndxRecv";
  OptionInfo.ErrorLevel = 2;
  Serve(MakeFrame(kServer, kClient, Smb1Payload(0x75), 445, 0xC000));
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0xA2)));
  Run();
  // The session answer after the failed tree answer is not called.
  EXPECT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_SmbTreeConnectAndxRecv", "QVX_SmbNtCreateAndx"}));
  EXPECT_EQ(Count("QVX_E21-009 QVX_LogThread["), 1);
  EXPECT_EQ(Count("] : QVX_SmbTreeConnectAndxRecv Error"), 1);

  // At level 6 the error line is not written, and the clean-up runs only for the good frame.
  g_fail = "QVX_SmbNtCreateAndx";
  OptionInfo.ErrorLevel = 6;
  Serve(MakeFrame(kClient, kServer, Smb1Payload(0xA2)));
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  EXPECT_EQ(Count("QVX_SmbNtCreateAndx Error"), 0);
  EXPECT_EQ(Count("] : QVX_SmbInfoTableDelete"), 1);
  EXPECT_EQ(Count("Dispatch QVX_SmbNtCreateAndx"), 1);
  EXPECT_EQ(Count("Dispatch QVX_Smb2FileStandardInfo"), 1);
  EXPECT_EQ(Count("QVX_D21-015 QVX_LogThread["), 1);  // the NT create header trace
  EXPECT_EQ(Count("Tid 7 : Pid 0 : Uid 100 : Mid 0"), 1);
}

TEST_F(CaptureLoopTest, ReceiveLengthsAndFailures) {
  auto frame = MakeFrame(kClient, kServer, Smb2Payload(5));
  Fake().frames.push_back({frame, 14, 0});     // only an Ethernet header: skipped with a pause
  Fake().frames.push_back({frame, 11, 0});     // shorter than a header: size line with n + 2
  Fake().frames.push_back({frame, 70000, 0});  // longer than the buffer: refused
  Fake().frames.push_back({frame, 0, -1});     // receive failure
  Serve(frame);
  OptionInfo.ServiceTaskWait = 0;
  Run();
  EXPECT_EQ(Count("パケット受信サイズがオーバーしました。Len=13"), 1);
  EXPECT_EQ(Count("パケット受信サイズがオーバーしました。Len=70002"), 1);
  EXPECT_EQ(Count("パケット受信に失敗しました。"), 1);
  EXPECT_EQ(fake.slept_ms(), 4 * 100);
  ASSERT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2FileStandardInfo"});
  // The datagram is exactly what was captured after the Ethernet header.
  EXPECT_EQ(g_calls[0].Len, frame.size() - 14);
}

TEST_F(CaptureLoopTest, WorkingBufferIsCleanPastEachFrame) {
  auto big = MakeFrame(kClient, kServer, Smb2Payload(0x10, 1200));
  auto small = MakeFrame(kClient, kServer, Smb2Payload(0x10, 4));
  Serve(big);
  Serve(small);
  Serve(MakeFrame(kClient, kServer, Smb2Payload(0x10, 1200)));
  Run();
  ASSERT_EQ(g_calls.size(), 3u);
  for (auto& c : g_calls) EXPECT_TRUE(c.tail_zero) << c.Len;
  EXPECT_EQ(g_calls[1].Len, small.size() - 14);
}

TEST_F(CaptureLoopTest, MacTextsAndNamingFlag) {
  OptionInfo.SMBcmdListFlg = 1;
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].server_mac, "02:00:00:00:00:01");
  EXPECT_EQ(g_calls[0].client_mac, "02:00:00:00:00:02");
  EXPECT_EQ(data.SMBCmdListFlg, 1);
  OptionInfo.MACadressFlg = 0;
  OptionInfo.SMBcmdListFlg = 0;
  Serve(MakeFrame(kClient, kServer, Smb2Payload(5)));
  Run();
  EXPECT_EQ(g_calls[1].server_mac, "--");
  EXPECT_EQ(g_calls[1].client_mac, "--");
  EXPECT_EQ(data.SMBCmdListFlg, 0);
}

TEST_F(CaptureLoopTest, AddressAndMacTextsOfManyClients) {
  // More clients than the loop keeps formatted texts for, requests and answers interleaved.
  for (int i = 0; i < 20; ++i) {
    char client[32];
    std::snprintf(client, sizeof client, "10.213.0.%d", 10 + i);
    auto req = MakeFrame(client, kServer, Smb2Payload(5));
    req[11] = static_cast<unsigned char>(i);  // client MAC 02:00:00:00:00:<i>
    Serve(req);
    auto ans = MakeFrame(kServer, client, Smb2Payload(3), 445, 0xC000);
    std::swap_ranges(ans.begin(), ans.begin() + 6, ans.begin() + 6);
    ans[5] = static_cast<unsigned char>(i);  // to the client's MAC
    Serve(ans);
  }
  Run();
  ASSERT_EQ(g_calls.size(), 40u);
  for (int i = 0; i < 20; ++i) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:00:00:00:00:%02x", i);
    EXPECT_EQ(g_calls[2 * i].handler, "QVX_Smb2FileStandardInfo");
    EXPECT_EQ(g_calls[2 * i].client_mac, mac);
    EXPECT_EQ(g_calls[2 * i].server_mac, "02:00:00:00:00:01");
    EXPECT_EQ(g_calls[2 * i + 1].handler, "QVX_Smb2TreeConnectAndxRecv");
    // On an answer the names swap: "client" carries the server's MAC.
    EXPECT_EQ(g_calls[2 * i + 1].server_mac, mac);
    EXPECT_EQ(g_calls[2 * i + 1].client_mac, "02:00:00:00:00:01");
  }
}

TEST_F(CaptureLoopTest, RandomFramesStayInsideTheirBytes) {
  // Frames of random length and content with signatures at random places: every handler call
  // gets exactly the captured datagram, a cursor inside it (or just past its header) and a clean
  // buffer beyond it. Run under the address sanitizer this also shows no read outside a frame.
  OptionInfo.VipFlg = 1;
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  std::vector<size_t> sizes;
  for (int i = 0; i < 3000; ++i) {
    size_t n = 14 + next() % 400;
    std::vector<unsigned char> f(n);
    for (auto& b : f) b = static_cast<unsigned char>(next());
    // Mostly IPv4 TCP first fragments, with header lengths of any value the fields can hold.
    if ((next() & 7) != 0) {
      f[12] = 0x08;
      f[13] = 0x00;
    }
    if (n > 14) f[14] = static_cast<unsigned char>(0x40 | (next() & 0x0F));
    if (n > 14 + 9 && (next() & 7) != 0) f[14 + 9] = 6;
    if (n > 14 + 7 && (next() & 7) != 0) f[14 + 6] = f[14 + 7] = 0;
    // Mostly a total length that is the captured one.
    if (n > 14 + 3 && (next() & 7) != 0) {
      f[14 + 2] = static_cast<unsigned char>((n - 14) >> 8);
      f[14 + 3] = static_cast<unsigned char>(n - 14);
    }
    const size_t ip = n > 14 ? (f[14] & 0x0Fu) * 4u : 0;
    // Mostly toward the SMB port, so that the stream decoder follows them.
    if (14 + ip + 4 <= n && (next() & 7) != 0) {
      f[14 + ip + 2] = 0x01;
      f[14 + ip + 3] = 0xBD;
    }
    const size_t tcp = 14 + ip + 12 < n ? (f[14 + ip + 12] >> 4) * 4u : 0;
    // The signature where the headers say the message starts, or anywhere.
    size_t at = 14 + ip + tcp + 4;
    if ((next() & 3) == 0 && n > 18) at = 14 + next() % (n - 14 - 3);
    if (at + 4 <= n) {
      // Mostly behind a session header that fits the frame, else any length.
      if (at >= 18 && (next() & 3) != 0) {
        const size_t len = (next() & 1) ? n - at : next() % 2000;
        f[at - 4] = 0;
        f[at - 3] = 0;
        f[at - 2] = static_cast<unsigned char>(len >> 8);
        f[at - 1] = static_cast<unsigned char>(len);
      }
      f[at] = (next() & 1) ? 0xFF : 0xFE;
      f[at + 1] = 'S';
      f[at + 2] = 'M';
      f[at + 3] = 'B';
      if (at + 5 < n) f[at + 4] = (next() & 1) ? 64 : static_cast<unsigned char>(next());
      if (at + 5 < n) f[at + 5] = 0;
    }
    Serve(f);
    sizes.push_back(n);
  }
  OptionInfo.ServiceTaskWait = 0;
  Run();
  ASSERT_FALSE(g_calls.empty());
  for (auto& c : g_calls) {
    EXPECT_TRUE(c.tail_zero);
    EXPECT_GE(c.Len, 44u);
    EXPECT_LE(static_cast<unsigned long>(c.cursor), c.Len + 1);
    // No message handed on is longer than the longest frame (which none of them can span whole).
    EXPECT_LE(c.Len, *std::max_element(sizes.begin(), sizes.end()) + 44);
  }
}

TEST_F(CaptureLoopTest, ThreadStartAndExit) {
  fake.SetNow(2026, 12, 9, 10, 0, 0);
  OptionInfo.RefleshTime = 10;
  Run();
  EXPECT_EQ(data.NextSessionChkTime, fake.Now().t + 10);
  EXPECT_EQ(data.LoggingFlg.load(), 0);
  auto k = fake.Lines(szLogfileName);
  std::vector<std::string> tail;
  for (auto& l : k)
    if (l.find("QVX_LogThread[") != std::string::npos) tail.push_back(l.substr(0, 11));
  EXPECT_EQ(tail, (std::vector<std::string>{"QVX_D21-011", "QVX_E21-011", "QVX_E21-011",
                                            "QVX_E21-051", "QVX_E21-051", "QVX_E21-011"}));
  EXPECT_EQ(Count("] : Thread End"), 1);
}

// ---- requests held until the server answered them ----

constexpr uint16_t kClientPort = 0xC000;
constexpr uint16_t kOtherPort = 0xC001;

// An SMB2 request toward the server and the server's answer to it (flag SERVER_TO_REDIR, ports
// the other way round).
std::vector<unsigned char> Request2(uint16_t command, uint64_t id, const char* client = kClient,
                                    uint16_t port = kClientPort) {
  return MakeFrame(client, kServer, Smb2Payload(command, 8, id), port, 445);
}
std::vector<unsigned char> Answer2(uint16_t command, uint64_t id, uint32_t status = 0,
                                   uint16_t port = kClientPort) {
  auto f = MakeFrame(kServer, kClient, Smb2Payload(command, 8, id, status), 445, port);
  f[14 + 40 + 4 + 16] |= 0x01;
  return f;
}

class HeldRequestLoopTest : public CaptureLoopTest {
 protected:
  void At(int64_t us, const std::vector<unsigned char>& f) {
    Fake().frames.push_back({f, static_cast<unsigned long>(f.size()), 0, us});
  }
  const Call* Find(const std::string& handler) {
    for (auto& c : g_calls)
      if (c.handler == handler) return &c;
    return nullptr;
  }
};

TEST_F(HeldRequestLoopTest, TheAnswerReachesTheHandlerOfItsRequest) {
  At(1000, Request2(5, 7));
  At(1100, Request2(6, 8));
  At(1200, Answer2(5, 7, 0x00000103));  // STATUS_PENDING: still working
  At(1300, Answer2(6, 8));
  At(1400, Answer2(5, 7, 0xC0000022));
  At(1500, Request2(9, 9));  // never answered
  Fake().idle_step_us = 100000;
  Fake().stop_at_us = 3 * kHoldUs;
  Run();
  ASSERT_EQ(Handlers(), (std::vector<std::string>{"QVX_Smb2FileStandardInfo", "QVX_Smb2Close",
                                                  "QVX_Smb2Write"}));
  EXPECT_TRUE(g_calls[0].answered);
  EXPECT_EQ(g_calls[0].status, 0xC0000022u);
  EXPECT_TRUE(g_calls[1].answered);
  EXPECT_EQ(g_calls[1].status, 0u);
  // Handled after the answered ones: nothing is left behind for a later handler.
  EXPECT_FALSE(g_calls[2].answered);
}

TEST_F(HeldRequestLoopTest, AnEncryptedSessionIsToldOnce) {
  // Transform headers (0xFD 'SMB'): signature, nonce, sizes, then the SessionId at 44.
  auto transform = [](uint64_t session) {
    std::vector<unsigned char> p = {0, 0, 0, 52 + 16, 0xFD, 'S', 'M', 'B'};
    p.resize(4 + 52 + 16, 0x5E);
    for (int i = 0; i < 8; ++i) p[4 + 44 + i] = static_cast<unsigned char>(session >> (8 * i));
    return p;
  };
  At(1000, MakeFrame(kClient, kServer, transform(0x11)));
  At(2000, MakeFrame(kClient, kServer, transform(0x11)));
  At(3000, MakeFrame(kServer, kClient, transform(0x11), 445, kClientPort));
  At(4000, MakeFrame(kClient, kServer, transform(0x22)));
  Run();
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(Count("cannot be audited"), 2);
  EXPECT_EQ(Count("encrypted session 0x0000000000000011 of " + std::string(kClient)), 1);
}

TEST_F(HeldRequestLoopTest, CreateIsHandledWhenItsAnswerPassesAndKeepsItsPlace) {
  At(1000, Request2(5, 7));
  At(2000, Request2(3, 8, "10.213.0.9"));  // another client's tree connect, behind it
  At(3000, Answer2(5, 7));
  At(4000, Request2(3, 9, "10.213.0.9"));
  Run();
  ASSERT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_Smb2FileStandardInfo", "QVX_Smb2TreeConnectAndx",
                                      "QVX_Smb2TreeConnectAndx"}));
  // Handled once the answer was read, not before and not later, at its own capture time.
  EXPECT_EQ(g_calls[0].read_us, 3000);
  EXPECT_EQ(g_calls[0].handled_us, 1000);
  EXPECT_EQ(g_calls[0].command, 5);
  EXPECT_EQ(g_calls[0].version, 2);
  EXPECT_TRUE(g_calls[0].tail_zero);
  EXPECT_EQ(g_calls[0].Len, 44u + 64u + 8u);
  EXPECT_EQ(g_calls[1].handled_us, 2000);
  EXPECT_EQ(g_calls[1].read_us, 3000);
  EXPECT_EQ(g_calls[2].handled_us, 4000);
}

TEST_F(HeldRequestLoopTest, TenMillisecondsOfCaptureTimeDecideWithoutAnAnswer) {
  At(1000, Request2(5, 7));
  At(10999, Request2(3, 8, "10.213.0.9"));
  At(11000, Request2(4, 9, "10.213.0.9"));
  Run();
  ASSERT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_Smb2FileStandardInfo", "QVX_Smb2TreeConnectAndx",
                                      "QVX_Smb2TreeDisConnectReq"}));
  EXPECT_EQ(g_calls[0].read_us, 11000);
  EXPECT_EQ(g_calls[0].handled_us, 1000);
}

TEST_F(HeldRequestLoopTest, AnIdleCaptureWaitsOnlyUntilTheHeldRequestIsDue) {
  // No answer and no further frame: the clock moves on while the loop waits on the adapter.
  Fake().idle_step_us = 100000;
  Fake().stop_at_us = 2 * kHoldUs + 500000;
  OptionInfo.ServiceTaskWait = 5000;
  At(1000, Request2(5, 7));
  Run();
  ASSERT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2FileStandardInfo"});
  ASSERT_FALSE(Fake().waits.empty());
  // ServiceTaskWait is 5000 ms; a held request shortens the wait to its remaining time.
  EXPECT_LE(Fake().waits.front(), kHoldUs / 1000);
  EXPECT_GE(Fake().waits.front(), 1);
  // Decided by its time, well before capture stopped.
  EXPECT_GE(Fake().clock_us, 2 * kHoldUs);
  EXPECT_EQ(g_calls[0].handled_us, 1000);
  EXPECT_EQ(Fake().waits.back(), OptionInfo.ServiceTaskWait);
}

TEST_F(HeldRequestLoopTest, StoppingDecidesEveryHeldRequestInOrder) {
  At(1000, Request2(5, 7));
  At(1500, Request2(5, 8));
  At(2000, Request2(3, 9, "10.213.0.9"));
  Run();  // the frames run out and capture stops at once
  EXPECT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_Smb2FileStandardInfo", "QVX_Smb2FileStandardInfo",
                                      "QVX_Smb2TreeConnectAndx"}));
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].handled_us, 1000);
  EXPECT_EQ(g_calls[1].handled_us, 1500);
  // Nothing is left over for the next run.
  g_calls.clear();
  At(5000, Request2(3, 10, "10.213.0.9"));
  Run();
  EXPECT_EQ(Handlers(), std::vector<std::string>{"QVX_Smb2TreeConnectAndx"});
}

TEST_F(HeldRequestLoopTest, OnlyTheFinalAnswerOnTheSameConnectionCounts) {
  At(1000, Request2(5, 7));
  At(2000, Answer2(5, 7, 0x00000103));     // STATUS_PENDING: still working
  At(3000, Answer2(5, 7, 0, kOtherPort));  // same MessageId, another connection
  At(4000, Answer2(5, 6));                 // same connection, another message
  At(5000, Request2(3, 8, "10.213.0.9"));
  At(6000, Answer2(5, 7));
  Run();
  ASSERT_EQ(Handlers(),
            (std::vector<std::string>{"QVX_Smb2FileStandardInfo", "QVX_Smb2TreeConnectAndx"}));
  EXPECT_EQ(g_calls[0].read_us, 6000);
}

TEST_F(HeldRequestLoopTest, Smb1NtCreateWaitsForTheAnswerWithItsMidAndPid) {
  auto request = MakeFrame(kClient, kServer, Smb1Payload(0xA2, 8, 33, 500));
  auto wrong_pid = MakeFrame(kServer, kClient, Smb1Payload(0xA2, 8, 33, 501), 445, kClientPort);
  auto answer = MakeFrame(kServer, kClient, Smb1Payload(0xA2, 8, 33, 500), 445, kClientPort);
  wrong_pid[14 + 40 + 4 + 9] |= 0x80;  // SMB_FLAGS_REPLY
  answer[14 + 40 + 4 + 9] |= 0x80;
  At(1000, request);
  At(2000, wrong_pid);
  At(3000, MakeFrame(kClient, kServer, Smb1Payload(0x2B)));  // ECHO, behind it
  At(4000, answer);
  Run();
  ASSERT_EQ(Handlers(), (std::vector<std::string>{"QVX_SmbNtCreateAndx", "QVX_SmbOtherCmd"}));
  EXPECT_EQ(g_calls[0].read_us, 4000);
  EXPECT_EQ(g_calls[1].handled_us, 3000);
}

TEST_F(HeldRequestLoopTest, AHeldRequestThatFailsIsReportedLikeAnyOther) {
  OptionInfo.ErrorLevel = 2;
  g_fail = "QVX_Smb2FileStandardInfo";
  At(1000, Request2(5, 7));
  At(2000, Answer2(5, 7));
  Run();
  EXPECT_EQ(Count("QVX_E21-007 QVX_LogThread"), 1);
}

TEST_F(HeldRequestLoopTest, DropsAreReadEachSecondAndReported) {
  Fake().dropped = 0;
  At(0, Request2(3, 1));
  At(500000, Request2(3, 2));
  Run();
  EXPECT_EQ(Count("frames dropped by the capture"), 0);
  const uint64_t before = QVX_CaptureDroppedTotal();
  Fake().dropped = 7;
  Fake().received = 100;
  // The counters are read when a second of capture clock has passed since the last reading (the
  // start of the run at 500 ms), and not again within the next second.
  At(1200000, Request2(3, 3));
  At(1600000, Request2(3, 4));
  At(1700000, Request2(3, 5));
  Run();
  EXPECT_EQ(Count("QVX_E21-070 QVX_LogThread"), 1);
  EXPECT_EQ(Count("7 frames dropped by the capture (7 of 100 since capture started)"), 1);
  EXPECT_EQ(QVX_CaptureDroppedTotal(), before + 7);
  // A connector without counters (a capture file) reports nothing.
  Fake().stats_rc = -1;
  Fake().dropped = 50;
  At(5000000, Request2(3, 6));
  At(7000000, Request2(3, 7));
  Run();
  EXPECT_EQ(Count("QVX_E21-070 QVX_LogThread"), 1);
  // The program's start-up begins the count again.
  ASSERT_TRUE(QVX_StartUp(0, nullptr));
  EXPECT_EQ(QVX_CaptureDroppedTotal(), 0u);
}

// What the handlers of a run saw of its context.
struct ContextSeen {
  const CaptureContext* ctx;
  size_t open_files;
  int tree_connect_cnt;
};
std::vector<ContextSeen> g_seen;

int SeeContext(SMB2_HEADER_ST*, unsigned long, unsigned char*, long, DATA* data) {
  CaptureContext* ctx = data->ctx;
  if (ctx == nullptr) {
    g_seen.push_back({nullptr, 0, 0});
    return 0;
  }
  g_seen.push_back({ctx, ctx->open_files.Size(), ctx->options.TreeConnectCnt});
  // A handle the run leaves open, and an option changed while it runs.
  OpenFile f;
  f.key.id[0] = g_seen.size();
  OpenFile evicted;
  ctx->open_files.Add(f, &evicted);
  OptionInfo.TreeConnectCnt = 5;
  return 0;
}

TEST_F(CaptureLoopTest, EachRunHasAContextOfItsOwnWhileItRuns) {
  g_seen.clear();
  QVX_CaptureDispatch.Smb2OtherCmd = SeeContext;
  for (int run = 0; run < 2; ++run) {
    OptionInfo.TreeConnectCnt = 77;
    Serve(MakeFrame(kClient, kServer, Smb2Payload(0x10, 8, 1)));
    Serve(MakeFrame(kClient, kServer, Smb2Payload(0x10, 8, 2)));
    Run();
    EXPECT_EQ(data.ctx, nullptr) << "run " << run;
  }
  ASSERT_EQ(g_seen.size(), 4u);
  for (const ContextSeen& s : g_seen) {
    ASSERT_NE(s.ctx, nullptr);
    // The options as they stood when the run started, whatever changed meanwhile.
    EXPECT_EQ(s.tree_connect_cnt, 77);
  }
  // The run's handles: the first frame of each run finds none, the second the one the first left.
  EXPECT_EQ(g_seen[0].open_files, 0u);
  EXPECT_EQ(g_seen[1].open_files, 1u);
  EXPECT_EQ(g_seen[2].open_files, 0u);
  EXPECT_EQ(g_seen[3].open_files, 1u);
  EXPECT_EQ(g_seen[0].ctx, g_seen[1].ctx);
}

// The ports a run's context holds: those the shell set up before capture started.
struct PortsSeen {
  bool called = false;
  Platform* platform = nullptr;
  ConnectionTracker* tracker = nullptr;
  EventSinks* sinks = nullptr;
};
PortsSeen g_ports;

int SeePorts(SMB2_HEADER_ST*, unsigned long, unsigned char*, long, DATA* data) {
  g_ports = {true, data->ctx->platform, data->ctx->tracker, data->ctx->sinks};
  return 0;
}

TEST_F(CaptureLoopTest, ARunTakesThePortsTheShellSetUp) {
  g_ports = PortsSeen();
  QVX_CaptureDispatch.Smb2OtherCmd = SeePorts;
  Serve(MakeFrame(kClient, kServer, Smb2Payload(0x10, 8, 1)));
  Run();
  ASSERT_TRUE(g_ports.called);
  EXPECT_EQ(g_ports.platform, &platform());
  EXPECT_EQ(g_ports.tracker, &CaptureConnections());
  EXPECT_EQ(g_ports.sinks, &QVX_Sinks());
}

}  // namespace
}  // namespace qvx
