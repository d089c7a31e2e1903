#include "audit/other_access.h"

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

// The longest full path of each version, with its terminator.
inline constexpr size_t kSmb2FullPathSize = 6145;
inline constexpr size_t kSmb1FullPathSize = 4097;

void Trace(const OtherCmdFrame& f, int line, const char* id, const char* text) {
  DiagLogLine(DiagLog::kKernel, 1, "%s %s[%d][%ld] : %s\r\n", id, f.routine, line,
              f.data->ctx->platform->LastError(), text);
}

// Whether the last component of a wide (UTF-16LE, terminated) path holds a wildcard: "*", "?",
// or the DOS forms "<", ">", '"'. Judged before the conversion, which may turn a character the
// code page lacks into "?".
bool SearchPattern(const unsigned char* wide, size_t size) {
  bool wild = false;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const unsigned unit = wide[i] | wide[i + 1] << 8;
    if (unit == 0) break;
    if (unit == '\\') wild = false;
    if (unit == '*' || unit == '?' || unit == '<' || unit == '>' || unit == '"') wild = true;
  }
  return wild;
}

// Cuts the last component of a converted path, leaving the folder searched.
void CutLastComponent(char* name) {
  char* last = std::strrchr(name, '\\');
  if (last)
    *last = '\0';
  else
    name[0] = '\0';
}

}  // namespace

bool QVX_FindBodyPath(const unsigned char* recvData, unsigned long Len, unsigned long start,
                      unsigned char* wide, unsigned long wide_size) {
  unsigned long p = start;
  // A backslash, its zero high byte and a non-zero next byte, all inside the frame.
  while (p + 2 < Len && !(recvData[p] == 0x5C && recvData[p + 1] == 0 && recvData[p + 2] != 0)) ++p;
  if (p + 2 >= Len || wide_size < 2) return false;
  // Whole units only, and one unit of the buffer kept for the terminating zero.
  unsigned long n = 0;
  for (unsigned long q = p; q + 1 < Len && n + 2 < wide_size; q += 2, n += 2) {
    if (recvData[q] == 0 && recvData[q + 1] == 0) break;
    wide[n] = recvData[q];
    wide[n + 1] = recvData[q + 1];
  }
  wide[n] = 0;
  wide[n + 1] = 0;
  return true;
}

