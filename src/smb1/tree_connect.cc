#include "smb1/tree_connect.h"

#include <cstdio>
#include <cstring>

#include "audit/file_access.h"
#include "audit/tree_road.h"
#include "base/dbglog.h"
#include "smb1/strings.h"

namespace qvx {

namespace {

// WordCount to ByteCount and the first data byte.
inline constexpr unsigned long kTreeConnectBlock = 12;
inline constexpr unsigned kTreeConnectWords = 4;
inline constexpr unsigned kNoAndX = 0xFF;
// The most data bytes a request may announce: its path must fit the 1024-byte wide buffer.
inline constexpr unsigned long kMaxByteCount = 1022;

// The record of a tree message with the ids of its header.
TreeRequest RequestOf(const SMB_HEADER_ST& h, const char* routine, const char* path,
                      const unsigned char* recvData, int TreeConnectMax) {
  TreeRequest r;
  r.version = 1;
  r.routine = routine;
  r.area = "41";
  r.tree_id = h.TID;
  r.pid = h.PIDLow;
  r.uid = h.UID;
  r.mid = h.MID;
  r.path = path;
  r.frame = recvData;
  r.TreeConnectMax = TreeConnectMax;
  return r;
}

}  // namespace

int QVX_SmbTreeConnectAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  // The block starts at index cursor - 1; every test counts the bytes really there.
  if (SMB_Total_Packet_Size < 1) return 10;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < kTreeConnectBlock) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDHEADER サイズ確認 "
          "Len=%d "
          "Total=%d\r\n",
          static_cast<int>(Len), static_cast<int>(SMB_Total_Packet_Size));
    return 10;
  }
  const unsigned char* block = recvData + at;
  if (block[0] != kTreeConnectWords) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDX レスポンスヘッダ "
          "%c\r\n",
          block[0]);
    return 10;
  }
  if (block[1] != kNoAndX) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDX サブコマンドヘッダ "
          "%x\r\n",
          block[1]);
    return 10;
  }
  const unsigned long B = block[9] | block[10] << 8;
  const unsigned long R = Len - at - kTreeConnectBlock;
  // The data bytes lie in the frame: a count that claims the last bytes of the service beyond
  // it is let through, a larger one is not.
  const unsigned long copy = B > 3 ? B - 3 : 0;
  if (copy > R) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : コピーサイズチェック BC=%d Total=%d\r\n",
          static_cast<int>(B) - 1, static_cast<int>(R));
    return 10;
  }
  if (B > kMaxByteCount) {
    QVX_KLOG(
        "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : ByteCount　サイズエラー ByteCount=%d "
        "Total=%d\r\n",
        static_cast<int>(B), static_cast<int>(R));
    return 10;
  }
  // The path follows the password (PasswordLength bytes; with Unicode, and a pad to an even
  // offset from the header), in the client's strings.
  const unsigned long data_at = at + kTreeConnectBlock - 1;
  const unsigned long password = block[7] | block[8] << 8;
  unsigned char wide[kWideNameSize] = {};
  // The service follows the path: the last two data bytes are never the path's.
  const unsigned long path_end = data_at + (B > 2 ? B - 2 : 0);
  if (data_at + password < path_end) {
    const Smb1Text text = QVX_Smb1TextOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size);
    QVX_Smb1ReadString(text, data_at + password, path_end, wide);
  }
  char path[1024] = {};
  const int rc = QVX_ConvertWideName(wide, path, sizeof path);
  if (rc == 0) {
    QVX_KLOG(
        "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : WideCharToMultiByte sShareDriveBuffer %s "
        "\r\n",
        path);
    return 10;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
  if (path[0] == '\0') return 10;
  return QVX_AuditTreeConnect(
      RequestOf(*SMB_HEADER, "QVX_SmbTreeConnectAndx", path, recvData, TreeConnectMax), data);
}

int QVX_SmbTreeConnectAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                               unsigned char* recvData, long SMB_Total_Packet_Size,
                               int TreeConnectMax, DATA* data) {
  QVX_DBG();
  TreeRequest r =
      RequestOf(*SMB_HEADER, "QVX_SmbTreeConnectAndxRecv", "", recvData, TreeConnectMax);
  r.pipe = QVX_Smb1AnswerServiceIsPipe(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size);
  return QVX_AuditTreeConnected(r, data);
}

bool QVX_Smb1AnswerServiceIsPipe(const SMB_HEADER_ST& h, unsigned long Len,
                                 const unsigned char* recvData, long SMB_Total_Packet_Size) {
  // The answer's data bytes start with the Service, always OEM: "IPC" for named pipes.
  if (SMB_Total_Packet_Size < 1) return false;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (at >= Len) return false;
  const unsigned long data_at = at + 1 + 2ul * recvData[at] + 2;
  if (data_at >= Len) return false;
  unsigned char wide[kWideNameSize] = {};
  QVX_Smb1ReadString(QVX_Smb1TextOf(h, Len, recvData, SMB_Total_Packet_Size), data_at, Len, wide,
                     false);
  return wide[0] == 'I' && wide[2] == 'P' && wide[4] == 'C' && wide[6] == 0 && wide[7] == 0 &&
         wide[1] == 0 && wide[3] == 0 && wide[5] == 0;
}

int QVX_SmbTreeDisConnectReq(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                             long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  return QVX_AuditTreeDisconnect(
      RequestOf(*SMB_HEADER, "QVX_SmbTreeDisConnectReq", "", recvData, TreeConnectMax), data);
}

}  // namespace qvx
