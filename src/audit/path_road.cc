#include "audit/path_road.h"

#include <cstdio>

#include "audit/answer.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/verdict.h"
#include "filters/exclusion.h"
#include "tracking/request_path.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// The tree of the request and the call every line of it shares. 10 when the request is dropped.
int FindTree(const PathRequest& r, const char* name, DATA* data, FileAccessCall* c, int* slot) {
  int how = 0;
  if (QVXTreeIDGetInfo(r.tid, r.pid, r.uid, r.mid, r.frame, name, slot, &how, data) == 10)
    return 10;
  if (QVX_TreeIsIpc(*data->ctx, *slot)) return 10;
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  c->routine = r.routine;
  c->tree_id = r.tid;
  c->uid = r.uid;
  c->recvData = r.frame;
  c->name = name;
  c->cmd = cmd.Name;
  c->info = cmd.Description;
  c->now = data->ctx->platform->Now();
  c->data = data;
  c->every_time = true;  // a rename or a removal is logged each time it is seen
  if (how == kTreeGuessed && QVX_CompleteWaitRow(*c, *slot, true) == 10) return 10;
  return 0;
}

// The local path of a share-relative name (inside: QVX_ResolveAccessName kept it in the share):
// the tree's folder joined with it. A tree whose folder no open has set yet takes it from its
// share; without one the name stays as sent. A name leaving the share is never joined: it reads
// as the outside-share mark and the name as sent.
void LocalPath(const FileAccessCall& c, int slot, const char* name, bool inside, char* out,
               size_t size) {
  const TreeConnectSt& t = c.ctx().tables->tree(slot);
  if (t.ShareLocalPath[0] == '\0') {
    FileAccessCall probe = c;
    probe.name = name;
    probe.outside = !inside;
    probe.share_trace = false;
    if (QVX_MapTreeShare(probe, slot, out, size, LocalPathForm::kWithoutSeparator)) return;
  } else if (inside) {
    if (QVX_JoinSharePath(t.ShareLocalPath, name, out, size))
      QVX_SpellAsOnDisk(c.ctx(), t.ShareLocalPath, out, size);
    return;
  }
  std::snprintf(out, size, "%s%s", inside ? "" : kOutsideShareMark, name);
}

// The line of the command on path: what the server answered, else what the command does (its
// SMB Info the words of what it changed, when it has them).
int Record(const FileAccessCall& c, int slot, const char* path, const PathRequest& r,
           const AnswerFacts* answer) {
  if (answer && !answer->Ok()) return QVX_DeniedRecord(c, slot, path, r.verdict, answer->status);
  FileAccessCall told = c;
  if (r.info) told.info = r.info;
  QVX_AccessRecord(told, slot, path, 0, QVX_OperationText(r.verdict));
  return 0;
}

}  // namespace

int QVX_AuditPathCommand(const PathRequest& r, DATA* data) {
  const bool inside = QVX_ResolveAccessName(r.name, kAccessNameSize);
  const bool new_inside = r.new_name ? QVX_ResolveAccessName(r.new_name, kAccessNameSize) : true;
  const AnswerFacts* answer = data->ctx->answer;
  if (answer && !answer->Ok() && QVX_RefusalSilent(r.routine, r.name, answer->status)) return 0;

  FileAccessCall c;
  int slot = 0;
  if (r.new_name == nullptr) {
    if (FindTree(r, r.name, data, &c, &slot) == 10) return 10;
    c.outside = !inside;
    char full[kAccessPathSize];
    LocalPath(c, slot, r.name, inside, full, sizeof full);
    if (QVX_ExclusionInfoChk(full, 0) != 0) return 10;
    return Record(c, slot, full, r, answer);
  }
  // A rename (a link, a copy) names both sides: "old >> new", as sent and as local paths.
  char both[2 * kAccessNameSize + 8];
  std::snprintf(both, sizeof both, "%s >> %s", r.name, r.new_name);
  if (FindTree(r, both, data, &c, &slot) == 10) return 10;
  c.outside = !inside || !new_inside;
  // A copy to another tree finds the new name there.
  int new_slot = slot;
  if (r.new_tid != 0 && r.new_tid != r.tid) {
    int how = 0;
    if (QVXTreeIDGetInfo(r.new_tid, r.pid, r.uid, r.mid, r.frame, r.new_name, &new_slot, &how,
                         data) == 10)
      return 10;
  }
  char old_full[kAccessPathSize], new_full[kAccessPathSize];
  LocalPath(c, slot, r.name, inside, old_full, sizeof old_full);
  LocalPath(c, new_slot, r.new_name, new_inside, new_full, sizeof new_full);
  if (QVX_ExclusionInfoChk(old_full, 0) != 0) return 10;
  if (QVX_ExclusionInfoChk(new_full, 0) != 0) return 10;
  char path[2 * kAccessPathSize + 8];
  std::snprintf(path, sizeof path, "%s >> %s", old_full, new_full);
  return Record(c, slot, path, r, answer);
}

}  // namespace qvx
