#include "capture/capture_loop.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "app/tables.h"
#include "audit/answer.h"
#include "audit/context.h"
#include "audit/departed.h"
#include "audit/events.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "audit/unseen_handles.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "capture/capture_connector.h"
#include "capture/capture_hooks.h"
#include "capture/held_requests.h"
#include "capture/unreadable.h"
#include "filters/ip_filter.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "smb1/answer.h"
#include "smb1/create.h"
#include "smb1/handles.h"
#include "smb1/nt_transact.h"
#include "smb1/open.h"
#include "smb1/other_command.h"
#include "smb1/rename.h"
#include "smb1/session_setup.h"
#include "smb1/set_info.h"
#include "smb1/tree_connect.h"
#include "smb2/answer.h"
#include "smb2/create.h"
#include "smb2/handles.h"
#include "smb2/other_command.h"
#include "smb2/tree_connect.h"
#include "tracking/connection_tracker.h"
#include "tracking/session_tree.h"
#include "wire/frame.h"
#include "wire/le.h"
#include "wire/smb2_chain.h"
#include "wire/smb_command_table.h"
#include "wire/stream.h"

namespace qvx {

long PacketSMB_Base = 0;

namespace {
std::atomic<int64_t> g_handled_us{0};
// The capture time of the frame the capture thread is handling; 0 on every other thread.
thread_local int64_t t_frame_us = 0;
std::atomic<uint64_t> g_dropped_total{0};
std::atomic<uint64_t> g_gaps_total{0};
std::atomic<uint64_t> g_unreadable_total{0};
std::atomic<uint64_t> g_smb_frames{0};
// Stops whose capture thread could not read every frame the adapter held.
std::atomic<uint64_t> g_stops_cut{0};
// The IPv4, TCP and session headers laid before each message handed to the handlers.
constexpr size_t kSyntheticHeaders = 44;
// Of each message its first 8 KB are kept; at most 16384 streams are followed at once (the least
// recently seen given up beyond that), so the stream buffers never take more than 128 MB.
constexpr wire::StreamLimits kStreamLimits{8192, 16384};
// Unreadable sessions remembered, so that each is told once.
constexpr size_t kUnreadableKept = 4096;
}  // namespace

int64_t QVX_CaptureHandledTimeUs() { return g_handled_us.load(std::memory_order_relaxed); }

void QVX_CaptureHandledTimeReset() { g_handled_us.store(0, std::memory_order_relaxed); }
int64_t QVX_CaptureThreadFrameUs() { return t_frame_us; }
uint64_t QVX_CaptureDroppedTotal() { return g_dropped_total.load(std::memory_order_relaxed); }
void QVX_CaptureDroppedReset() { g_dropped_total.store(0); }
uint64_t QVX_CaptureSmbFrames() { return g_smb_frames.load(std::memory_order_relaxed); }

namespace {

const CaptureDispatch kRealHandlers = {
    QVX_SmbTreeConnectAndx,
    QVX_SmbNtCreateAndx,
    QVX_SmbComRename,
    QVX_ComDeleteDirectory,
    QVX_SmbTreeDisConnectReq,
    QVX_SmbSessionSetupAndx,
    QVX_SmbOtherCmd,
    QVX_SmbTreeConnectAndxRecv,
    QVX_SmbSessionSetupAndxRecv,
    QVX_Smb2FileStandardInfo,
    QVX_Smb2TreeConnectAndx,
    QVX_Smb2TreeDisConnectReq,
    QVX_Smb2OtherCmd,
    QVX_Smb2TreeConnectAndxRecv,
    QVX_Smb2Close,
    QVX_Smb2Write,
    QVX_Smb2SetInfo,
    QVX_SmbClose,
    QVX_SmbWrite,
    QVX_SmbCreateDirectory,
    QVX_SmbComDelete,
    QVX_Smb2Ioctl,
    QVX_SmbOpen,
    QVX_SmbSetInfo,
    QVX_SmbNtTransact,
    QVX_SmbNtRename,
    QVX_SmbWriteAndClose,
    QVX_Smb2Read,
    QVX_SmbRead,
};

// One line per handler call at ErrorLevel 6, so that a run can be checked against an
// independent decode of the same traffic.
void DispatchTrace(const char* handler) {
  if (OptionInfo.ErrorLevel >= 6)
    QVX_KLOG("QVX_D21-016 QVX_LogThread[%d][%ld] : Dispatch %s\r\n", handler);
}

void Smb1HeaderTrace(const char* id, const char* handler, const SMB_HEADER_ST& h) {
  if (OptionInfo.ErrorLevel < 6) return;
  DiagLogLine(DiagLog::kKernel, 1,
              "%s QVX_LogThread[%d][%ld] : %s Tid %d : Pid %d : Uid %d : Mid %d\r\n", id, __LINE__,
              platform().LastError(), handler, h.TID, h.PIDLow, h.UID, h.MID);
}

void HeaderDump(const char* intro_fmt, const unsigned char* p, size_t n) {
  DiagLogLine(DiagLog::kKernel, 1, intro_fmt, __LINE__, platform().LastError());
  for (size_t i = 0; i < n; ++i) DiagLogLine(DiagLog::kKernel, 1, "%02x", p[i]);
  DiagLogLine(DiagLog::kKernel, 1, "\r\n");
}

void FormatMac(char* out, size_t size, const unsigned char* m) {
  std::snprintf(out, size, "%2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x", m[0], m[1], m[2], m[3], m[4],
                m[5]);
}

// Where an SMB message starts in a datagram: after the IPv4 header, the TCP header (each as long
// as its own length field says) and the 4-byte session header. Only there: the same four bytes
// further on (inside a create context, or file data of a long write) start nothing. Returns the
// offset of the signature's first byte, 0xFF or 0xFE, or -1.
long SmbMessageOffset(const unsigned char* d, unsigned long Len) {
  constexpr unsigned char kTcp = 6;
  if (d[0] >> 4 != 4 || d[9] != kTcp) return -1;
  // A later fragment of a datagram carries no TCP header.
  if (((d[6] & 0x1F) << 8 | d[7]) != 0) return -1;
  const unsigned long ip = (d[0] & 0x0Fu) * 4u;
  if (ip < 20 || ip + 20 > Len) return -1;
  const unsigned long tcp = (d[ip + 12] >> 4) * 4u;
  const unsigned long at = ip + tcp + 4;
  if (tcp < 20 || at + 4 > Len) return -1;
  const unsigned char* sig = d + at;
  if ((sig[0] != 0xFF && sig[0] != 0xFE) || sig[1] != 'S' || sig[2] != 'M' || sig[3] != 'B')
    return -1;
  return static_cast<long>(at);
}

// A few recently formatted texts of N-byte values (addresses, MACs), replaced round-robin.
template <size_t N>
struct TextCache {
  static constexpr int kSlots = 8;
  unsigned char key[kSlots][N] = {};
  char text[kSlots][kIpTextSize] = {};
  bool used[kSlots] = {};
  int next = 0;

