#include "audit/open_road.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "audit/answer.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/unseen_handles.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "filters/exclusion.h"
#include "serverinfo/server_info.h"
#include "tracking/request_path.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// The traces of the verdict without an answer, as each version's handler has always written
// them.
void TraceVerdict(const OpenRequest& r, const FileAccessCall& c, const OpenVerdict& v, int kind) {
  if (!QVX_TraceLevel(6) || c.outside) return;
  if (r.version == 1) {
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
    return;
  }
  QVX_KLOG(
      "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : QVX_ACCESS_KIND_SMB - "
      "QVX_ACCESS_KIND_BLEND nAccessInfo %d \r\n",
      v.smb);
  QVX_KLOG(
      "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : QVX_ACCESS_KIND_API - "
      "QVX_ACCESS_KIND_BLEND nAccessInfo %d \r\n",
      v.api);
  if (c.ctx().access_kind == QVX_ACCESS_KIND_BLEND)
    QVX_KLOG(
        "QVX_D31-003 QVX_Smb2FileStandardInfo[%d][%ld] : QVX_ACCESS_KIND_BLEND nAccessInfo %d "
        ", "
        "nOutFileOrFolder %d\r\n",
        v.verdict, kind);
}

}  // namespace

int QVX_AuditOpen(const OpenRequest& r, DATA* data) {
  const bool smb1 = r.version == 1;
  char* name = r.name;
  // 1. The name within the share. The share root itself, streams, wildcards and pipes are not
  // file accesses worth a line.
  const bool inside = QVX_ResolveAccessName(name, kAccessNameSize);
  if (name[0] == '\0') return 10;
  if (QVX_NameFiltered(*data->ctx, name, true)) return 10;
  // The server's answer, when it was seen, says what the open did. A refusal that is not about
  // the user's rights (no such name, a name collision, a sharing violation) is no access at all
  // and is not worth guessing a tree for.
  const AnswerFacts* answer = data->ctx->answer;
  if (answer && !answer->Ok() && QVX_RefusalSilent(r.routine, name, answer->status)) return 0;
  // A named pipe, whatever it is called and whether or not its tree's connect was seen.
  if (answer && answer->pipe) return 10;

  // 2. The tree. No pause here: the capture loop hands an open on once the server answered it
  // (or 10 ms of capture time passed), so the server has finished the open before the look-up.
  int slot = 0, how = 0;
  const int found =
      QVXTreeIDGetInfo(r.tree_id, r.pid, r.uid, r.mid, r.frame, name, &slot, &how, data);
  if (found == 10) return 10;
  if (QVX_TreeIsIpc(*data->ctx, slot)) return 10;
  if (smb1 && QVX_TraceLevel(6))
    QVX_KLOG(
        "QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : QVXTreeIDGetInfo nRet=%d : nTreeIDChk=%d\r\n",
        found, how);
  FileAccessCall c;
  const CommandTexts cmd = QVX_CommandTexts(r.version, data->SMBCmdListFlg, data->SMBCommand);
  c.cmd = cmd.name;
  c.info = cmd.info;
  c.routine = r.routine;
  c.tree_id = r.tree_id;
  c.uid = r.uid;
  c.recvData = r.frame;
  c.name = name;
  c.now = r.now;
  c.data = data;
  c.share_trace = smb1;
  c.outside = !inside;

  // 3. A tree guessed just now may still own the "WAIT" row of its connect request. SMB1 lets
  // an excluded share stop the access there.
  if (how == kTreeGuessed && QVX_CompleteWaitRow(c, slot, smb1) == 10) return 10;

  // 4. The share's folder on this server.
  if (smb1 && QVX_TraceLevel(6))
    QVX_KLOG("QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : SharePathName Len = %d\r\n",
             static_cast<int>(std::strlen(c.ctx().tables->tree(slot).SharePath)));
  char full[kAccessPathSize];
  if (!QVX_MapTreeShare(c, slot, full, sizeof full,
                        smb1 ? LocalPathForm::kWithoutSeparator : LocalPathForm::kWithSeparator))
    return QVX_UnknownShareRecord(c);
  if (QVX_ExclusionInfoChk(full, 0) != 0) return 10;

  // 5. What was done: the answer says it; without one the mask and the object on this server
  // judge. 6. The record unless it repeats a recent one.
  if (answer && !answer->Ok())
    return QVX_RefusedOpenRecord(c, slot, full, r.desired, r.disposition, answer->status);
  if (answer && answer->open) {
    const OpenFileKey key = smb1 ? QVX_OpenFileKeyOf(c.ctx().ends, 1, 0, 0, answer->file_id[1])
                                 : QVX_OpenFileKeyOf(c.ctx().ends, 2, r.session_id,
                                                     answer->file_id[0], answer->file_id[1]);
    return QVX_AnsweredOpenRecord(c, slot, full, r.desired, r.options, key, *answer);
  }
  uint64_t size = 0;
  int kind = kKindNone;
  const OpenVerdict v = QVX_JudgeOpen(c, slot, full, r.desired, r.options, &size, &kind);
  TraceVerdict(r, c, v, kind);
  return QVX_AccessRecord(c, slot, full, size, QVX_OperationText(v.verdict));
}

