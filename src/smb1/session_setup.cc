#include "smb1/session_setup.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/logon.h"
#include "base/dbglog.h"
#include "base/text.h"
#include "platform/platform.h"
#include "smb1/strings.h"

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

// The block of a request without extended security, WordCount to ByteCount.
inline constexpr unsigned long kPlainSetupBlock = 29;
inline constexpr unsigned kPlainSetupWords = 13;
inline constexpr uint32_t kNtlmNegotiateUnicode = 0x00000001, kNtlmNegotiateOem = 0x00000002;

unsigned Get16(const unsigned char* p) { return p[0] | p[1] << 8; }

// Keeps the user name (units UTF-16 units in wide) of a log-on request, upper-cased, in a pending
// session row. 10 when the conversion fails.
int KeepUser(const SMB_HEADER_ST& h, const unsigned char* wide, size_t units, const char* client,
             const char* server, DATA* data);
int PlainSetup(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
               long cursor, const char* client, const char* server, DATA* data);

Smb1Logon LogonOf(const SMB_HEADER_ST& h, const char* client, const char* server) {
  Smb1Logon l;
  l.client = client;
  l.server = server;
  l.tid = h.TID;
  l.pid = h.PIDLow;
  l.uid = h.UID;
  l.mid = h.MID;
  return l;
}

}  // namespace

int QVX_SmbSessionSetupAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  const EndsText ends(data->ctx->ends);
  const char* client = ends.client;
  const char* server = ends.server;
  // Every length below is compared with the bytes really received, before anything is read.
  if (SMB_Total_Packet_Size < 1) return 10;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (at >= Len) return 10;
  // Without extended security the account name is a string of the data bytes.
  if (recvData[at] == kPlainSetupWords)
    return PlainSetup(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, client, server, data);
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

  // Whole units only, at most as many as a row's name holds. A log-on that did not negotiate
  // Unicode (NTLMSSP_NEGOTIATE_OEM alone) sends it in the OEM code page.
  const uint32_t flags = Get16(msg + 60) | static_cast<uint32_t>(Get16(msg + 62)) << 16;
  const bool oem = (flags & kNtlmNegotiateUnicode) == 0 && (flags & kNtlmNegotiateOem) != 0;
  size_t units = oem ? n : n / 2;
  if (units > kUserNameUnits) units = kUserNameUnits;
  std::vector<unsigned char> wide(units * 2 + 2, 0);
  if (oem)
    QVX_OemToWide(msg + o, units, wide.data(), units);
  else
    std::memcpy(wide.data(), msg + o, units * 2);
  return KeepUser(*SMB_HEADER, wide.data(), units, client, server, data);
}

namespace {

int KeepUser(const SMB_HEADER_ST& h, const unsigned char* wide, size_t units, const char* client,
             const char* server, DATA* data) {
  char name[1024] = {};
  const int rc = QVX_WideToAnsi(wide, units, name, sizeof name);
  if (rc == 0) {
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D41-001 QVX_SmbSessionSetupAndx[%d][%ld] : WideCharToMultiByte "
                "SetupSession_UserName %s \r\n",
                __LINE__, data->ctx->platform->LastError(), name);
    return 10;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D04-005 QVX_SmbSessionSetupAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
  QVX_TextUpper(name);

  Smb1Logon r = LogonOf(h, client, server);
  r.user = name;
  QVX_LogonRequested(*data->ctx, r);
  QVX_DBG();
  return 0;
}

int PlainSetup(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
               long cursor, const char* client, const char* server, DATA* data) {
  // WordCount 13: the two password lengths at 15 and 17, ByteCount at 27; the data bytes hold
  // both passwords, then AccountName and PrimaryDomain in the client's strings.
  const unsigned long at = static_cast<unsigned long>(cursor - 1);
  if (Len - at < kPlainSetupBlock) return 10;
  const unsigned long passwords = Get16(recvData + at + 15) + Get16(recvData + at + 17);
  const unsigned long bytes_at = at + kPlainSetupBlock;
  const unsigned long end = bytes_at + Get16(recvData + at + 27);
  if (end > Len || passwords >= end - bytes_at) return 10;
  unsigned char wide[kWideNameSize] = {};
  QVX_Smb1ReadString(QVX_Smb1TextOf(h, Len, recvData, cursor), bytes_at + passwords, end, wide);
  size_t units = 0;
  while (units < kUserNameUnits && (wide[2 * units] | wide[2 * units + 1]) != 0) ++units;
  if (units == 0) return 0;  // anonymous
  return KeepUser(h, wide, units, client, server, data);
}

}  // namespace

int QVX_SmbSessionSetupAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int SetupSessionMax, DATA* data) {
  QVX_DBG();
  const EndsText ends(data->ctx->ends);
  const char* client = ends.client;
  const char* server = ends.server;
  if (!QVX_LogonAnswered(*data->ctx, LogonOf(*SMB_HEADER, client, server), SetupSessionMax, data))
    return 10;
  QVX_DBG();
  return 0;
}

}  // namespace qvx
