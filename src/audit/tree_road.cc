#include "audit/tree_road.h"

#include <cstdio>
#include <cstring>

#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/tree_records.h"
#include "base/dbglog.h"
#include "filters/exclusion.h"
#include "tracking/session_tree.h"
#include "tracking/tree_id.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// MessageId or SessionId as the lines print it: the 8 bytes from the last to the first, each
// in lower-case hex without leading zeros.
void IdText(const unsigned char* id, char* out, size_t size) {
  std::snprintf(out, size, "%x%x%x%x%x%x%x%x", id[7], id[6], id[5], id[4], id[3], id[2], id[1],
                id[0]);
}

// The identifiers after the share path: SMB1 "[T:%d P:%d U:%d M:%d]", SMB2 "[T:%d C:%s S:%s]"
// (the tree's TreeId and the MessageId and SessionId of its connect request).
void IdsText(int version, const TreeConnectSt& t, char* out, size_t size) {
  if (version == 1) {
    QVX_TreeIdsText(t, out, size);
    return;
  }
  char c_id[24], s_id[24];
  IdText(t.MessageId, c_id, sizeof c_id);
  IdText(t.SessionId, s_id, sizeof s_id);
  std::snprintf(out, size, "[T:%u C:%s S:%s]", static_cast<unsigned>(t.Tid), c_id, s_id);
}

}  // namespace

int QVX_AuditTreeConnect(const TreeRequest& r, DATA* data) {
  // Named pipes and oddities in the share's name; the pipe list itself is for file names only.
  // The server part may hold colons: an IPv6 address.
  const char* share = QVX_TreePathShare(r.path);
  if (QVX_NameFiltered(*data->ctx, share[0] != '\0' ? share : r.path, false)) return 10;
  const int slot = QVX_TakeTreeSlot(*data->ctx, r.TreeConnectMax, r.routine, r.area);
  if (slot < 0) return 10;
  const LocalTime now = data->ctx->platform->Now();
  QVX_PendingTree(slot, r.path, data);
  TreeConnectSt& t = data->ctx->tables->tree(slot);
  t.Tid = r.tree_id;
  if (r.version == 1) {
    t.Pid = r.pid;
    t.Uid = r.uid;
    t.Mid = r.mid;
  } else {
    std::memcpy(t.MessageId, r.message_id, sizeof t.MessageId);
    std::memcpy(t.SessionId, r.session_id, sizeof t.SessionId);
  }
  // The user of the request's own log-on: one connection may carry several.
  QVX_TreeUserNameSet(QVX_UserSources(*data->ctx), &t, 0, *data->ctx->tracker);
  // An excluded share keeps its pending slot so that the answer still binds it.
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;

  const CommandTexts cmd = QVX_CommandTexts(r.version, data->SMBCmdListFlg, data->SMBCommand);
  char wait[32], ids[96];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  IdsText(r.version, t, ids, sizeof ids);
  QVX_TreeLine(*data->ctx, now, "login", wait, t, data->ClientMac, data->ServerMac, cmd.name,
               cmd.info, ids, nullptr);
  QVX_TreeRow(now, "login", wait, t, data, cmd.name, cmd.info, "");
  return 0;
}

int QVX_AuditTreeConnected(const TreeRequest& r, DATA* data) {
  const LocalTime now = data->ctx->platform->Now();
  const EndsText ends(data->ctx->ends);
  const char* server = ends.server;
  const char* client = ends.client;
  const char* client_port = ends.client_port;
  int slot = 0;
  // A refused connect binds like an accepted one. SMB1 pairs by Pid, Uid and Mid; SMB2 by the
  // MessageId and SessionId of the same connection.
  const int trees = data->ctx->options.TreeConnectCnt;
  LogonTables& tables = *data->ctx->tables;
  const int rc = r.version == 1 ? tables.BindTree(server, client, client_port, r.tree_id, r.pid,
                                                  r.uid, r.mid, &slot, trees)
                                : tables.BindTree2(server, client, client_port, r.tree_id,
                                                   r.message_id, r.session_id, &slot, trees);
  if (rc != 0) return 10;
  tables.tree(slot).Pipe = r.pipe ? 1 : 0;
  const CommandTexts cmd = QVX_CommandTexts(r.version, data->SMBCmdListFlg, data->SMBCommand);
  char ids[96];
  IdsText(r.version, tables.tree(slot), ids, sizeof ids);
  const bool written = QVX_TreeAnswerBound(
      data, slot, now, cmd.name, cmd.info, ids,
      r.version == 1
          ? nullptr
          : "QVX_D04-008 QVX_Smb2TreeConnectAndxRecv[%d][%ld] : EditBuf=%s , szListBuff=%s\r\n");
  // SMB1 reports an excluded share as a dropped answer.
  return r.version == 1 && !written ? 10 : 0;
}

int QVX_AuditTreeDisconnect(const TreeRequest& r, DATA* data) {
  const LocalTime now = data->ctx->platform->Now();
  // A tree neither known nor guessed ends without a line: a disconnect names no object.
  int slot = 0, how = 0;
  if (QVXTreeIDGetInfo(r.tree_id, r.pid, r.uid, r.mid, r.frame, "", &slot, &how, data) == 10)
    return 10;
  TreeConnectSt& t = data->ctx->tables->tree(slot);
  t.Flg = kSlotDisconnected;
  if (r.version == 1) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D21-015 QVX_SmbTreeDisConnectReq[%d][%ld] : QVX_SmbTreeDisConnectReq Tid %u\r\n",
          static_cast<unsigned>(t.Tid));
  } else {
    QVX_TreeUserNameSet(QVX_UserSources(*data->ctx), &t, 0, *data->ctx->tracker);
  }
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;
  const CommandTexts cmd = QVX_CommandTexts(r.version, data->SMBCmdListFlg, data->SMBCommand);
  // The identifiers of the connect request (zeros for a guessed tree), not this message's.
  const TreeIdText tid_text(t.Tid);
  char ids[96];
  IdsText(r.version, t, ids, sizeof ids);
  QVX_TreeLine(*data->ctx, now, "disconnect", tid_text.c_str(), t, data->ClientMac, data->ServerMac,
               cmd.name, cmd.info, ids, nullptr);
  QVX_TreeRow(now, "disconnect", tid_text.c_str(), t, data, cmd.name, cmd.info, "0");
  return 0;
}

}  // namespace qvx
