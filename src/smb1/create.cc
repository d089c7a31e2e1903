#include "smb1/create.h"

#include <cstring>

#include "audit/answer.h"
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

// The parameter block, WordCount to the alignment byte before the Unicode name.
inline constexpr unsigned long kNtCreateBlock = 52;
inline constexpr unsigned kNtCreateWords = 24;

uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int QVX_SmbNtCreateAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                        long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();

  // 1. The name. The block starts at index cursor - 1; every length is compared with the bytes
  // really received, so a name that ends on the frame's last byte is taken and nothing past the
  // frame is read.
  if (SMB_Total_Packet_Size < 1) return 10;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < kNtCreateBlock) return 10;
  const unsigned char* block = recvData + at;
  if (block[0] != kNtCreateWords) return 10;
  const unsigned long name_length = block[6] | block[7] << 8;
  const uint32_t desired = Get32(block + 16);
  const uint32_t disposition = Get32(block + 36);
  const uint32_t options = Get32(block + 40);
  if (name_length > kMaxWideName) {
    QVX_KLOG(
        "QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : NT_CREATE_ANDHEADER.NameLengthサイズエラー "
        "NameLength=%d\r\n",
        static_cast<int>(name_length));
    return 10;
  }
  if (name_length > Len - at - kNtCreateBlock) return 10;
  unsigned char wide[kWideNameSize] = {};
  std::memcpy(wide, block + kNtCreateBlock, name_length);
  char name[kAccessNameSize] = {};
  const int rc = QVX_ConvertWideName(wide, name, sizeof name);
  if (rc == 0) {
    QVX_KLOG("QVX_D41-001 QVX_SmbNtCreateAndx[%d][%ld] : WideCharToMultiByte sBuffer %s \r\n",
             name);
    return 10;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
  const bool inside = QVX_ResolveAccessName(name, sizeof name);
  if (name[0] == '\0') return 10;
  // Streams, wildcards, pipes and the share root are not file accesses worth a line.
  if (QVX_NameFiltered(*data->ctx, name, true)) return 10;
  // The server's answer, when seen, says what the open did; a refusal that is not about rights is
  // no access at all.
  const AnswerFacts* answer = QVX_RequestAnswer();
  if (answer && !answer->Ok() && QVX_RefusalSilent("QVX_SmbNtCreateAndx", name, answer->status))
    return 0;

  // 2. The tree. No pause here: the capture loop hands an NT Create on once the server answered
  // it (or 10 ms of capture time passed), so the server has finished the open before the look-up.
  const SMB_HEADER_ST& h = *SMB_HEADER;
  int slot = 0, how = 0;
  const int found =
      QVXTreeIDGetInfo(h.TID, h.PIDLow, h.UID, h.MID, recvData, name, &slot, &how, data);
  if (found == 10) return 10;
  if (QVX_TreeIsIpc(slot)) return 10;
  if (QVX_TraceLevel(6))
    QVX_KLOG(
        "QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : QVXTreeIDGetInfo nRet=%d : nTreeIDChk=%d\r\n",
        found, how);
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  FileAccessCall c;
  c.routine = "QVX_SmbNtCreateAndx";
  c.tree_id = h.TID;
  c.uid = h.UID;
  c.recvData = recvData;
  c.name = name;
  c.cmd = cmd.Name;
  c.info = cmd.Description;
  c.now = now;
  c.data = data;
  c.share_trace = true;
  c.outside = !inside;

  // 3. A tree guessed just now may still own the "WAIT" row of its connect request.
  if (how == kTreeGuessed && QVX_CompleteWaitRow(c, slot, true) == 10) return 10;

  // 4. The share's folder on this server.
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : SharePathName Len = %d\r\n",
             static_cast<int>(std::strlen(TreeConnect[slot].SharePath)));
  char full[kAccessPathSize];
  if (!QVX_MapTreeShare(c, slot, full, sizeof full, LocalPathForm::kWithoutSeparator))
    return QVX_UnknownShareRecord(c);
  if (QVX_ExclusionInfoChk(full, 0) != 0) return 10;
  if (answer && !answer->Ok())
    return QVX_RefusedOpenRecord(c, slot, full, desired, disposition, answer->status);
  if (answer && answer->open)
    return QVX_AnsweredOpenRecord(c, slot, full, desired, options,
                                  QVX_OpenFileKeyOf(recvData, 1, 0, 0, answer->file_id[1]),
                                  *answer);
  // 5. What was done, and 6./7. the record unless it repeats a recent one.
  uint64_t size = 0;
  int kind = kKindNone;
  const OpenVerdict v = QVX_JudgeOpen(c, slot, full, desired, options, &size, &kind);
  if (QVX_TraceLevel(6) && !c.outside) {
    QVX_KLOG(
        "QVX_D31-002 QVX_SmbNtCreateAndx[%d][%ld] : QVX_ACCESS_KIND_SMB - QVX_ACCESS_KIND_BLEND "
        "nAccessInfo %d \r\n",
        v.smb);
    QVX_KLOG(
        "QVX_D31-003 QVX_SmbNtCreateAndx[%d][%ld] : QVX_ACCESS_KIND_API - QVX_ACCESS_KIND_BLEND "
        "nAccessInfo %d \r\n",
        v.api);
    QVX_KLOG("QVX_D31-004 QVX_SmbNtCreateAndx[%d][%ld] : QVX_ACCESS_KIND_BLEND nAccessInfo %d \r\n",
             v.verdict);
  }
  return QVX_AccessRecord(c, slot, full, size, QVX_OperationText(v.verdict));
}

}  // namespace qvx
