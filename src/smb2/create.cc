#include "smb2/create.h"

#include <cstring>

#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_road.h"
#include "base/dbglog.h"

namespace qvx {

namespace {

// The fixed part of a CREATE request; the name follows it directly.
#pragma pack(push, 1)
struct SMB2_CREATE_REQUEST_ST {
  uint16_t Length;  // StructureSize
  uint8_t SecurityFlags;
  uint8_t RequestedOplockLevel;
  uint32_t ImpersonationLevel;
  unsigned char SmbCreateFlags[8];
  unsigned char Reserved[8];
  uint32_t DesiredAccess;
  uint32_t FileAttributes;
  uint32_t ShareAccess;
  uint32_t CreateDisposition;
  uint32_t CreateOptions;
  uint16_t NameOffset;
  uint16_t File_Length;  // NameLength
  uint32_t CreateContextsOffset;
  uint32_t CreateContextsLength;
};
#pragma pack(pop)
static_assert(sizeof(SMB2_CREATE_REQUEST_ST) == 56);

}  // namespace

int QVX_Smb2FileStandardInfo(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                             unsigned char* recvData, long SMB_Total_Packet_Size,
                             int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();

  // The body starts at index cursor - 1; the tests count the bytes really there, so a name that
  // ends on the frame's last byte is taken and nothing past the frame is read.
  SMB2_CREATE_REQUEST_ST req;
  if (SMB_Total_Packet_Size < 1) return 10;
  unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < sizeof req) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D31-001 QVX_Smb2FileStandardInfo[%d][%ld] : SMB2_CREATE_REQUEST_ST 固定ヘッダ "
          "サイズ不足 \r\n");
    return 10;
  }
  std::memcpy(&req, recvData + at, sizeof req);
  at += sizeof req;
  const unsigned long left = Len - at;
  const unsigned long name_length = req.File_Length;
  if (QVX_TraceLevel(6))
    QVX_KLOG(
        "QVX_D31-002 QVX_Smb2FileStandardInfo[%d][%ld] : File_Length %d , Length %d (Len - "
        "SMB_Total_Packet_Size %d)\r\n",
        static_cast<int>(name_length), static_cast<int>(req.Length), static_cast<int>(left));
  if (left < name_length) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : SMB2_CREATE_REQUEST_ST サイズオーバー "
          "(Len - SMB_Total_Packet_Size %d) \r\n",
          static_cast<int>(left));
    return 10;
  }
  if (name_length > kMaxWideName) {
    QVX_KLOG(
        "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : File_Length サイズオーバー "
        "File_Length=%d \r\n",
        static_cast<int>(name_length));
    return 10;
  }

  unsigned char wide[kWideNameSize] = {};
  std::memcpy(wide, recvData + at, name_length);
  char szAccessPathName[kAccessNameSize] = {};
  const int rc = QVX_ConvertWideName(wide, szAccessPathName, sizeof szAccessPathName);
  if (rc == 0) {
    QVX_KLOG("QVX_D31-004 QVX_Smb2FileStandardInfo[%d][%ld] : WideCharToMultiByte rc=%d\r\n", 0);
    QVX_KLOG(
        "QVX_D31-004 QVX_Smb2FileStandardInfo[%d][%ld] : WideCharToMultiByte　szAccessPathName "
        "%s\r\n",
        szAccessPathName);
    return 10;
  }
  if (QVX_TraceLevel(6)) {
    QVX_KLOG("QVX_D31-004 QVX_Smb2FileStandardInfo[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
    QVX_KLOG("QVX_D31-004 QVX_Smb2FileStandardInfo[%d][%ld] : szAccessPathName=%s\r\n",
             szAccessPathName);
  }

  // The request record; the audit step takes it from here.
  OpenRequest r;
  r.version = 2;
  r.routine = "QVX_Smb2FileStandardInfo";
  r.tree_id = QVX_Smb2TreeId(SMB2_HEADER);
  r.session_id = QVX_Smb2SessionId(SMB2_HEADER);
  r.name = szAccessPathName;
  r.desired = req.DesiredAccess;
  r.disposition = req.CreateDisposition;
  r.options = req.CreateOptions;
  r.frame = recvData;
  r.now = now;
  return QVX_AuditOpen(r, data);
}

}  // namespace qvx