int QVX_OtherCmdAccess(const OtherCmdFrame& f) {
  QVX_DBG();
  DATA* data = f.data;
  Platform& os = *data->ctx->platform;
  const LocalTime now = os.Now();

  unsigned char wide[kWideNameSize] = {};
  if (f.name_wide)
    std::memcpy(wide, f.name_wide, sizeof wide);
  else if (!QVX_FindBodyPath(f.recvData, f.end != 0 && f.end < f.Len ? f.end : f.Len, f.body, wide,
                             sizeof wide))
    return 10;
  char name[kAccessNameSize] = {};
  const int rc = QVX_ConvertWideName(wide, name, sizeof name);
  if (rc == 0) {
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D41-001 %s[%d][%ld] : WideCharToMultiByte Packet_Data %s \r\n", f.routine,
                __LINE__, os.LastError(), name);
    return 10;
  }
  if (QVX_TraceLevel(6))
    DiagLogLine(DiagLog::kKernel, 1, "QVX_D17-001 %s[%d][%ld] : WideCharToMultiByte rc=%d\r\n",
                f.routine, __LINE__, os.LastError(), rc);
  // A search pattern (an SMB1 listing: "\\dir\\*") reads the folder it lists.
  const bool listing = SearchPattern(wide, sizeof wide);
  if (f.search && !listing) return 10;
  if (listing) CutLastComponent(name);
  if (listing && (name[0] == '\0' || std::strcmp(name, "\\") == 0)) return 10;
  const bool inside = QVX_ResolveAccessName(name, sizeof name);
  if (QVX_NameFiltered(*data->ctx, name, true)) return 10;
  // A refusal that is not about the user's rights is no access at all.
  const AnswerFacts* answer = data->ctx->answer;
  if (answer && !answer->Ok() && QVX_RefusalSilent(f.routine, name, answer->status)) return 0;

  // Requests the capture loop holds reach here once the server answered them.
  int slot = 0, how = 0;
  const int found =
      QVXTreeIDGetInfo(f.tid, f.pid, f.uid, f.mid, f.recvData, name, &slot, &how, data);
  if (found == 10) return 10;
  if (QVX_TreeIsIpc(*data->ctx, slot)) return 10;
  if (QVX_TraceLevel(6))
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D51-001 %s[%d][%ld] : QVXTreeIDGetInfo nRet=%d : nTreeIDChk=%d\r\n", f.routine,
                __LINE__, os.LastError(), found, how);

  FileAccessCall c;
  c.routine = f.routine;
  c.tree_id = f.tid;
  c.uid = f.uid;
  c.recvData = f.recvData;
  c.name = name;
  c.now = now;
  c.data = data;
  c.share_trace = true;
  c.outside = !inside;
  const CommandTexts cmd = QVX_CommandTexts(f.version, data->SMBCmdListFlg, data->SMBCommand);
  c.cmd = cmd.name;
  c.info = cmd.info;
  if (how == kTreeGuessed && QVX_CompleteWaitRow(c, slot, true) == 10) return 10;

  char full[kSmb2FullPathSize];
  const size_t full_size = f.version == 1 ? kSmb1FullPathSize : kSmb2FullPathSize;
  const LocalPathForm form =
      f.version == 1 ? LocalPathForm::kWithoutSeparator : LocalPathForm::kAsListed;
  if (!QVX_MapTreeShare(c, slot, full, full_size, form)) return QVX_UnknownShareRecord(c);
  if (QVX_ExclusionInfoChk(full, 0) != 0) {
    if (QVX_TraceLevel(6)) Trace(f, __LINE__, "QVX_D51-001", "ExclusionInfoNonRcv 収集しない");
    return 10;
  }
  // Refused for the user's rights: what is left on this road only reads.
  if (answer && !answer->Ok()) return QVX_DeniedRecord(c, slot, full, kVerdictRead, answer->status);
  // Nothing outside the share is looked at; there is no mask to judge by.
  if (c.outside) return QVX_AccessRecord(c, slot, full, 0, QVX_OperationText(kVerdictNone));
  if (listing) return QVX_AccessRecord(c, slot, full, 0, QVX_OperationText(kVerdictRead));

  const bool del_off = data->ctx->options.smb1_com_other_del_off == 1;
  uint64_t size = 0;
  int kind = kKindNone;
  if (QVX_CheckExistFileOrFolder(full, &kind) == 1 && FileSizeInfo(full, &size) != kSizeOk) {
    size = 0;
    // SMB2: an object that exists but cannot be read is left out.
    if (f.version == 2 && del_off) {
      if (QVX_TraceLevel(6))
        Trace(f, __LINE__, "QVX_D51-001", "smb1_com_write_andx_off 収集しない");
      return 10;
    }
  }
  // No access mask here: the time stamps alone judge (nothing in the mask-only mode).
  const int time_class =
      QVX_TimeStampsJudge(data->ctx->access_kind)
          ? QVXAccessChkToTreeIDPathChg(full, name, static_cast<time_t>(now.t), slot, data,
                                        data->ctx->options.TreeConnectCnt)
          : 0;
  const OpenVerdict v = QVX_OpenVerdict(data->ctx->access_kind, 0, 0, kind, time_class);
  const int index = QVX_OperationIndex(v.verdict);
  // SMB1: an object the time stamps say is gone is left out.
  if (f.version == 1 && del_off && index == QVX_OperationIndex(kVerdictGone)) {
    if (QVX_TraceLevel(6)) Trace(f, __LINE__, "QVX_D51-001", "smb1_com_write_andx_off 収集しない");
    return 10;
  }
  return QVX_AccessRecord(c, slot, full, size, QVX_OperationText(v.verdict));
}

}  // namespace qvx
