#include "capture/capture_control.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "app/controller.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/steady_clock.h"
#include "base/text.h"
#include "capture/capture_connector.h"
#include "capture/capture_loop.h"
#include "platform/pcap_port.h"
#include "platform/platform.h"

namespace qvx {

namespace {

// Set by the capture thread as its last act.
std::atomic<bool> g_capture_thread_ended{true};
// For the window's status bar; written and read on the window's thread only.
std::string g_adapter;
std::string g_start_problem;

// Records why this start failed and tells the user (skipped under "SC").
int StartFailed(DATA& data, const std::string& problem) {
  g_start_problem = problem;
  ScMessageBox(data.hWnd, ("Capture cannot start: " + problem).c_str(), "Error", kMbOk);
  return 1;
}

// An IPv4 address as an in_addr holds it, part 1 in the lowest byte; 0 for an IPv6 one (the
// kernel log names adapters by this value, the messages by the address text).
unsigned long InAddrValue(const IpAddress& a) {
  if (a.v6) return 0;
  return static_cast<unsigned long>(a.bytes[0]) | static_cast<unsigned long>(a.bytes[1]) << 8 |
         static_cast<unsigned long>(a.bytes[2]) << 16 |
         static_cast<unsigned long>(a.bytes[3]) << 24;
}

std::string AddrText(const IpAddress& a) {
  char text[kIpTextSize];
  FormatIpAddress(text, sizeof text, a);
  return text;
}

// Waits until the capture thread has left its loop; only then may the connector be reopened or
// the tables be touched by anyone else. The thread writes rows into the window synchronously, so
// the window's view keeps serving it meanwhile; a plain join would wait on each other for good.
void JoinCaptureThread(DATA& data) {
  if (!data.hThread.joinable() || data.hThread.get_id() == std::this_thread::get_id()) return;
  if (View* v = QVX_View()) v->WaitForCaptureThread(g_capture_thread_ended);
  // What the window answered meanwhile may have joined it already (the program was closed).
  if (data.hThread.joinable()) data.hThread.join();
}

// How long a stop waits for the capture thread to read what the adapter still held.
constexpr int kDrainMs = 1000;

// Closes the capture once the thread, told to stop, has read and handled the frames the adapter
// already held (it stops reading at the first frame captured after the stop), a second at most:
// a close ends the capture's buffer with them. What cannot be read so (a file, which is read to
// its end before the stop anyway; a receive that may block) is closed at once, and a drain that
// runs out of time is cut short by the close (the capture thread says so).
int CloseCapture(DATA& data) {
  const CaptureConnector& con = CaptureConnectorInUse();
  if (con.Drainable && con.EndWaits && con.Drainable() == 1 && data.hThread.joinable() &&
      data.hThread.get_id() != std::this_thread::get_id()) {
    con.EndWaits();
    const int64_t until = SteadyNowMs() + kDrainMs;
    while (!g_capture_thread_ended) {
      const int64_t left = until - SteadyNowMs();
      if (left <= 0) break;
      if (View* v = QVX_View())
        v->ServeCaptureThread(g_capture_thread_ended, static_cast<int>(left));
      if (!g_capture_thread_ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return con.Close();
}

}  // namespace

int QVX_Stop_Logging(DATA& data) {
  data.LoggingFlg = 0;
  DiagLogLine(DiagLog::kKernel, 1, "QVX_I03-020 QVX_StartandStop_Logging End Start[%d][%ld]\r\n",
              __LINE__, platform().LastError());
  if (CloseCapture(data) == -1)
    QVX_KLOG("QVX_E03-001 QVX_StartandStop_Logging[%d][%ld] : pcap_fpクローズ失敗。\r\n");
  else
    QVX_KLOG("QVX_I03-001 QVX_StartandStop_Logging[%d][%ld] : pcap_fpクローズ。\r\n");
  JoinCaptureThread(data);
  return 0;
}

int QVX_Start_Logging(DATA& data) {
  const CaptureConnector& con = CaptureConnectorInUse();
  DiagLogLine(DiagLog::kKernel, 1, "QVX_I03-011 QVX_StartandStop_Logging(WPCAP)[%d][%ld]\r\n",
              __LINE__, platform().LastError());
  std::memset(data.ServerIpAddress, 0, sizeof data.ServerIpAddress);
  std::snprintf(data.ServerIpAddress, sizeof data.ServerIpAddress, "%s", OptionInfo.IpAddress);

  // A thread of an earlier run that ended on its own is collected before anything is reopened.
  JoinCaptureThread(data);
  g_start_problem.clear();

  IpAddress addrs[kQvxAdapterMax] = {};
  static char names[kQvxAdapterMax][kQvxAdapterNameSize];
  std::memset(names, 0, sizeof names);
  int count = 0;
  char errbuf[kQvxErrBufSize] = {};
  if (con.EnumAdapter(addrs, names, &count, errbuf) == -1) {
    QVX_KLOG(
        "QVX_E03-021 QVX_StartandStop_Logging QvxWPcapConEnumAdapter[%d][%ld] : "
        "WPCAPアダプタ一覧取得失敗。(%s)\r\n",
        errbuf);
    return StartFailed(data, std::string("the adapters cannot be listed: ") + errbuf);
  }
  if (count < 0) count = 0;
  if (count > kQvxAdapterMax) count = kQvxAdapterMax;

  const IpAddress want = QVX_IpTextToAddr(OptionInfo.IpAddress);
  const char* adapter = nullptr;
  for (int i = 0; i < count; ++i) {
    if (addrs[i] == want) {
      adapter = names[i];
      break;
    }
  }
  if (count == 0 && OptionInfo.PcapDevNamae[0] != '\0') {
    adapter = OptionInfo.PcapDevNamae;
    QVX_KLOG(
        "QVX_I03-012 QVX_StartandStop_Logging QvxWPcapConEnumAdapter[%d][%ld] : "
        "オプションアダプタ名 [%d][%s]\r\n",
        0, adapter);
  }
  if (adapter == nullptr) {
    QVX_KLOG(
        "QVX_E03-011 QVX_StartandStop_Logging QvxWPcapConEnumAdapter[%d][%ld] : "
        "アダプタ名検出エラー。(%ld)(%x) max=(%d)\r\n",
        static_cast<long>(InAddrValue(want)), static_cast<unsigned>(InAddrValue(want)), count);
    for (int i = 0; i < count; ++i)
      QVX_KLOG(
          "QVX_E03-012 QVX_StartandStop_Logging QvxWPcapConEnumAdapter[%d][%ld] : "
          "アダプタ名一覧 [%d](%ld)(%x)[%s]\r\n",
          i, static_cast<long>(InAddrValue(addrs[i])), static_cast<unsigned>(InAddrValue(addrs[i])),
          names[i]);
    std::string found;
    for (int i = 0; i < count; ++i)
      found += (i ? ", " : "") + std::string(names[i]) + " " + AddrText(addrs[i]);
    return StartFailed(data, std::string("no adapter carries the address ") + OptionInfo.IpAddress +
                                 " (IpAddress in Quorvix.ini); " +
                                 (count ? "adapters found: " + found
                                        : "no adapter with an "
                                          "IP address was found"));
  }

  if (con.Open(adapter, 20, errbuf) == -1) {
    QVX_KLOG(
        "QVX_E03-013 QVX_StartandStop_Logging QvxWPcapConOpen[%d][%ld] : "
        "WPCAPオープン失敗。(%s)[%s]\r\n",
        errbuf, adapter);
    return StartFailed(data,
                       std::string("the adapter ") + adapter + " cannot be opened: " + errbuf);
  }
  QVX_KLOG("QVX_I03-013 QVX_StartandStop_Logging[%d][%ld] : WPCAPオブジェクトオープン。[%s]\r\n",
           adapter);
  g_adapter = adapter;

  if (OptionInfo.PacketBuffer != 0) {
    if (con.BufferSet(OptionInfo.PacketBuffer, errbuf) == -1) {
      QVX_KLOG(
          "QVX_E03-013 QVX_StartandStop_Logging QvxWPcapBufferSet[%d][%ld] : "
          "WPCAPバッファセット失敗。[%d]\r\n",
          OptionInfo.PacketBuffer);
      return StartFailed(data, std::string("the capture buffer of ") + adapter +
                                   " cannot be set to " + std::to_string(OptionInfo.PacketBuffer) +
                                   " bytes: " + errbuf);
    }
    QVX_KLOG("QVX_I03-013 QVX_StartandStop_Logging[%d][%ld] : WPCAPバッファセット。[%d]\r\n",
             OptionInfo.PacketBuffer);
  } else {
    QVX_KLOG("QVX_I03-013 QVX_StartandStop_Logging[%d][%ld] : WPCAPバッファセット。[default]\r\n");
  }

  if (con.FilterSet(OptionInfo.FilterCode, 0xFFFFFF, errbuf) == -1) {
    QVX_KLOG(
        "QVX_E03-010 QVX_StartandStop_Logging[%d][%ld] : "
        "WPCAPパケットフィルタリング設定エラー。[%s]\r\n",
        OptionInfo.FilterCode);
    return StartFailed(data, std::string("the capture filter \"") + OptionInfo.FilterCode +
                                 "\" (FilterCode) is refused: " + errbuf);
  }
  QVX_KLOG(
      "QVX_I03-010 QVX_StartandStop_Logging[%d][%ld] : WPCAPパケットフィルタリング設定。[%s]\r\n",
      OptionInfo.FilterCode);
  // The frames a filter keeps out are never seen, so a filter that keeps every SMB frame of the
  // server out is told now: the empty log would look like a quiet server.
  if (!QVX_FilterPassesSmb(OptionInfo.FilterCode, OptionInfo.IpAddress)) {
    const std::string text = std::string("The capture filter (FilterCode=") +
                             OptionInfo.FilterCode + ") lets no SMB frame to or from " +
                             OptionInfo.IpAddress + " through: no access can be seen.";
    QVX_KLOG("QVX_W03-011 QVX_StartandStop_Logging[%d][%ld] : %s\r\n", text.c_str());
    ScMessageBox(data.hWnd, text.c_str(), "Warning", kMbOk);
  }

  data.LoggingFlg = 1;
  bool started = false;
  g_capture_thread_ended = false;
  try {
    data.hThread = std::thread([&data] {
      QVX_LogThread(&data);
      g_capture_thread_ended = true;
    });
    started = true;
  } catch (const std::system_error&) {
    started = false;
  }
  if (!started) {
    QVX_KLOG(
        "QVX_E03-002 QVX_StartandStop_Logging[%d][%ld] : "
        "ログスレッドの生成処理起動作成失敗。\r\n");
    data.LoggingFlg = 0;
    g_capture_thread_ended = true;
    return StartFailed(data, "the capture thread cannot be created");
  }
  QVX_KLOG("QVX_I03-002 QVX_StartandStop_Logging[%d][%ld] : ログスレッドの生成処理起動作成。\r\n");
  return 0;
}

const std::string& QVX_CaptureAdapter() { return g_adapter; }
const std::string& QVX_CaptureStartProblem() { return g_start_problem; }

namespace {

// A TCP SYN of an SMB connection between client and server on Ethernet, with tags VLAN tags;
// toward the server or back from it.
std::vector<unsigned char> SmbSyn(const IpAddress& server, int tags, bool toward) {
  IpAddress client = server;
  client.bytes[server.v6 ? 15 : 3] ^= 1;
  const IpAddress& src = toward ? client : server;
  const IpAddress& dst = toward ? server : client;
  std::vector<unsigned char> f(12, 0x02);
  for (int i = 0; i < tags; ++i) f.insert(f.end(), {0x81, 0x00, 0x00, 0x64});
  if (server.v6) {
    f.insert(f.end(), {0x86, 0xDD, 0x60, 0, 0, 0, 0, 20, 6, 64});
    f.insert(f.end(), src.bytes, src.bytes + 16);
    f.insert(f.end(), dst.bytes, dst.bytes + 16);
  } else {
    f.insert(f.end(), {0x08, 0x00, 0x45, 0, 0, 40, 0, 0, 0x40, 0, 64, 6, 0, 0});
    f.insert(f.end(), src.bytes, src.bytes + 4);
    f.insert(f.end(), dst.bytes, dst.bytes + 4);
  }
  const unsigned sport = toward ? 49152 : 445, dport = toward ? 445 : 49152;
  for (const unsigned port : {sport, dport}) {
    f.push_back(static_cast<unsigned char>(port >> 8));
    f.push_back(static_cast<unsigned char>(port));
  }
  f.insert(f.end(), {0, 0, 0, 1, 0, 0, 0, 0, 0x50, 0x02, 0xFF, 0xFF, 0, 0, 0, 0});
  return f;
}

}  // namespace

bool QVX_FilterPassesSmb(const char* filter, const char* server_text) {
  IpAddress server;
  if (!ParseIpAddress(server_text, &server) || server.IsUnspecified()) return true;
  FileFilter f;
  std::string error;
  if (!f.Set(filter, 0xFFFFFF, &error)) return true;  // refused where it is installed
  for (int tags = 0; tags <= 2; ++tags)
    for (const bool toward : {true, false}) {
      const std::vector<unsigned char> frame = SmbSyn(server, tags, toward);
      if (f.Passes(kPcapLinkEthernet, frame.data(), static_cast<uint32_t>(frame.size())))
        return true;
    }
  return false;
}

IpAddress QVX_IpTextToAddr(const char* text) {
  IpAddress a;
  if (!ParseIpAddress(text, &a)) return IpAddress();
  return a;
}

int QVX_StartandStop_Logging(DATA& data) {
  if (data.LoggingFlg == 1) return QVX_Stop_Logging(data);
  return QVX_Start_Logging(data);
}

int QVX_GetIPaddress(void* hWnd, std::vector<std::string>* addresses) {
  // Each failed step shows two boxes, one with the stop icon and one plain, around its line.
  switch (platform().LocalIPv4Addresses(addresses)) {
    case AddressListResult::kOk:
      return 0;
    case AddressListResult::kStartupFailed:
      ScMessageBox(hWnd, "Error:WSAStartup Error", "Error", kMbIconStop);
      QVX_KLOG("QVX_E13-001 QVX_GetIPaddress[%d][%ld] : エラー：WSAStartupが失敗しました\r\n");
      ScMessageBox(hWnd, "Connection Error:WSAStartup Error", "Error", kMbOk);
      return 1;
    case AddressListResult::kSocketFailed:
      ScMessageBox(hWnd, "Connection Error:socket Error", "Error", kMbIconStop);
      QVX_KLOG("QVX_E13-002 QVX_GetIPaddress[%d][%ld] : 接続エラー：socketが失敗しました\r\n");
      ScMessageBox(hWnd, "Connection Error:socket Error", "Error", kMbOk);
      return 1;
    case AddressListResult::kQueryFailed:
      break;
  }
  ScMessageBox(hWnd, "WSAIoctl Error", "Error", kMbIconStop);
  QVX_KLOG("QVX_E13-003 QVX_GetIPaddress[%d][%ld] : WSAIoctlに失敗しました\r\n");
  ScMessageBox(hWnd, "WSAIoctl Error", "Error", kMbOk);
  return 1;
}

int QVX_Init_Dlg(void* hWnd, DATA& data) {
  data.hWnd = hWnd;
  data.LoggingFlg = 0;
  std::vector<std::string> addresses;
  if (QVX_GetIPaddress(hWnd, &addresses) != 0) return 1;
  if (std::strcmp(OptionInfo.IpAddress, "0.0.0.0") == 0 && !addresses.empty())
    std::snprintf(OptionInfo.IpAddress, sizeof OptionInfo.IpAddress, "%s",
                  addresses.front().c_str());
  QVX_OnForeground();
  return 0;
}

void QVX_EndProgram(DATA& data) {
  if (data.LoggingFlg == 1) {
    data.LoggingFlg = 0;
    QVX_KLOG("QVX_I17-002 QVX_EndConnect[%d][%ld] : Packet Capture Stop!(Soc)\r\n");
    // The thread reads what the adapter held, the close ends its wait on the adapter, it then
    // leaves its loop, and the tables are freed only after that.
    CloseCapture(data);
    JoinCaptureThread(data);
  }
  JoinCaptureThread(data);
  if (View* v = QVX_View()) v->EndMainDialog();
}

}  // namespace qvx
