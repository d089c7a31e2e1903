#include "audit/tree_lookup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "audit/context.h"
#include "audit/events.h"
#include "audit/tree_records.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "platform/path_match.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/request_path.h"
#include "tracking/tree_id.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// True when the candidate path under share folder counts as a hit for the guess: it exists, or
// its parent folder exists and is not the share's own folder (a file being created).
bool ShareHit(Platform& os, const char* candidate, const char* share_path) {
  if (os.FileExists(candidate)) return true;
  std::string parent = PathRemoveFileSpec(candidate);
  return parent != share_path && os.IsDirectory(parent);
}

}  // namespace

int QVXUnKnownRelated(uint32_t TreeID, const unsigned char* recvData, const char* sBuffer,
                      int* nTreeID_Connect, int* QVXTreeConnectInfoChkRet, DATA* data,
                      int TreeConnectMax) {
  QVX_DBG();
  if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = 0;
  LogonTables& tables = *data->ctx->tables;
  const ShareList& list = *data->ctx->shares;
  if (tables.trees() == nullptr || list.rows == nullptr || list.scratch == nullptr) return 10;
  const int shares = list.Valid();
  // Each local folder counts once, under its first share. Only the listed shares are looked at,
  // so only they are copied (this runs for every request on an unknown tree).
  NetWkShareInfoSt* copy = list.scratch;
  if (shares > 0) std::memcpy(copy, list.rows, sizeof(NetWkShareInfoSt) * shares);
  for (int i = 0; i < shares; ++i) {
    if (copy[i].path[0] == '\0') continue;
    for (int j = i + 1; j < shares; ++j)
      if (std::strcmp(copy[j].path, copy[i].path) == 0) copy[j].path[0] = '\0';
  }
  int hits = 0;
  int hit = -1;
  char candidate[kAccessPathSize];
  for (int i = 0; i < shares; ++i) {
    const char* folder = copy[i].path;
    if (folder[0] == '\0') continue;
    if (!QVX_JoinSharePath(folder, sBuffer, candidate, kAccessPathSize - 1)) continue;
    if (ShareHit(*data->ctx->platform, candidate, folder)) {
      ++hits;
      hit = i;
    }
  }
  if (hits != 1) return 10;
  const int slot =
      QVX_BindGuessedTree(TreeID, list.rows[hit], sBuffer, nTreeID_Connect ? *nTreeID_Connect : 0,
                          data, TreeConnectMax);
  if (nTreeID_Connect) *nTreeID_Connect = slot;
  if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = kTreeGuessed;
  QVX_DBG();
  return 0;
}

int QVX_BindGuessedTree(uint32_t TreeID, const NetWkShareInfoSt& share, const char* sBuffer,
                        int slot, DATA* data, int TreeConnectMax) {
  LogonTables& tables = *data->ctx->tables;
  if (slot <= 0 || slot >= static_cast<int>(tables.tree_count())) {
    slot = -1;
    const int n = tables.SlotsUpTo(TreeConnectMax);
    for (int i = 0; i < n; ++i) {
      if (tables.tree(i).Flg == kSlotFree) {
        slot = i;
        break;
      }
    }
    if (slot < 0) {
      QVX_KLOG("QVX_E15-001 QVXUnKnownRelated[%d][%ld] : TreeID管理の空き領域がありません。\r\n");
      tables.ClearTrees();
      QVX_KLOG("QVX_I15-001 QVXUnKnownRelated[%d][%ld] : TreeID管理領域をクリアーしました。\r\n");
      slot = 0;
    }
  }
  TreeConnectSt& t = tables.tree(slot);
  t.Tid = TreeID;
  t.Flg = kSlotBound;
  t.Guessed = 1;
  t.Pipe = 0;
  t.Login_Name[0] = '\0';  // a new tree: no user of another carries over
  tables.SlotTaken(slot);
  std::snprintf(t.ShareLocalPath, sizeof t.ShareLocalPath, "%s%s", share.path,
                (sBuffer && sBuffer[0] == '\\') ? "" : std::string(1, kPathSep).c_str());
  QVX_TreeEnds(t, data->ctx->ends);
  std::snprintf(t.SharePath, sizeof t.SharePath, "\\\\%s\\%s", t.dst_addr, share.netname);
  CopyText(t.src_mac, data->ClientMac);
  CopyText(t.dst_mac, data->ServerMac);
  return slot;
}

int QVX_TreeOfRequest(uint32_t TreeID, uint32_t Uid, const unsigned char* recvData,
                      const char* sBuffer, int* nTreeID_Connect, int* QVXTreeConnectInfoChkRet,
                      DATA* data) {
  if (sBuffer == nullptr) sBuffer = "";
  const EndsText ends(data->ctx->ends);
  // A client's tree identifiers are its own: Pid, Uid and Mid do not tell trees apart.
  if (data->ctx->tables->FindTree(ends.client, TreeID, nTreeID_Connect) == kTreeFound) {
    if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = kTreeFound;
    return 0;
  }
  int slot = 0;
  int how = 0;
  if (QVXUnKnownRelated(TreeID, recvData, sBuffer, &slot, &how, data,
                        data->ctx->options.TreeConnectCnt) != 0)
    return 10;
  if (nTreeID_Connect) *nTreeID_Connect = slot;
  if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = how;
  QVX_TreeUserNameSet(QVX_UserSources(*data->ctx), &data->ctx->tables->tree(slot), Uid,
                      *data->ctx->tracker);
  return 0;
}