  template <typename Format>
  const char* Get(const unsigned char* value, Format format) {
    for (int i = 0; i < kSlots; ++i)
      if (used[i] && std::memcmp(key[i], value, N) == 0) return text[i];
    const int i = next;
    next = (next + 1) % kSlots;
    std::memcpy(key[i], value, N);
    format(text[i], sizeof text[i], value);
    used[i] = true;
    return text[i];
  }
};

// What the loop learnt of a frame that passed its gates: enough to hand it to its handlers now
// or after the requests ahead of it were decided.
struct FrameFacts {
  unsigned long Len = 0;
  long base = 0;
  long cursor = 0;
  int version = 0;
  int command = 0;
  bool toward = false;
  // The command tables let it through; a close or write that they leave out is still followed
  // for the handles it names, but goes to no other handler.
  bool known = true;
  // Not a message: the client's TCP connection ended (FIN or RST), in its place among the frames.
  bool connection_end = false;
  int64_t time_us = 0;
  unsigned char macs[12] = {};  // destination, source
  ConnectionEnds ends;          // the connection it came on
};

// The per-run state of the thread.
struct Run {
  DATA* data = nullptr;
  // What the handlers of this run share, handed to them through data->ctx.
  CaptureContext ctx;
  unsigned char* recvData = nullptr;
  unsigned char* recvDataBuf = nullptr;
  // Bytes of recvData written by the previous frame; everything past them is already zero.
  unsigned long used = 0;
  // Frames behind requests that wait for their answers, and the buffer they are handled from
  // (kept zero past each frame, as recvData is).
  HeldRequests held;
  unsigned char* heldData = nullptr;
  unsigned long held_used = 0;
  // Drop counters: when they were last read and what they said.
  int64_t stats_at_us = 0;
  uint64_t dropped = 0;
  // The monitored server's address (unset when IpAddress names none).
  IpAddress server;
  bool server_set = false;
  // Address and MAC texts already formatted: the frames of a conversation carry the same few,
  // so each is formatted once rather than for every frame.
  TextCache<sizeof(IpAddress)> addresses;
  TextCache<6> macs;
  // Every SMB message of every segment, however the sender's writes fell into segments.
  wire::StreamDecoder streams{kStreamLimits};
  uint64_t gaps_told = 0;
  // The frame being decoded: its MACs (destination, source).
  unsigned char frame_macs[12] = {};
  // A chained SMB1 command laid out as a message of its own.
  std::vector<unsigned char> chained;
  // Sessions (and connections, for compressed messages) already told as unreadable.
  std::unordered_set<uint64_t> unreadable;
};

// The capture thread's longest wait on the adapter while a request waits for the server's list of
// open files, which comes on a thread of its own.
constexpr int kServerListPollMs = 20;

bool SmbPort(uint16_t port) { return port == 445 || port == 139; }

// The ends of a message's connection: the server is the end on the SMB port; where both ends or
// neither are on one, the message's reply flag tells which way it went.
ConnectionEnds EndsOf(const wire::FlowKey& flow, bool reply, bool* toward) {
  *toward = SmbPort(flow.dport) != SmbPort(flow.sport) ? SmbPort(flow.dport) : !reply;
  ConnectionEnds e;
  e.client = *toward ? flow.src : flow.dst;
  e.server = *toward ? flow.dst : flow.src;
  e.client_port = *toward ? flow.sport : flow.dport;
  e.server_port = *toward ? flow.dport : flow.sport;
  return e;
}

// Commands that act on an open handle: followed whatever the command tables say. Of SMB1's
// transactions only those on a handle (TRANSACTION2 SET_FILE_INFORMATION, NT_TRANSACT
// SET_SECURITY_DESC) are.
bool HandleCommand(int version, int command) {
  if (version == 2)
    return command == 6 || command == 8 || command == 9 || command == 0x0B || command == 0x11;
  switch (command) {
    case 0x04:  // CLOSE
    case 0x0A:  // READ
    case 0x0B:  // WRITE
    case 0x22:  // SET_INFORMATION2
    case 0x2C:  // WRITE_AND_CLOSE
    case 0x2E:  // READ_ANDX
    case 0x2F:  // WRITE_ANDX
    case 0x32:  // TRANSACTION2
    case 0xA0:  // NT_TRANSACT
      return true;
    default:
      return false;
  }
}

// Commands whose answer grants a handle (SMB2 CREATE; SMB1 NT_CREATE_ANDX, the legacy opens,
// TRANSACTION2 OPEN2, NT_TRANSACT CREATE): their answers are seen whatever the command tables
// say, so that a request on a handle granted meanwhile is never taken for one opened before
// capture.
bool OpenCommand(int version, int command) {
  if (version == 2) return command == 5;
  switch (command) {
    case 0xA2:
    case 0x2D:
    case 0x02:
    case 0x03:
    case 0x0E:
    case 0x0F:
    case 0x32:
    case 0xA0:
      return true;
    default:
      return false;
  }
}

// TRANSACTION2 and NT_TRANSACT subcommands.
constexpr int kTrans2Open2 = 0, kTrans2SetPathInformation = 6, kTrans2SetFileInformation = 8,
              kTrans2CreateDirectory = 0x0D;
constexpr int kNtTransactCreate = 1, kNtTransactSetSecurityDesc = 3;

// Reports a handler's failure; true when the iteration must end.
bool Failed(int rc, const char* error_fmt) {
  if (rc == 0) return false;
  if (OptionInfo.ErrorLevel == 2)
    DiagLogLine(DiagLog::kKernel, 1, error_fmt, __LINE__, platform().LastError());
  return true;
}

// Runs one handler under its trace name; false (and the failure reported) when it failed.
template <class Handler>
bool Call(const char* name, const char* error_fmt, Handler handler) {
  DispatchTrace(name);
  return !Failed(handler(), error_fmt);
}

// Dispatches one SMB1 frame. Returns false when a handler failed.
bool DispatchSmb1(SMB_HEADER_ST& h, unsigned long Len, unsigned char* d, long cursor, bool toward,
                  bool known, DATA* data) {
  const CaptureDispatch& t = QVX_CaptureDispatch;
  const int cmd = h.Command;
  const int trees = data->ctx->options.TreeConnectCnt;
  if (!toward) {
    if (!known || cmd != 0x75) return true;
    Smb1HeaderTrace("QVX_D21-015", "QVX_SmbTreeConnectAndxRecv", h);
    if (!Call("QVX_SmbTreeConnectAndxRecv",
              "QVX_E21-009 QVX_LogThread[%d][%ld] : QVX_SmbTreeConnectAndxRecv Error\r\n",
              [&] { return t.SmbTreeConnectAndxRecv(&h, Len, d, cursor, trees, data); }))
      return false;
    // The UID of a log-on is bound from the tree-connect answer, which carries it too.
    if (data->ctx->options.SessionSetupFlg != 1) return true;
    Smb1HeaderTrace("QVX_D21-015", "QVX_SmbSessionSetupAndxRecv", h);
    return Call("QVX_SmbSessionSetupAndxRecv",
                "QVX_E21-009 QVX_LogThread[%d][%ld] : QVX_SmbSessionSetupAndxRecv Error\r\n", [&] {
                  return t.SmbSessionSetupAndxRecv(&h, Len, d, cursor,
                                                   data->ctx->options.SessionSetupCnt, data);
                });
  }
  // What is done to an open file: told by the handle it names, whether or not the tree is known.
  const int sub = cursor >= 33 ? QVX_Smb1TransactionSub(d + cursor - 33, Len - (cursor - 33)) : -1;
  switch (cmd) {
    case 0x04:
      DispatchTrace("QVX_SmbClose");
      t.SmbClose(&h, Len, d, cursor, data);
      return true;
    case 0x0A:
    case 0x2E:
      DispatchTrace("QVX_SmbRead");
      t.SmbRead(&h, Len, d, cursor, data);
      return true;
    case 0x0B:
    case 0x2F:
      DispatchTrace("QVX_SmbWrite");
      t.SmbWrite(&h, Len, d, cursor, data);
      return true;
    case 0x2C:
      DispatchTrace("QVX_SmbWriteAndClose");
      t.SmbWriteAndClose(&h, Len, d, cursor, data);
      return true;
    case 0x22:
      DispatchTrace("QVX_SmbSetInfo");
      t.SmbSetInfo(&h, Len, d, cursor, data);
      return true;
    case 0x32:
      if (sub != kTrans2SetFileInformation) break;
      DispatchTrace("QVX_SmbSetInfo");
      t.SmbSetInfo(&h, Len, d, cursor, data);
      return true;
    case 0xA0:
      if (sub != kNtTransactSetSecurityDesc) break;
      DispatchTrace("QVX_SmbNtTransact");
      t.SmbNtTransact(&h, Len, d, cursor, data);
      return true;
    default:
      break;
  }
  if (!known) return true;
  switch (cmd) {
    case 0x02:
    case 0x03:
    case 0x0E:
    case 0x0F:
    case 0x2D:
      return Call("QVX_SmbOpen", "QVX_E21-002 QVX_LogThread[%d][%ld] : QVX_SmbOpen Error\r\n",
                  [&] { return t.SmbOpen(&h, Len, d, cursor, data); });
    case 0x09:
      return Call("QVX_SmbSetInfo", "QVX_E21-009 QVX_LogThread[%d][%ld] : QVX_SmbSetInfo Error\r\n",
                  [&] { return t.SmbSetInfo(&h, Len, d, cursor, data); });
    case 0x29:
    case 0x2A:
    case 0xA5:
      return Call("QVX_SmbNtRename",
                  "QVX_E21-003 QVX_LogThread[%d][%ld] : QVX_SmbNtRename Error\r\n",
                  [&] { return t.SmbNtRename(&h, Len, d, cursor, data); });
    case 0x32:
      if (sub == kTrans2Open2)
        return Call("QVX_SmbOpen", "QVX_E21-002 QVX_LogThread[%d][%ld] : QVX_SmbOpen Error\r\n",
                    [&] { return t.SmbOpen(&h, Len, d, cursor, data); });
      if (sub == kTrans2SetPathInformation)
        return Call("QVX_SmbSetInfo",
                    "QVX_E21-009 QVX_LogThread[%d][%ld] : QVX_SmbSetInfo Error\r\n",
                    [&] { return t.SmbSetInfo(&h, Len, d, cursor, data); });
      if (sub == kTrans2CreateDirectory)
        return Call("QVX_SmbCreateDirectory",
                    "QVX_E21-004 QVX_LogThread[%d][%ld] : QVX_SmbCreateDirectory Error\r\n",
                    [&] { return t.SmbCreateDirectory(&h, Len, d, cursor, data); });
      break;
    case 0xA0:
      if (sub != kNtTransactCreate) return true;
      return Call("QVX_SmbNtTransact",
                  "QVX_E21-002 QVX_LogThread[%d][%ld] : QVX_SmbNtTransact Error\r\n",
                  [&] { return t.SmbNtTransact(&h, Len, d, cursor, data); });
    case 0x75:
      Smb1HeaderTrace("QVX_D21-014", "QVX_SmbTreeConnectAndx", h);
      return Call("QVX_SmbTreeConnectAndx",
                  "QVX_E21-001 QVX_LogThread[%d][%ld] : SMBQVX_SmbTreeConnectAndx Error\r\n",
                  [&] { return t.SmbTreeConnectAndx(&h, Len, d, cursor, trees, data); });
    case 0xA2:
      Smb1HeaderTrace("QVX_D21-015", "QVX_SmbNtCreateAndx", h);
      return Call("QVX_SmbNtCreateAndx",
                  "QVX_E21-002 QVX_LogThread[%d][%ld] : QVX_SmbNtCreateAndx Error\r\n",
                  [&] { return t.SmbNtCreateAndx(&h, Len, d, cursor, data); });
    case 0x07:
      return Call("QVX_SmbComRename",
                  "QVX_E21-003 QVX_LogThread[%d][%ld] : QVX_SmbComRename Error\r\n",
                  [&] { return t.SmbComRename(&h, Len, d, cursor, data); });
    case 0x01:
      return Call("QVX_ComDeleteDirectory",
                  "QVX_E21-004 QVX_LogThread[%d][%ld] : QVX_ComDeleteDirectory Error\r\n",
                  [&] { return t.ComDeleteDirectory(&h, Len, d, cursor, data); });
    case 0x00:
      return Call("QVX_SmbCreateDirectory",
                  "QVX_E21-004 QVX_LogThread[%d][%ld] : QVX_SmbCreateDirectory Error\r\n",
                  [&] { return t.SmbCreateDirectory(&h, Len, d, cursor, data); });
    case 0x06:
      return Call("QVX_SmbComDelete",
                  "QVX_E21-004 QVX_LogThread[%d][%ld] : QVX_SmbComDelete Error\r\n",
                  [&] { return t.SmbComDelete(&h, Len, d, cursor, data); });
    case 0x71:
      Smb1HeaderTrace("QVX_D21-015", "QVX_SmbTreeDisConnectReq", h);
      return Call("QVX_SmbTreeDisConnectReq",
                  "QVX_E21-012 QVX_LogThread[%d][%ld] : QVX_SmbTreeDisConnectReq Error\r\n",
                  [&] { return t.SmbTreeDisConnectReq(&h, Len, d, cursor, trees, data); });
    // A log-on or a negotiation names no file: its security blob is no path.
    case 0x72:
      return true;
    case 0x73:
      if (data->ctx->options.SessionSetupFlg != 1) return true;
      Smb1HeaderTrace("QVX_D21-015", "+++", h);
      return Call("QVX_SmbSessionSetupAndx",
                  "QVX_E21-012 QVX_LogThread[%d][%ld] : QVX_SmbSessionSetupAndx Error\r\n",
                  [&] { return t.SmbSessionSetupAndx(&h, Len, d, cursor, data); });
    default:
      break;
  }
  if (data->ctx->options.SMBOtherPackets != 1) return true;
  return Call("QVX_SmbOtherCmd", "QVX_E21-009 QVX_LogThread[%d][%ld] : QVX_SmbOtherCmd Error\r\n",
              [&] { return t.SmbOtherCmd(&h, Len, d, cursor, data); });
}

bool DispatchSmb2(SMB2_HEADER_ST& h, unsigned long Len, unsigned char* d, long cursor, bool toward,
                  bool known, DATA* data) {
  const CaptureDispatch& t = QVX_CaptureDispatch;
  const int cmd = h.Command;
  const int trees = data->ctx->options.TreeConnectCnt;
  if (!toward) {
    if (cmd != 3) return true;
    return Call("QVX_Smb2TreeConnectAndxRecv",
                "QVX_E21-010 QVX_LogThread[%d][%ld] : QVX_Smb2TreeConnectAndxRecv Error\r\n",
                [&] { return t.Smb2TreeConnectAndxRecv(&h, Len, d, cursor, trees, data); });
  }
  // What is done to an open file: told by the handle it names, whether or not the tree is known.
  switch (cmd) {
    case 6:
      DispatchTrace("QVX_Smb2Close");
      t.Smb2Close(&h, Len, d, cursor, data);
      return true;
    case 8:
      DispatchTrace("QVX_Smb2Read");
      t.Smb2Read(&h, Len, d, cursor, data);
      return true;
    case 9:
      DispatchTrace("QVX_Smb2Write");
      t.Smb2Write(&h, Len, d, cursor, data);
      return true;
    case 0x0B:
      DispatchTrace("QVX_Smb2Ioctl");
      t.Smb2Ioctl(&h, Len, d, cursor, data);
      return true;
    // A log-on or a negotiation names no file: its security blob is no path.
    case 0:
    case 1:
      return true;
    case 0x11:
      if (!QVX_Smb2SetInfoOwned(Len, d, cursor)) break;
      DispatchTrace("QVX_Smb2SetInfo");
      t.Smb2SetInfo(&h, Len, d, cursor, data);
      return true;
    default:
      break;
  }
  if (!known) return true;
  switch (cmd) {
    case 5:
      return Call("QVX_Smb2FileStandardInfo",
                  "QVX_E21-007 QVX_LogThread[%d][%ld] : QVX_Smb2FileStandardInfo Error\r\n",
                  [&] { return t.Smb2FileStandardInfo(&h, Len, d, cursor, trees, data); });
    case 3:
      return Call("QVX_Smb2TreeConnectAndx",
                  "QVX_E21-008 QVX_LogThread[%d][%ld] : QVX_Smb2TreeConnectAndx Error\r\n",
                  [&] { return t.Smb2TreeConnectAndx(&h, Len, d, cursor, trees, data); });
    case 4:
      return Call("QVX_Smb2TreeDisConnectReq",
                  "QVX_E21-011 QVX_LogThread[%d][%ld] : QVX_Smb2TreeDisConnectReq Error\r\n",
                  [&] { return t.Smb2TreeDisConnectReq(&h, Len, d, cursor, trees, data); });
    default:
      break;
  }
  // The SMB1 setting governs both versions.
  if (data->ctx->options.SMBOtherPackets != 1) return true;
  return Call("QVX_Smb2OtherCmd", "QVX_E21-009 QVX_LogThread[%d][%ld] : QVX_Smb2OtherCmd Error\r\n",
              [&] { return t.Smb2OtherCmd(&h, Len, d, cursor, data); });
}

// A client's connection ended: the handles it held are closed with it (the server closes them,
// and a delete-on-close takes effect), and its trees end with their logout lines.
void EndConnection(CaptureContext& ctx, const ConnectionEnds& ends) {
  OpenFile f;
  while (ctx.open_files.TakeOldest(&f, ends.client, ends.client_port))
    QVX_EndOpen(ctx, f, ctx.platform->Now());
  const EndsText text(ends);
  QVX_ConnectionTreesEnded(ctx, text.server, text.client, text.client_port);
}

// Hands a frame that passed the gates to its handlers: share refresh, MAC texts, dispatch and
// the periodic clean-up. d is the datagram (zero past f.Len).
void Handle(Run& r, const FrameFacts& f, unsigned char* d) {
  DATA* data = r.data;
  const int level = OptionInfo.ErrorLevel;
  g_handled_us.store(f.time_us, std::memory_order_relaxed);
  t_frame_us = f.time_us;
  r.ctx.ends = f.ends;
  if (f.connection_end) {
    EndConnection(r.ctx, f.ends);
    return;
  }
  PacketSMB_Base = f.base;
  data->SMBCommand = f.command;
  data->SMBVersion = f.version;
  QVX_CaptureShareRefreshDue(*r.ctx.shares);

  data->SMBCmdListFlg = r.ctx.options.SMBcmdListFlg != 0 ? 1 : 0;
  if (level >= 6)
    QVX_KLOG(
        "QVX_D21-013 QVX_LogThread[%d][%ld] : SMBCommand %x : OptionInfo.SMBcmdListFlg %d : "
        "data->SMBCmdListFlg %d\r\n",
        data->SMBCommand, r.ctx.options.SMBcmdListFlg, data->SMBCmdListFlg);

  if (r.ctx.options.MACadressFlg == 1) {
    // 17 characters and the terminator.
    std::memcpy(data->ServerMac, r.macs.Get(f.macs, FormatMac), 18);
    std::memcpy(data->ClientMac, r.macs.Get(f.macs + 6, FormatMac), 18);
  } else {
    std::snprintf(data->ServerMac, sizeof data->ServerMac, "--");
    std::snprintf(data->ClientMac, sizeof data->ClientMac, "--");
  }

  // One frame is one access: its object's facts are read once.
  FileFactsScope facts;
  bool ok;
  if (f.version == 1) {
    SMB_HEADER_ST SMB_HEADER;
    std::memcpy(&SMB_HEADER, d + f.base, sizeof SMB_HEADER);
    ok = DispatchSmb1(SMB_HEADER, f.Len, d, f.cursor, f.toward, f.known, data);
  } else {
    SMB2_HEADER_ST SMB2_HEADER;
    std::memcpy(&SMB2_HEADER, d + f.base, sizeof SMB2_HEADER);
    ok = DispatchSmb2(SMB2_HEADER, f.Len, d, f.cursor, f.toward, f.known, data);
  }
  if (!ok) return;

  if (level >= 6) QVX_KLOG("QVX_E21-010 QVX_LogThread[%d][%ld] : QVX_SmbInfoTableDelete\r\n");
  QVX_CaptureSmbInfoTableDelete(data);
}

// Every open the server granted is noted, whatever its handler makes of it, so that the related
// requests of a compound chain find their handle.
void NoteOpen(OpenFiles& files, const unsigned char* d, const FrameFacts& f, const AnswerFacts& a) {
  const unsigned char* h = d + f.base;
  const uint64_t session = f.version == 2 ? QVX_Smb2SessionId(h) : 0;
  files.NoteOpen(QVX_OpenFileKeyOf(f.ends, f.version, session, a.file_id[0], a.file_id[1]));
}

// Hands on every held frame that may go at capture time now_us (all of them with force), in the
// order they came.
void Decide(Run& r, int64_t now_us, bool force) {
  HeldRequests::Frame h;
  const uint64_t server_reads =
      r.held.WaitForServer() ? QVX_ServerOpenFilesRead(r.ctx) : UINT64_MAX;
  while (r.held.TakeDue(now_us, force, &h, server_reads)) {
    FrameFacts f;
    std::memcpy(&f, h.bytes.data(), sizeof f);
    std::memset(r.heldData, 0, r.held_used);
    std::memcpy(r.heldData, h.bytes.data() + sizeof f, f.Len);
    r.held_used = f.Len;
    const AnswerFacts* answer = h.answered ? &h.answer : nullptr;
    if (answer && answer->open) NoteOpen(r.ctx.open_files, r.heldData, f, *answer);
    r.ctx.answer = answer;
    Handle(r, f, r.heldData);
    r.ctx.answer = nullptr;
  }
}

// Handles that a run's end leaves open: the lines they kept back are written as they stand.
void EndOpenFiles(CaptureContext& ctx) {
  OpenFile f;
  while (ctx.open_files.TakeOldest(&f)) QVX_EndOpen(ctx, f, f.facts.now);
}

// Is the SMB header at base flagged as the server's answer?
bool IsAnswer(const unsigned char* d, const FrameFacts& f) {
  const unsigned char* h = d + f.base;
  if (f.version == 2) return (h[16] & 0x01) != 0;  // SMB2_FLAGS_SERVER_TO_REDIR
  return (h[9] & 0x80) != 0;                       // SMB_FLAGS_REPLY
}

// An answer that grants a handle: the handle is the run's from now on, followed or not. sub is
// the subcommand of the SMB1 transaction it answers (-1 when none is held).
void NoteGranted(OpenFiles& files, const unsigned char* d, const FrameFacts& f, int sub) {
  if (!OpenCommand(f.version, f.command)) return;
  const unsigned char* h = d + f.base;
  const size_t available = f.Len - static_cast<unsigned long>(f.base);
  AnswerFacts a;
  const bool read = f.version == 2 ? QVX_Smb2AnswerFacts(h, available, &a)
                                   : QVX_Smb1AnswerFacts(h, available, &a, sub);
  if (!read || !a.open) return;
  const uint64_t session = f.version == 2 ? QVX_Smb2SessionId(h) : 0;
  files.NoteGranted(QVX_OpenFileKeyOf(f.ends, f.version, session, a.file_id[0], a.file_id[1]));
}

// A request on a handle the run never saw opened: the count of lists of the server's open files
// its line waits for (0: it waits for none).
uint64_t ServerListWanted(Run& r, const FrameFacts& f, const unsigned char* d) {
  if (!f.toward || !HandleCommand(f.version, f.command)) return 0;
  const unsigned char* h = d + f.base;
  OpenFileKey key;
  const bool named = f.version == 2 ? QVX_Smb2RequestHandle(f.ends, h, f.Len, d, f.cursor, &key)
                                    : QVX_Smb1RequestHandle(f.ends, h, f.Len, d, f.cursor, &key);
  if (!named) return 0;
  const uint32_t tree_id = f.version == 2 ? wire::LoadLe32(h + 36) : wire::LoadLe16(h + 24);
  uint64_t wanted = 0;
  return QVX_UnseenHandleWaits(r.ctx, f.ends, key, tree_id, &wanted) ? wanted : 0;
}

// A frame that passed the gates: an answer frees the request it answers; a request whose
// handling needs the server's work done is held; any frame behind a held one waits its turn.
void Pass(Run& r, const FrameFacts& f) {
  const unsigned char* d = r.recvData;
  const bool answer = IsAnswer(d, f);
  ExchangeKey key;
  const unsigned char* smb = d + f.base;
  const size_t available = f.Len - static_cast<unsigned long>(f.base);
  // An SMB1 transaction's answer is read as its request's subcommand says.
  int sub = -1;
  if (answer && !r.held.Empty() && !QVX_InterimAnswer(f.version, smb, available) &&
      QVX_ExchangeKeyOf(f.ends, d, f.Len, f.base, f.version, &key) && r.held.Waiting(key, &sub)) {
    AnswerFacts facts;
    if (f.version == 2 ? QVX_Smb2AnswerFacts(smb, available, &facts)
                       : QVX_Smb1AnswerFacts(smb, available, &facts, sub))
      r.held.Answer(key, facts);
  }
  Decide(r, f.time_us, false);
  // After the frames ahead were handled: a close among them forgets its handle before the same
  // id is granted again.
  if (answer) NoteGranted(r.ctx.open_files, d, f, sub);
  sub = !answer && f.version == 1 ? QVX_Smb1TransactionSub(smb, available) : -1;
  const bool awaits = !answer && QVX_RequestAwaitsAnswer(f.version, f.command, f.toward, sub) &&
                      QVX_ExchangeKeyOf(f.ends, d, f.Len, f.base, f.version, &key);
  const uint64_t reads_wanted = answer ? 0 : ServerListWanted(r, f, d);
  if (r.held.Empty() && !awaits && reads_wanted == 0) {
    Handle(r, f, r.recvData);
    return;
  }
  r.held.Add(f.time_us, awaits, key, &f, sizeof f, d, f.Len, sub, reads_wanted);
}

// Reads the capture's drop counters; new drops go to the kernel log, the status bar and the
// console, since accesses may have been missed.
void CheckDrops(Run& r) {
  uint64_t received = 0, dropped = 0;
  if (CaptureConnectorInUse().Stats(&received, &dropped) != 0) return;
  if (dropped <= r.dropped) {
    r.dropped = dropped;
    return;
  }
  const uint64_t fresh = dropped - r.dropped;
  r.dropped = dropped;
  const uint64_t total = g_dropped_total.fetch_add(fresh) + fresh;
  QVX_KLOG(
      "QVX_E21-070 QVX_LogThread[%d][%ld] : %llu frames dropped by the capture (%llu of %llu "
      "since capture started)\r\n",
      static_cast<unsigned long long>(fresh), static_cast<unsigned long long>(dropped),
      static_cast<unsigned long long>(received));
  QVX_CaptureShowCounts(total, g_gaps_total.load(), g_unreadable_total.load());
}

// Nothing came: hand on what is due, then wait on the adapter, at most ServiceTaskWait and no
// longer than the oldest held request may wait.
void Idle(Run& r) {
  const CaptureConnector& con = CaptureConnectorInUse();
  const int64_t now = con.ClockUs();
  Decide(r, now, false);
  int64_t wait = r.ctx.options.ServiceTaskWait > 0 ? r.ctx.options.ServiceTaskWait : 0;
  const int64_t deadline = r.held.NextDeadline();
  if (deadline >= 0) {
    const int64_t until = (deadline - now + 999) / 1000;
    if (until < wait) wait = until < 1 ? 1 : until;
  }
  if (r.held.WaitForServer() && wait > kServerListPollMs) wait = kServerListPollMs;
  if (r.data->LoggingFlg != 0) con.Wait(static_cast<int>(wait));
}

// The user of an NTLMSSP log-on in a session set-up request, for the session it sets up.
void TakeLogon(ConnectionTracker& tracker, const unsigned char* d, unsigned long Len, long base,
               int version, const char* client, const char* server, uint16_t port) {
  const unsigned char* h = d + base;
  const size_t n = Len - static_cast<unsigned long>(base);
  const std::string user = NtlmAuthenticateUser(h, n);
  if (user.empty()) return;
  const uint64_t session = version == 2 ? wire::LoadLe64(h + 40) : wire::LoadLe16(h + 28);
  tracker.TakeLogon(server, client, port, version, session, user);
}

// Decodes one SMB message of flow, laid out in recvData (a 44-byte header, then the message) of
// Len bytes: header, gates, and on to its handlers.
void Decode(Run& r, const wire::FlowKey& flow, unsigned long Len, int64_t time_us) {
  DATA* data = r.data;
  unsigned char* recvData = r.recvData;
  const int level = OptionInfo.ErrorLevel;
  if (Len < kMinDatagram) return;

  // The signature is looked for where TCP puts the message, nowhere else.
  const long base = SmbMessageOffset(recvData, Len);
  const bool smb2 = base >= 0 && recvData[base] == 0xFE;
  if (base >= 0 && !smb2) {
    if (level >= 6) QVX_KLOG("QVX_D21-001 QVX_LogThread[%d][%ld] : SMB1.0　BASE検索一致\r\n");
  } else if (r.ctx.options.SMBExtFlg != 0) {
    if (level >= 6) QVX_KLOG("QVX_D21-001 QVX_LogThread[%d][%ld] : SMB2.0　BASE検索\r\n");
    if (!smb2) {
      if (level >= 6) QVX_KLOG("QVX_D21-001 QVX_LogThread[%d][%ld] : SMB　BASE検索 未一致\r\n");
      return;
    }
  } else {
    return;
  }
  PacketSMB_Base = base;
  long cursor = base + 1;
  if (level >= 4) QVX_KLOG("QVX_D21-001 QVX_LogThread[%d][%ld] : PacketSMB_Base=%ld\r\n", base);

  SMB_HEADER_ST SMB_HEADER;
  SMB2_HEADER_ST SMB2_HEADER;
  const unsigned char* sig = recvData + base;
  if (!smb2) {
    if (level >= 4)
      QVX_KLOG("QVX_D21-001 QVX_LogThread[%d][%ld] : SMB1.0受信 %02x%02x%02x%02x\r\n", sig[0],
               sig[1], sig[2], sig[3]);
    if (Len < static_cast<unsigned long>(base) + sizeof SMB_HEADER) return;
    std::memcpy(&SMB_HEADER, sig, sizeof SMB_HEADER);
    cursor += sizeof SMB_HEADER;
    if (level >= 5) {
      HeaderDump("QVX_D21-002 QVX_LogThread[%d][%ld] : SMB_HEADER：",
                 reinterpret_cast<const unsigned char*>(&SMB_HEADER), sizeof SMB_HEADER);
      QVX_KLOG(
          "QVX_D21-004 QVX_LogThread[%d][%ld] : SMB_Total_Packet_Size：%ld , SMB_Command = "
          "0x%02X \r\n",
          cursor, SMB_HEADER.Command);
    }
    data->SMBCommand = SMB_HEADER.Command;
    data->SMBVersion = 1;
  } else {
    if (level >= 4)
      QVX_KLOG("QVX_D21-003 QVX_LogThread[%d][%ld] : SMB2.0受信 %02x%02x%02x%02x\r\n", sig[0],
               sig[1], sig[2], sig[3]);
    if (Len < static_cast<unsigned long>(base) + sizeof SMB2_HEADER) return;
    std::memset(&SMB2_HEADER, 0, sizeof SMB2_HEADER);
    std::memcpy(&SMB2_HEADER, sig, sizeof SMB2_HEADER);
    const long L = SMB2_HEADER.Length[0] + 256 * SMB2_HEADER.Length[1];
    if (level >= 5) {
      HeaderDump("QVX_D21-004 QVX_LogThread[%d][%ld] : SMB2_HEADER：",
                 reinterpret_cast<const unsigned char*>(&SMB2_HEADER), sizeof SMB2_HEADER);
      QVX_KLOG(
          "QVX_D21-005 QVX_LogThread[%d][%ld] : SMB2_HEADER.Length[0] %x SMB2_HEADER.Length[1] "
          "%x , Length = %d \r\n",
          SMB2_HEADER.Length[0], SMB2_HEADER.Length[1], static_cast<int>(L));
    }
    if (static_cast<long>(Len) < cursor + L) return;
    cursor += L;
    if (level >= 5)
      QVX_KLOG(
          "QVX_D21-006 QVX_LogThread[%d][%ld] : SMB_Total_Packet_Size：%ld , Length = %ld , "
          "SMB2_Command = 0x%02X \r\n",
          cursor, L, SMB2_HEADER.Command);
    data->SMBCommand = SMB2_HEADER.Command;
    data->SMBVersion = 2;
  }
  data->SMBCmdListFlg = 1;

  // Copied out at once: the second look-up may reuse the first one's slot.
  const auto format = [](char* out, size_t size, const unsigned char* a) {
    IpAddress ip;
    std::memcpy(&ip, a, sizeof ip);
    FormatIpAddress(out, size, ip);
  };
  char src[kIpTextSize];
  char dst[kIpTextSize];
  CopyText(src, r.addresses.Get(reinterpret_cast<const unsigned char*>(&flow.src), format));
  CopyText(dst, r.addresses.Get(reinterpret_cast<const unsigned char*>(&flow.dst), format));
  if (level >= 4) {
    QVX_KLOG("QVX_D21-010 QVX_LogThread[%d][%ld] : IPアドレス受信 %s\r\n", src);
    QVX_KLOG("QVX_D21-010 QVX_LogThread[%d][%ld] : IPアドレス受信 %s\r\n", dst);
  }

  // The direction from the message itself: the end on the SMB port is the server, and where
  // that does not tell, the reply flag. The monitored server must be that end, unless every
  // frame counts: the server's own sessions to other servers are not its clients' accesses.
  const bool vip = r.ctx.options.VipFlg != 0;
  const unsigned char* hdr = recvData + base;
  const bool reply = smb2 ? (hdr[16] & 0x01) != 0 : (hdr[9] & 0x80) != 0;
  bool toward = true;
  ConnectionEnds ends = EndsOf(flow, reply, &toward);
  if (vip) {
    // Every frame counts as a request, its source as the client.
    toward = true;
    ends = ConnectionEnds{flow.src, flow.dst, flow.sport, flow.dport};
  } else if (!r.server_set || ends.server != r.server) {
    if (level >= 4)
      QVX_KLOG("QVX_D21-011 QVX_LogThread[%d][%ld] : Recv IP_Chk NoH Serv[%s] Cli[%s]\r\n", dst,
               src);
    return;
  }
  if (QVX_IpFilterDrops(src, dst)) return;

  // A log-on names the user of its session, whatever the gates decide for the message.
  if ((data->SMBVersion == 2 ? data->SMBCommand == 1 : data->SMBCommand == 0x73) && !vip &&
      toward) {
    const EndsText text(ends);
    TakeLogon(*r.ctx.tracker, recvData, Len, base, data->SMBVersion, text.client, text.server,
              ends.client_port);
  }

  // Command gate. Requests on handles pass it all the same, for the handles they name, and so do
  // the answers of opens, for the handles they grant.
  const bool known = data->SMBVersion == 1
                         ? QVX_Smb1CommandKnown(static_cast<uint8_t>(data->SMBCommand))
                         : QVX_Smb2CommandKnown(static_cast<uint16_t>(data->SMBCommand));
  if (!known && !HandleCommand(data->SMBVersion, data->SMBCommand) &&
      !(reply && OpenCommand(data->SMBVersion, data->SMBCommand)))
    return;

  FrameFacts f;
  f.Len = Len;
  f.base = base;
  f.cursor = cursor;
  f.version = data->SMBVersion;
  f.command = data->SMBCommand;
  f.known = known;
  // With VipFlg every frame counts as a request; answers are then never dispatched.
  f.toward = toward;
  f.ends = ends;
  f.time_us = time_us;
  std::memcpy(f.macs, r.frame_macs, sizeof f.macs);
  Pass(r, f);
}

// Lays out one SMB message (size bytes at p) as the handlers read it: behind a 44-byte header
// (an IPv4 and a TCP header without addresses or ports, and the session header; the message's
// connection is in the run's context). Returns its length.
unsigned long Datagram(Run& r, const unsigned char* p, size_t size) {
  unsigned char* d = r.recvData;
  std::memset(d, 0, r.used);
  const size_t room = kRecvBufSize - kSyntheticHeaders;
  if (size > room) size = room;
  const unsigned long Len = static_cast<unsigned long>(kSyntheticHeaders + size);
  const size_t ip_total = Len > 0xFFFF ? 0xFFFF : Len;
  d[0] = 0x45;
  d[2] = static_cast<unsigned char>(ip_total >> 8);
  d[3] = static_cast<unsigned char>(ip_total);
  d[8] = 64;
  d[9] = 6;      // TCP
  d[32] = 0x50;  // data offset: 5 words
  d[41] = static_cast<unsigned char>(size >> 16);
  d[42] = static_cast<unsigned char>(size >> 8);
  d[43] = static_cast<unsigned char>(size);
  std::memcpy(d + kSyntheticHeaders, p, size);
  r.used = Len;
  return Len;
}

// A message that cannot be read (encrypted, compressed) is told once per session (connection
// for a compressed one): a line, the kernel log, the status bar.
void Unreadable(Run& r, const wire::StreamMessage& m) {
  const bool encrypted = m.bytes[0] == 0xFD;
  // The transform header names the session at 44; a compressed message names none.
  uint64_t session = 0;
  if (encrypted && m.kept >= 52) session = wire::LoadLe64(m.bytes + 44);
  bool toward = true;
  const ConnectionEnds ends = EndsOf(m.flow, false, &toward);
  if (r.ctx.options.VipFlg == 0 && (!r.server_set || ends.server != r.server)) return;
  const uint64_t key = session != 0
                           ? session ^ (ends.server.Hash() << 1)
                           : ((ends.client.Hash() << 24 ^ uint64_t{ends.client_port} << 8) | 0xC0);
  if (r.unreadable.count(key) != 0) return;
  if (r.unreadable.size() >= kUnreadableKept) r.unreadable.clear();
  r.unreadable.insert(key);
  QVX_UnreadableSession(r.ctx, encrypted, ends, session, r.frame_macs, toward);
  g_unreadable_total.fetch_add(1);
  QVX_CaptureShowCounts(g_dropped_total.load(), g_gaps_total.load(), g_unreadable_total.load());
}

// SMB1 commands whose parameter block starts with AndXCommand, AndXReserved and AndXOffset.
bool AndxCommand(uint8_t command) {
  switch (command) {
    case 0x24:  // LOCKING_ANDX
    case 0x2D:  // OPEN_ANDX
    case 0x2E:  // READ_ANDX
    case 0x2F:  // WRITE_ANDX
    case 0x73:  // SESSION_SETUP_ANDX
    case 0x74:  // LOGOFF_ANDX
    case 0x75:  // TREE_CONNECT_ANDX
    case 0xA2:  // NT_CREATE_ANDX
      return true;
    default:
      return false;
  }
}

// The commands chained behind the first one of an SMB1 message (an old client's session set-up
// with its tree connect, say): each is handed on as a message of its own, the header's command
// set to it, its parameter block following the header.
void DecodeAndxChain(Run& r, const wire::StreamMessage& m) {
  constexpr size_t kHeader = 32;
  constexpr int kMaxChain = 8;
  const unsigned char* p = m.bytes;
  if (m.kept < kHeader + 1 + 4 || p[0] != 0xFF) return;
  uint8_t command = p[4];
  size_t block = kHeader;
  std::vector<unsigned char>& chained = r.chained;
  for (int i = 0; i < kMaxChain && AndxCommand(command); ++i) {
    if (block + 1 + 4 > m.kept || p[block] < 2) return;
    const uint8_t next = p[block + 1];
    const size_t offset = wire::LoadLe16(p + block + 3);
    // Each block lies after the one before, inside what was kept.
    if (next == 0xFF || offset <= block || offset >= m.kept) return;
    chained.assign(p, p + kHeader);
    chained[4] = next;
    chained.insert(chained.end(), p + offset, p + m.kept);
    Decode(r, m.flow, Datagram(r, chained.data(), chained.size()), m.time_us);
    command = next;
    block = offset;
  }
}

// Each message of the stream: an SMB2 compound chain is handed on element by element, a related
// element taking the session and tree of the one before it.
void OnMessage(Run& r, const wire::StreamMessage& m) {
  if (m.kept < 4) return;
  const unsigned char* p = m.bytes;
  if (p[0] == 0xFD || p[0] == 0xFC) {
    Unreadable(r, m);
    return;
  }
  if (p[0] != 0xFE) {
    Decode(r, m.flow, Datagram(r, p, m.kept), m.time_us);
    DecodeAndxChain(r, m);
    return;
  }
  unsigned char session[8] = {};
  unsigned char tree[4] = {};
  wire::ForEachSmb2Element(p, m.kept, [&](const wire::Smb2Element& e) {
    const unsigned long Len = Datagram(r, p + e.offset, e.size);
    unsigned char* h = r.recvData + kSyntheticHeaders;
    if (e.related) {
      static const unsigned char kAll[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
      if (std::memcmp(h + 40, kAll, 8) == 0) std::memcpy(h + 40, session, 8);
      if (std::memcmp(h + 36, kAll, 4) == 0) std::memcpy(h + 36, tree, 4);
    }
    std::memcpy(session, h + 40, 8);
    std::memcpy(tree, h + 36, 4);
    Decode(r, m.flow, Len, m.time_us);
  });
}

// Lost stream bytes are told like dropped frames: messages in them were missed.
void ReportGaps(Run& r) {
  const uint64_t fresh = r.streams.Gaps() - r.gaps_told;
  r.gaps_told = r.streams.Gaps();
  g_gaps_total.fetch_add(fresh);
  QVX_KLOG(
      "QVX_E21-071 QVX_LogThread[%d][%ld] : %llu gaps in the SMB stream (segments lost before "
      "capture; %llu since capture started); messages in them were missed\r\n",
      static_cast<unsigned long long>(fresh), static_cast<unsigned long long>(r.gaps_told));
  QVX_CaptureShowCounts(g_dropped_total.load(), g_gaps_total.load(), g_unreadable_total.load());
}

// A FIN or RST of a connection to the server: its end is handled in its place among the frames,
// after every request held before it.
void ConnectionEnd(Run& r, const wire::TcpSegment& seg, int64_t time_us) {
  bool toward = true;
  const ConnectionEnds ends =
      EndsOf(wire::FlowKey{seg.src, seg.dst, seg.sport, seg.dport}, false, &toward);
  if (r.ctx.options.VipFlg == 0 && (!r.server_set || ends.server != r.server)) return;
  static const unsigned char kNone[1] = {0};
  const unsigned long Len = Datagram(r, kNone, 0);
  FrameFacts f;
  f.Len = Len;
  f.time_us = time_us;
  f.connection_end = true;
  f.ends = ends;
  std::memcpy(f.macs, r.frame_macs, sizeof f.macs);
  if (r.held.Empty()) {
    Handle(r, f, r.recvData);
    return;
  }
  r.held.Add(time_us, false, ExchangeKey{}, &f, sizeof f, r.recvData, Len);
}

// Handles one received frame of n bytes in recvDataBuf.
void Take(Run& r, unsigned long n) {
  unsigned char* recvDataBuf = r.recvDataBuf;
  // A length the buffer cannot hold is refused rather than trusted.
  if (n == kEtherHeaderSize) {
    platform().SleepMs(100);
    return;
  }
  if (n < kEtherHeaderSize || n > kRecvBufSize) {
    QVX_KLOG(
        "QVX_E21-001 QVX_LogThread[%d][%ld] : パケット受信サイズがオーバーしました。Len=%d\r\n",
        static_cast<int>(n + 2));
    platform().SleepMs(100);
    return;
  }
  const CaptureConnector& con = CaptureConnectorInUse();
  const int link = con.LinkType ? con.LinkType() : wire::kLinkEthernet;
  wire::TcpSegment seg;
  if (!wire::DecodeFrameTcp(link, recvDataBuf, n, &seg)) return;
  if (!SmbPort(seg.sport) && !SmbPort(seg.dport)) return;
  g_smb_frames.store(g_smb_frames.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  std::memcpy(r.frame_macs, seg.macs, sizeof r.frame_macs);
  const int64_t time_us = CaptureConnectorInUse().FrameTimeUs();
  r.streams.Segment(seg, time_us, [&r](const wire::StreamMessage& m) { OnMessage(r, m); });
  if (r.streams.Gaps() != r.gaps_told) ReportGaps(r);
  if ((seg.flags & (wire::kTcpFin | wire::kTcpRst)) != 0) ConnectionEnd(r, seg, time_us);
}

// One iteration of the loop: receive, follow the stream, and for each message found: decode,
// gate, dispatch, clean up.
void Iterate(Run& r) {
  unsigned char* recvDataBuf = r.recvDataBuf;

  platform().SleepMs(0);
  const int64_t clock = CaptureConnectorInUse().ClockUs();
  if (clock - r.stats_at_us >= 1000000 || clock < r.stats_at_us) {
    r.stats_at_us = clock;
    CheckDrops(r);
  }
  recvDataBuf[0] = 0xFF;

  unsigned long n = 0;
  if (CaptureConnectorInUse().Recv(recvDataBuf, &n) != 0) {
    QVX_KLOG("QVX_E21-001 QVX_LogThread[%d][%ld] : パケット受信に失敗しました。\r\n");
    platform().SleepMs(100);
    return;
  }
  if (n == 0) {
    DbgCrumbTick();  // no frame came: crumbs held since an earlier second go to the log
    Idle(r);
    return;
  }
  Take(r, n);
}

// Stopped: the frames the adapter already held are read and handled before it is closed, until
// none has come for kDrainQuietMs or one was captured after the stop. The quiet time outlasts the
// adapter's own timeout (20 ms by default), after which the kernel hands over a part-filled
// block of frames. The window closes the adapter after a second at most; a receive that then
// fails means frames were left unread.
constexpr int kDrainQuietMs = 60;
constexpr int kDrainPollMs = 2;

void Drain(Run& r) {
  const CaptureConnector& con = CaptureConnectorInUse();
  if (!con.Drainable || con.Drainable() != 1) return;
  const int64_t stop_us = con.ClockUs();
  uint64_t read = 0;
  int quiet_ms = 0;
  for (;;) {
    unsigned long n = 0;
    r.recvDataBuf[0] = 0xFF;
    if (con.Recv(r.recvDataBuf, &n) != 0) {
      QVX_KLOG(
          "QVX_E21-073 QVX_LogThread[%d][%ld] : capture stopped before every frame it held was "
          "read (%llu read after the stop); the frames still held were lost\r\n",
          static_cast<unsigned long long>(read));
      QVX_CaptureShowStopCut(g_stops_cut.fetch_add(1) + 1);
      return;
    }
    if (n == 0) {
      if (quiet_ms >= kDrainQuietMs) break;
      platform().SleepMs(kDrainPollMs);
      quiet_ms += kDrainPollMs;
      continue;
    }
    quiet_ms = 0;
    ++read;
    Take(r, n);
    if (con.FrameTimeUs() > stop_us) break;
  }
  if (read > 0)
    QVX_KLOG("QVX_I21-073 QVX_LogThread[%d][%ld] : %llu frames held at the stop were read\r\n",
             static_cast<unsigned long long>(read));
}

}  // namespace

CaptureDispatch QVX_CaptureDispatch = kRealHandlers;

void QVX_CaptureDispatchReset() { QVX_CaptureDispatch = kRealHandlers; }

unsigned long QVX_LogThread(void* pData) {
  DATA* data = static_cast<DATA*>(pData);

  QVX_CaptureSessionsSoon();
  // The handles the clients opened before this run are in the server's list of open files now:
  // it is read while the thread waits to start.
  platform().AskOpenFiles();
  platform().SleepMs(OptionInfo.ServiceTaskWait);
  PacketSMB_Base = 0;
  if (OptionInfo.StartDown == 1) {
    platform().SleepMs(500);
    QVX_CaptureHideMainWindow(data);
  }

  Run r;
  r.data = data;
  r.ctx.platform = &platform();
  r.ctx.tracker = &CaptureConnections();
  r.ctx.sinks = &QVX_Sinks();
  r.ctx.tables = &QVX_ProgramLogonTables();
  r.ctx.shares = &QVX_ProgramShares();
  r.ctx.options = OptionInfo;
  r.ctx.access_kind = nAccessKindFlg;
  r.server_set = ParseIpAddress(r.ctx.options.IpAddress, &r.server);
  data->ctx = &r.ctx;
  QVX_CaptureHandledTimeReset();
  r.recvData = static_cast<unsigned char*>(std::calloc(kRecvBufSize, 1));
  QVX_CaptureShareRefresh(*r.ctx.shares);
  QVX_CaptureListIndexReset();
  data->NextSessionChkTime =
      static_cast<time_t>(platform().Now().t + static_cast<int64_t>(r.ctx.options.RefleshTime));
  r.recvDataBuf = static_cast<unsigned char*>(std::calloc(kRecvBufSize, 1));
  r.heldData = static_cast<unsigned char*>(std::calloc(kRecvBufSize, 1));
  r.stats_at_us = CaptureConnectorInUse().ClockUs();

  QVX_KLOG("QVX_D21-011 QVX_LogThread[%d][%ld] : ZeroMemory 管理テーブル\r\n");
  QVX_ClearTables();

  if (!r.recvData || !r.recvDataBuf || !r.heldData) {
    QVX_KLOG("QVX_E21-050 QVX_LogThread[%d][%ld] : 受信バッファの確保に失敗しました。\r\n");
  } else {
    // The run's context is fresh: no handle is open.
    r.streams.Reset();
    while (data->LoggingFlg != 0) Iterate(r);
    Drain(r);
    // Requests still waiting for their answers are decided, not lost; so are the lines of
    // handles still open.
    Decide(r, 0, true);
    EndOpenFiles(r.ctx);
  }

  data->ctx = nullptr;
  if (data->LoggingFlg != 0) data->LoggingFlg = 0;
  QVX_KLOG("QVX_E21-011 QVX_LogThread[%d][%ld] : Button_SetText1\r\n");
  QVX_KLOG("QVX_E21-011 QVX_LogThread[%d][%ld] : Button_SetText2\r\n");
  QVX_KLOG("QVX_E21-051 QVX_LogThread[%d][%ld] : recvData free\r\n");
  std::free(r.recvData);
  QVX_KLOG("QVX_E21-051 QVX_LogThread[%d][%ld] : recvDataBuf free\r\n");
  std::free(r.recvDataBuf);
  std::free(r.heldData);
  QVX_KLOG("QVX_E21-011 QVX_LogThread[%d][%ld] : Thread End\r\n");
  t_frame_us = 0;
  DbgLogFlush();  // the crumbs this thread still holds
  return 0;
}

}  // namespace qvx
