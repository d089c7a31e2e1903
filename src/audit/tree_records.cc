#include "audit/tree_records.h"

#include <cstdio>
#include <cstring>

#include "audit/events.h"
#include "audit/file_access.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "tracking/tree_id.h"

namespace qvx {

int QVX_TakeTreeSlot(const CaptureContext& ctx, int TreeConnectMax, const char* routine,
                     const char* area) {
  LogonTables& tables = *ctx.tables;
  if (tables.trees() == nullptr) return -1;
  const int max = tables.SlotsUpTo(
      TreeConnectMax < ctx.options.TreeConnectCnt ? TreeConnectMax : ctx.options.TreeConnectCnt);
  if (max < 1) return -1;
  for (int i = 0; i < max; ++i)
    if (tables.tree(i).Flg == kSlotFree) return i;
  DiagLogLine(DiagLog::kKernel, 1,
              "QVX_E%s-001 %s[%d][%ld] : TreeID管理の空き領域がありません。\r\n", area, routine,
              __LINE__, ctx.platform->LastError());
  std::memset(tables.trees(), 0, sizeof(TreeConnectSt) * static_cast<size_t>(max));
  tables.SlotsRecount();
  DiagLogLine(DiagLog::kKernel, 1,
              "QVX_I%s-001 %s[%d][%ld] : TreeID管理領域をクリアーしました。\r\n", area, routine,
              __LINE__, ctx.platform->LastError());
  return 0;
}

void QVX_PendingTree(int slot, const char* share_path, const DATA* data) {
  TreeConnectSt& t = data->ctx->tables->tree(slot);
  std::memset(&t, 0, sizeof t);
  t.Flg = kSlotWaiting;
  data->ctx->tables->SlotTaken(slot);
  CopyText(t.SharePath, share_path);
  QVX_TreeEnds(t, data->ctx->ends);
  CopyText(t.src_mac, data->ClientMac);
  CopyText(t.dst_mac, data->ServerMac);
}

void QVX_TreeEnds(TreeConnectSt& t, const ConnectionEnds& ends) {
  const EndsText text(ends);
  CopyText(t.src_addr, text.client);
  CopyText(t.dst_addr, text.server);
  CopyText(t.src_port, text.client_port);
  CopyText(t.dst_port, text.server_port);
}

void QVX_TreeIdsText(const TreeConnectSt& t, char* out, size_t size) {
  std::snprintf(out, size, "[T:%u P:%d U:%d M:%d]", static_cast<unsigned>(t.Tid),
                static_cast<int>(t.Pid), static_cast<int>(t.Uid), static_cast<int>(t.Mid));
}

namespace {

// The event of a tree: its user, its two ends (with host names when so configured), the command,
// the share as the path. Keeps the texts it points to.
struct TreeEvent {
  TreeEvent(const CaptureContext& ctx, const LocalTime& now, const char* action,
            const char* tree_id_text, const TreeConnectSt& t, const char* client_mac,
            const char* server_mac, const char* cmd, const char* info) {
    AddHostName(t.src_addr, client_text, ctx.options.HostName, 0);
    AddHostName(t.dst_addr, server_text, ctx.options.HostName, 0);
    e.when = now;
    e.action = action;
    e.tree = tree_id_text;
    e.user = t.Login_Name;
    e.client = client_text;
    e.server = server_text;
    e.client_mac = client_mac;
    e.server_mac = server_mac;
    e.command = cmd;
    e.info = info;
    e.path = t.SharePath;
  }
  char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
  AccessEvent e;
};

}  // namespace

void QVX_TreeLine(CaptureContext& ctx, const LocalTime& now, const char* action,
                  const char* tree_id_text, const TreeConnectSt& t, const char* client_mac,
                  const char* server_mac, const char* cmd, const char* info, const char* ids,
                  const char* former) {
  if (!ctx.sinks->WantRecords()) return;
  TreeEvent te(ctx, now, action, tree_id_text, t, client_mac, server_mac, cmd, info);
  char detail[160];
  std::snprintf(detail, sizeof detail, former ? " %s[%s]" : " %s", ids, former);
  te.e.path_detail = detail;
  te.e.to_list = false;
  QVX_Emit(ctx, te.e);
}

void QVX_TreeRow(const LocalTime& now, const char* action, const char* tree_id_text,
                 const TreeConnectSt& t, const DATA* data, const char* cmd, const char* info,
                 const char* size) {
  TreeEvent te(*data->ctx, now, action, tree_id_text, t, data->ClientMac, data->ServerMac, cmd,
               info);
  te.e.size = size;
  te.e.to_records = false;
  QVX_Emit(*data->ctx, te.e);
}

bool QVX_TreeAnswerBound(DATA* data, int slot, const LocalTime& now, const char* cmd,
                         const char* info, const char* ids, const char* trace_fmt) {
  const TreeConnectSt& t = data->ctx->tables->tree(slot);
  QVX_ShowTreeBound(*data->ctx, slot, trace_fmt);
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return false;
  char wait[32];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  // The answer travels from the server: its MAC texts are the other way round.
  QVX_TreeLine(*data->ctx, now, "connect", TreeIdText(t.Tid).c_str(), t, data->ServerMac,
               data->ClientMac, cmd, info, ids, wait);
  return true;
}

}  // namespace qvx
