#include "smb2/create.h"

#include <cstring>

#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "filters/exclusion.h"
#include "serverinfo/server_info.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

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
  const bool inside = QVX_ResolveAccessName(szAccessPathName, sizeof szAccessPathName);
  // The share root itself, streams, wildcards and pipes are not file accesses worth a line.
  if (szAccessPathName[0] == '\0') return 10;
  if (QVX_NameFiltered(*data->ctx, szAccessPathName, true)) return 10;

  // The server's answer, when it was seen, says what the open did. A refusal that is not about
  // the user's rights (no such name, a name collision, a sharing violation) is no access at all
  // and is not worth guessing a tree for.
  const AnswerFacts* answer = QVX_RequestAnswer();
  if (answer && !answer->Ok() &&
      QVX_RefusalSilent("QVX_Smb2FileStandardInfo", szAccessPathName, answer->status))
    return 0;
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);
  // No pause here: the capture loop hands a CREATE on once the server answered it (or 10 ms of
  // capture time passed), so the server has finished the open before the look-up.
  int slot = 0, how = 0;
  if (QVXTreeIDGetInfo(tree_id, 0, 0, 0, recvData, szAccessPathName, &slot, &how, data) == 10)
    return 10;
  if (QVX_TreeIsIpc(slot)) return 10;
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);

  FileAccessCall c;
  c.routine = "QVX_Smb2FileStandardInfo";
  c.tree_id = tree_id;
  c.uid = 0;
  c.recvData = recvData;
  c.name = szAccessPathName;
  c.cmd = cmd.Name;
  c.info = cmd.Description;
  c.now = now;
  c.data = data;
  c.outside = !inside;
  if (how == kTreeGuessed) QVX_CompleteWaitRow(c, slot, false);

  char full[kAccessPathSize];
  if (!QVX_MapTreeShare(c, slot, full, sizeof full, LocalPathForm::kWithSeparator))
    return QVX_UnknownShareRecord(c);
  if (QVX_ExclusionInfoChk(full, 0) != 0) return 10;
  if (answer && !answer->Ok())
    return QVX_RefusedOpenRecord(c, slot, full, req.DesiredAccess, req.CreateDisposition,
                                 answer->status);
  if (answer && answer->open) {
    const OpenFileKey key = QVX_OpenFileKeyOf(recvData, 2, QVX_Smb2SessionId(SMB2_HEADER),
                                              answer->file_id[0], answer->file_id[1]);
    return QVX_AnsweredOpenRecord(c, slot, full, req.DesiredAccess, req.CreateOptions, key,
                                  *answer);
  }
  // No answer seen: the mask and the object on this server judge.
  uint64_t size = 0;
  int kind = kKindNone;
  const OpenVerdict v =
      QVX_JudgeOpen(c, slot, full, req.DesiredAccess, req.CreateOptions, &size, &kind);
  if (QVX_TraceLevel(6) && !c.outside) {
    QVX_KLOG(
        "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : QVX_ACCESS_KIND_SMB - "
        "QVX_ACCESS_KIND_BLEND nAccessInfo %d \r\n",
        v.smb);
    QVX_KLOG(
        "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : QVX_ACCESS_KIND_API - "
        "QVX_ACCESS_KIND_BLEND nAccessInfo %d \r\n",
        v.api);
    if (nAccessKindFlg == QVX_ACCESS_KIND_BLEND)
      QVX_KLOG(
          "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : QVX_ACCESS_KIND_BLEND nAccessInfo %d "
          ", "
          "nOutFileOrFolder %d\r\n",
          v.verdict, kind);
  }
  return QVX_AccessRecord(c, slot, full, size, QVX_OperationText(v.verdict));
}

}  // namespace qvx