int QVXTreeIDGetInfo(uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                     const unsigned char* recvData, const char* sBuffer, int* nTreeID_Connect,
                     int* QVXTreeConnectInfoChkRet, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();
  if (sBuffer == nullptr) sBuffer = "";
  if (QVX_TreeOfRequest(TreeID, Uid, recvData, sBuffer, nTreeID_Connect, QVXTreeConnectInfoChkRet,
                        data) == 0)
    return 0;

  // The tree stays unknown: say so once per repeated access.
  if (QVX_TraceLevel(2))
    QVX_KLOG(
        "QVX_E06-001 QVXTreeIDGetInfo[%d][%ld] : TreeIDと一致するデータがありません。TreeID = "
        "%u\r\n",
        static_cast<unsigned>(TreeID));
  const CommandTexts cmd =
      QVX_CommandTexts(data->SMBVersion, data->SMBCmdListFlg, data->SMBCommand);
  QVX_UnknownRecord(TreeID, recvData, sBuffer, cmd.name, cmd.info, now, data, "QVXTreeIDGetInfo");
  QVX_DBG();
  return 10;
}

bool QVX_UnknownRecord(uint32_t TreeID, const unsigned char* recvData, const char* path,
                       const char* cmd, const char* info, const LocalTime& now, DATA* data,
                       const char* routine) {
  // A request that names nothing (a tree disconnect) says nothing of the tree worth a line.
  if (path == nullptr || path[0] == '\0') return false;
  // A name that would leave the share is shown as sent, marked.
  char resolved[kAccessPathSize], marked[kAccessPathSize];
  if (!QVX_ResolveRequestName(path, resolved, sizeof resolved)) {
    std::snprintf(marked, sizeof marked, "%s%s", kOutsideShareMark, path);
    path = marked;
  }
  if (QVX_ExclusionInfoChk(path, 0) != 0) return false;
  const EndsText ends(data->ctx->ends);
  const char* client = ends.client;
  const char* server = ends.server;
  char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
  AddHostName(client, client_text, data->ctx->options.HostName, 0);
  AddHostName(server, server_text, data->ctx->options.HostName, 0);
  SameAccessKey key;
  key.tid = TreeID;
  key.client = client_text;
  key.server = server_text;
  key.path = path;
  key.caller = routine;
  if (QVX_SameAccessFound(key, QVX_SameAccessLines(data->ctx->options))) return false;

  const TreeIdText tid_text(TreeID);
  AccessEvent e;
  e.when = now;
  e.action = "unknown";
  e.tree = tid_text.c_str();
  e.client = client_text;
  e.server = server_text;
  e.client_mac = data->ClientMac;
  e.server_mac = data->ServerMac;
  e.command = cmd;
  e.info = info;
  e.path = path;
  QVX_Emit(*data->ctx, e);
  return true;
}

namespace {
// The time class of path against the request time, 204 also when it could not be read at all.
int TimeClass(const char* path, time_t when) {
  time_t file_time = 0;
  const int r = FileNotifyInfo(path, when, &file_time, 0);
  return r == 0 ? kTimeUnreadable : r;
}
}  // namespace

int QVX_RebindGuessedTree(const CaptureContext& ctx, char* full_path, const char* name, int slot,
                          time_t when) {
  const LogonTables& tables = *ctx.tables;
  const ShareList& list = *ctx.shares;
  if (!list.rows || slot < 0 || slot >= static_cast<int>(tables.tree_count()) ||
      !tables.tree(slot).Guessed)
    return 0;
  char candidate[kAccessPathSize];
  const int shares = list.Valid();
  for (int i = 0; i < shares; ++i) {
    const NetWkShareInfoSt& share = list.rows[i];
    if (share.path[0] == '\0') continue;
    if (!QVX_JoinSharePath(share.path, name, candidate, kAccessPathSize - 1)) continue;
    const int r = TimeClass(candidate, when);
    if (r == kTimeUnreadable) continue;
    TreeConnectSt& t = tables.tree(slot);
    CopyText(t.ShareLocalPath, share.path);
    std::snprintf(t.SharePath, sizeof t.SharePath, "\\\\%s\\%s", t.dst_addr, share.netname);
    CopyText(full_path, kAccessPathSize, candidate);
    return r;
  }
  return 0;
}

int QVXAccessChkToTreeIDPathChg(char* sAccessFullPath, const char* sBuffer, time_t ZLocaTimeLW,
                                int nTreeID_Connect, DATA* data, int) {
  int r = TimeClass(sAccessFullPath, ZLocaTimeLW);
  if (r == kTimeUnreadable && data != nullptr) {
    if (const int moved = QVX_RebindGuessedTree(*data->ctx, sAccessFullPath, sBuffer,
                                                nTreeID_Connect, ZLocaTimeLW))
      r = moved;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D31-002 QVXAccessChkToTreeIDPathChg[%d][%ld] : nRet=%d \r\n", r);
  return r;
}

}  // namespace qvx
