#include "smb1/session_setup.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "audit/context.h"
#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "names/hosts.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// The parameter block of an extended-security request, WordCount to ByteCount; the security
// blob follows it.
inline constexpr unsigned long kSetupBlock = 27;
inline constexpr unsigned kSetupWords = 12;
// The head of an NTLMSSP message up to the fields read here.
inline constexpr unsigned long kNtlmsspHead = 68;
// A user name is kept whole up to this many UTF-16 units: their UTF-8 form (three bytes at most
// per unit) still fits the 511 characters of a row's name.
inline constexpr size_t kUserNameUnits = 170;

unsigned Get16(const unsigned char* p) { return p[0] | p[1] << 8; }

size_t SessionRows() {
  return OptionInfo.SessionSetupCnt > 0 ? static_cast<size_t>(OptionInfo.SessionSetupCnt) : 0;
}

// The first free row; a full table is emptied and row 0 is taken.
size_t FreeSessionRow(size_t rows) {
  for (size_t i = 0; i < rows; ++i)
    if (SessionSetup[i].Flg == kSlotFree) return i;
  QVX_KLOG(
      "QVX_E41-001 QVX_SmbSessionSetupAndx[%d][%ld] : "
      "SessionSetup管理の空き領域がありません。\r\n");
  if (QVX_TraceLevel(8))
    for (size_t i = 0; i < rows; ++i)
      QVX_KLOG("QVX_E41-001 QVX_SmbSessionSetupAndx[%d][%ld] : SessionSetup[%d].Flg = %d\r\n",
               static_cast<int>(i), static_cast<int>(SessionSetup[i].Flg));
  std::memset(SessionSetup, 0, rows * sizeof(SessionSetupSt));
  QVX_KLOG(
      "QVX_I41-001 QVX_SmbSessionSetupAndx[%d][%ld] : SessionSetup管理領域をクリアしました。\r\n");
  if (QVX_TraceLevel(8))
    for (size_t i = 0; i < rows; ++i)
      QVX_KLOG("QVX_E41-001 QVX_SmbSessionSetupAndx[%d][%ld] : (CLS) SessionSetup[%d].Flg = %d\r\n",
               static_cast<int>(i), static_cast<int>(SessionSetup[i].Flg));
  return 0;
}

}  // namespace

int QVX_SmbSessionSetupAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  char client[32], server[32];
  QVX_FrameSrcAddr(recvData, client, sizeof client);
  QVX_FrameDstAddr(recvData, server, sizeof server);
  // Every length below is compared with the bytes really received, before anything is read.
  if (SMB_Total_Packet_Size < 1) return 10;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (at >= Len) return 10;
  // Without extended security the name sits elsewhere; such log-ons are not decoded.
  if (recvData[at] != kSetupWords) return 0;
  if (Len - at < kSetupBlock) return 10;
  const unsigned long L = Get16(recvData + at + 15);
  if (Len - at - kSetupBlock < L) return 10;
  const unsigned char* blob = recvData + at + kSetupBlock;
  QVX_DBG();

  // The SPNEGO wrapping is not parsed: the NTLMSSP signature is searched for.
  unsigned long p = 0;
  bool hit = false;
  for (; L >= 8 && p + 8 <= L; ++p) {
    if (std::memcmp(blob + p, "NTLMSSP", 7) == 0) {
      hit = true;
      break;
    }
  }
  if (!hit) return 0;
  // A NEGOTIATE or CHALLENGE message is too short to carry a user name.
  if (L - p <= kNtlmsspHead) return 10;
  const unsigned char* msg = blob + p;
  const unsigned long n = Get16(msg + 36);
  const unsigned long o = Get16(msg + 40);
  if (n == 0) return 0;  // anonymous
  // The name lies inside the blob; one that ends on its last byte is whole.
  if (o > L - p || n > L - p - o) return 10;

  // Whole units only, at most as many as a row's name holds.
  size_t units = n / 2;
  if (units > kUserNameUnits) units = kUserNameUnits;
  std::vector<unsigned char> wide(units * 2 + 2, 0);
  std::memcpy(wide.data(), msg + o, units * 2);
  char name[1024] = {};
  const int rc = QVX_WideToAnsi(wide.data(), units, name, sizeof name);
  if (rc == 0) {
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D41-001 QVX_SmbSessionSetupAndx[%d][%ld] : WideCharToMultiByte "
                "SetupSession_UserName %s \r\n",
                __LINE__, platform().LastError(), name);
    return 10;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D04-005 QVX_SmbSessionSetupAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
  QVX_TextUpper(name);

  const size_t rows = SessionRows();
  if (SessionSetup == nullptr || rows == 0) return 0;
  const SMB_HEADER_ST& h = *SMB_HEADER;
  for (size_t i = 0; i < rows; ++i) {
    const SessionSetupSt& s = SessionSetup[i];
    if (s.Tid == h.TID && s.Pid == h.PIDLow && s.Uid == h.UID && s.Mid == h.MID &&
        std::strcmp(s.src_addr, client) == 0 && std::strcmp(s.dst_addr, server) == 0 &&
        std::strcmp(s.Login_Name, name) == 0)
      return 0;  // the same request seen again
  }
  SessionSetupSt& s = SessionSetup[FreeSessionRow(rows)];
  s.Flg = kSlotWaiting;
  s.Tid = h.TID;
  s.Pid = h.PIDLow;
  s.Uid = h.UID;
  s.Mid = h.MID;
  CopyText(s.src_addr, client);
  CopyText(s.dst_addr, server);
  CopyText(s.Login_Name, name);
  QVX_DBG();
  return 0;
}

int QVX_SmbSessionSetupAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int SetupSessionMax, DATA* data) {
  QVX_DBG();
  char client[32], server[32];
  QVX_FrameDstAddr(recvData, client, sizeof client);
  QVX_FrameSrcAddr(recvData, server, sizeof server);
  if (SessionSetup == nullptr) return 10;
  const size_t rows = SessionRows();
  const size_t max = SetupSessionMax > 0 && static_cast<size_t>(SetupSessionMax) < rows
                         ? static_cast<size_t>(SetupSessionMax)
                         : rows;
  const SMB_HEADER_ST& h = *SMB_HEADER;
  SessionSetupSt* s = nullptr;
  for (size_t i = 0; i < max && s == nullptr; ++i) {
    SessionSetupSt& r = SessionSetup[i];
    if (std::strcmp(r.src_addr, client) == 0 && r.Flg == kSlotWaiting && r.Pid == h.PIDLow) s = &r;
  }
  if (s == nullptr) return 10;
  s->Flg = kSlotBound;
  s->Uid = h.UID;
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  if (data->ctx->sinks->WantRecords()) {
    const LocalTime now = data->ctx->platform->Now();
    char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
    AddHostName(server, server_text, data->ctx->options.HostName, 0);
    AddHostName(client, client_text, data->ctx->options.HostName, 0);
    char ids[96];
    std::snprintf(ids, sizeof ids, "[T:%d P:%d U:%d M:%d]", h.TID, h.PIDLow, h.UID, h.MID);
    AccessEvent e;
    e.when = now;
    e.action = "session";
    e.user = s->Login_Name;
    e.client = client_text;
    e.server = server_text;
    // The answer travels from the server: its MAC texts are the other way round.
    e.client_mac = data->ServerMac;
    e.server_mac = data->ClientMac;
    e.command = cmd.Name;
    e.info = cmd.Description;
    e.path_detail = ids;
    e.to_list = false;
    QVX_Emit(*data->ctx, e);
  }
  QVX_DBG();
  return 0;
}

}  // namespace qvx
