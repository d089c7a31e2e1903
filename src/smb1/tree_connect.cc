#include "smb1/tree_connect.h"

#include <cstdio>
#include <cstring>

#include "audit/file_access.h"
#include "audit/tree_road.h"
#include "base/dbglog.h"

namespace qvx {

namespace {

// WordCount to ByteCount and the byte before the path (password or alignment).
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
  // The path and the service's first byte lie in the data bytes after the password byte; a
  // count too small for any path is an empty path, never a huge copy.
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
  unsigned char wide[kWideNameSize] = {};
  std::memcpy(wide, block + kTreeConnectBlock, copy);
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
  return QVX_AuditTreeConnected(
      RequestOf(*SMB_HEADER, "QVX_SmbTreeConnectAndxRecv", "", recvData, TreeConnectMax), data);
}

int QVX_SmbTreeDisConnectReq(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                             long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  return QVX_AuditTreeDisconnect(
      RequestOf(*SMB_HEADER, "QVX_SmbTreeDisConnectReq", "", recvData, TreeConnectMax), data);
}

}  // namespace qvx
