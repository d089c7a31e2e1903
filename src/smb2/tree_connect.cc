#include "smb2/tree_connect.h"

#include <cstdio>
#include <cstring>

#include "audit/file_access.h"
#include "audit/tree_road.h"
#include "base/dbglog.h"

namespace qvx {

namespace {

// The fixed part of a TREE_CONNECT request; the path follows it.
inline constexpr unsigned long kTreeConnectBody = 8;

// The record of a tree message with the ids of its header.
TreeRequest RequestOf(const SMB2_HEADER_ST& h, const char* routine, const char* path,
                      const unsigned char* recvData, int TreeConnectMax) {
  TreeRequest r;
  r.version = 2;
  r.routine = routine;
  r.area = "04";
  r.tree_id = QVX_Smb2TreeId(&h);
  r.message_id = h.MessageId;
  r.session_id = h.SessionId;
  r.path = path;
  r.frame = recvData;
  r.TreeConnectMax = TreeConnectMax;
  return r;
}

}  // namespace

int QVX_Smb2TreeConnectAndx(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  if (QVX_TraceLevel(6))
    QVX_KLOG(
        "QVX_D04-001 QVX_Smb2TreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDHEADER サイズ確認 Len %d "
        ": T %d \r\n",
        static_cast<int>(Len), static_cast<int>(SMB_Total_Packet_Size + kTreeConnectBody));
  // The body starts at index cursor - 1; every test below counts the bytes really there, so a
  // path that ends on the frame's last byte is taken and nothing past the frame is read.
  if (SMB_Total_Packet_Size < 1) return 10;
  unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < kTreeConnectBody) return 10;
  const unsigned char* body = recvData + at;
  const unsigned structure_size = body[0] | body[1] << 8;
  const unsigned long path_length = body[6] | body[7] << 8;
  at += kTreeConnectBody;
  const unsigned long left = Len - at;
  if (QVX_TraceLevel(6)) {
    QVX_KLOG(
        "QVX_D04-002 QVX_Smb2TreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDX レスポンスヘッダ "
        "Length %d \r\n",
        static_cast<int>(structure_size));
    QVX_KLOG(
        "QVX_D04-003 QVX_Smb2TreeConnectAndx[%d][%ld] : パス情報サイズ レスポンスヘッダ Length "
        "%d \r\n",
        static_cast<int>(path_length));
  }
  if (structure_size < kTreeConnectBody) return 10;
  if (path_length == 0) return 10;
  if (QVX_TraceLevel(6))
    QVX_KLOG(
        "QVX_D04-004 QVX_Smb2TreeConnectAndx[%d][%ld] : コピーサイズチェック Length %d : 残り %d "
        "\r\n",
        static_cast<int>(path_length), static_cast<int>(left));
  if (path_length > left) return 10;
  if (path_length > kMaxWideName) {
    QVX_KLOG("QVX_D04-004 QVX_Smb2TreeConnectAndx[%d][%ld] : Lengthサイズエラー Length=%d\r\n",
             static_cast<int>(path_length));
    return 10;
  }

  unsigned char wide[kWideNameSize] = {};
  std::memcpy(wide, recvData + at, path_length);
  char sShareDriveBuffer[1024] = {};
  const int rc = QVX_ConvertWideName(wide, sShareDriveBuffer, sizeof sShareDriveBuffer);
  if (rc == 0) {
    QVX_KLOG(
        "QVX_D41-001 QVX_Smb2TreeConnectAndx[%d][%ld] : WideCharToMultiByte sShareDriveBuffer "
        "%s \r\n",
        sShareDriveBuffer);
    return 10;
  }
  if (QVX_TraceLevel(6)) {
    QVX_KLOG("QVX_D04-005 QVX_Smb2TreeConnectAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
    QVX_KLOG("QVX_D04-006 QVX_Smb2TreeConnectAndx[%d][%ld] : sShareDriveBuffer %s\r\n",
             sShareDriveBuffer);
  }
  return QVX_AuditTreeConnect(RequestOf(*SMB2_HEADER, "QVX_Smb2TreeConnectAndx", sShareDriveBuffer,
                                        recvData, TreeConnectMax),
                              data);
}

int QVX_Smb2TreeConnectAndxRecv(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int TreeConnectMax, DATA* data) {
  QVX_DBG();
  TreeRequest r =
      RequestOf(*SMB2_HEADER, "QVX_Smb2TreeConnectAndxRecv", "", recvData, TreeConnectMax);
  // The answer's ShareType, after its StructureSize: 2 for a tree of named pipes.
  constexpr unsigned char kShareTypePipe = 0x02;
  const unsigned long share_type =
      SMB_Total_Packet_Size > 0 ? static_cast<unsigned long>(SMB_Total_Packet_Size) + 1 : 0;
  r.pipe = share_type > 0 && share_type < Len && recvData[share_type] == kShareTypePipe;
  return QVX_AuditTreeConnected(r, data);
}

int QVX_Smb2TreeDisConnectReq(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                              unsigned char* recvData, long SMB_Total_Packet_Size,
                              int TreeConnectMax, DATA* data) {
  QVX_DBG();
  return QVX_AuditTreeDisconnect(
      RequestOf(*SMB2_HEADER, "QVX_Smb2TreeDisConnectReq", "", recvData, TreeConnectMax), data);
}

}  // namespace qvx