namespace {

// The "old >> new" line of a rename or hard link through f to the local path full.
int TargetLine(OpenFile* f, int verdict, const char* full, const char* cmd, const char* info,
               DATA* data) {
  if (QVX_ExclusionInfoChk(f->facts.path.c_str(), 0) != 0 && QVX_ExclusionInfoChk(full, 0) != 0)
    return 0;
  AccessFacts a = f->facts;
  a.now = data->ctx->platform->Now();
  a.path = f->facts.path + " >> " + full;
  a.size = 0;
  a.cmd = cmd;
  a.info = info;
  f->told = true;
  if (verdict != kVerdictRenamed) {
    QVX_WriteAccess(*data->ctx, a, "access", QVX_OperationText(verdict), true);
    return 0;
  }
  // What was written under the old name is told under it, before the rename (a client that
  // writes and renames in one compound); what follows is told at the close, under the new name.
  if (f->parked && f->written && !f->delete_pending) {
    AccessFacts w = f->facts;
    w.now = a.now;
    QVX_WriteAccess(*data->ctx, w, "access",
                    QVX_OperationText(f->verdict == kVerdictRead ? kVerdictWritten : f->verdict),
                    true);
    f->written = false;
    f->verdict = kVerdictRead;
  }
  QVX_WriteAccess(*data->ctx, a, "access", QVX_OperationText(kVerdictRenamed), true);
  // Later lines of the handle name the file by its new name.
  f->facts.path = full;
  f->renamed = true;
  return 0;
}

// The local path of a bare name in the folder of the local path path; false when name is no
// plain name there (a separator, "." or "..") or path names no folder of this server.
bool InFolder(const std::string& path, const char* name, char* full, size_t size) {
  if (name[0] == '\0' || std::strpbrk(name, "\\/") != nullptr) return false;
  char resolved[kAccessNameSize];
  if (!QVX_ResolveRequestName(name, resolved, sizeof resolved) || std::strcmp(resolved, name) != 0)
    return false;
  const size_t sep = path.rfind(kPathSep);
  // A handle opened before capture that no server named has no folder to tell.
  if (sep == std::string::npos || path.rfind(kOutsideShareMark, 0) == 0 ||
      path.find(kOpenedBeforeCaptureMark) != std::string::npos)
    return false;
  return std::snprintf(full, size, "%.*s%s", static_cast<int>(sep + 1), path.c_str(), name) <
         static_cast<int>(size);
}

}  // namespace

int QVX_AuditHandleTarget(OpenFile* f, int verdict, uint32_t tree_id, char* target,
                          const unsigned char* frame, const char* cmd, const char* info,
                          DATA* data) {
  const bool inside = QVX_ResolveAccessName(target, kAccessNameSize);
  const char* bare = target[0] == '\\' ? target + 1 : target;
  int slot = 0, how = 0;
  FileAccessCall c;
  c.routine = f->facts.routine.c_str();
  c.tree_id = tree_id;
  c.recvData = frame;
  c.name = bare;
  c.data = data;
  c.outside = !inside;
  char full[kAccessPathSize];
  if (f->adopted) {
    // The handle's own line says it all: a target whose tree no share explains is named as the
    // client sent it, with no "unknown" line of its own.
    if (QVX_TreeOfRequest(tree_id, 0, frame, bare, &slot, &how, data) != 0 ||
        !QVX_MapTreeShare(c, slot, full, sizeof full, LocalPathForm::kWithSeparator))
      std::snprintf(full, sizeof full, "%s%s", inside ? "" : kOutsideShareMark, target);
    return TargetLine(f, verdict, full, cmd, info, data);
  }
  if (QVXTreeIDGetInfo(tree_id, 0, 0, 0, frame, bare, &slot, &how, data) == 10) return 10;
  if (!QVX_MapTreeShare(c, slot, full, sizeof full, LocalPathForm::kWithSeparator)) return 10;
  return TargetLine(f, verdict, full, cmd, info, data);
}

int QVX_AuditHandleRenameInFolder(OpenFile* f, uint32_t tree_id, char* target, const char* cmd,
                                  const char* info, DATA* data) {
  char full[kAccessPathSize];
  if (InFolder(f->facts.path, target, full, sizeof full))
    return TargetLine(f, kVerdictRenamed, full, cmd, info, data);
  // The folder of a handle opened before capture that no server named is not known: the new
  // name is told as sent.
  if (f->adopted && f->facts.path.find(kOpenedBeforeCaptureMark) != std::string::npos)
    return TargetLine(f, kVerdictRenamed, target, cmd, info, data);
  return QVX_AuditHandleTarget(f, kVerdictRenamed, tree_id, target, nullptr, cmd, info, data);
}

}  // namespace qvx
