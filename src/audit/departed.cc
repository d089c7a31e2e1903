#include "audit/departed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audit/context.h"
#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "filters/exclusion.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/connection_tracker.h"
#include "tracking/session_tree.h"
#include "tracking/tree_id.h"

namespace qvx {

namespace {

// A tree ends: its logout line (unless its share is excluded), and its slot is freed.
void LogoutTree(CaptureContext& ctx, TreeConnectSt& t, const LocalTime& now) {
  if (ctx.sinks->WantRecords() && QVX_ExclusionInfoChk(t.SharePath, 0) == 0) {
    const TreeIdText tid_text(t.Tid);
    char ids[96];
    std::snprintf(ids, sizeof ids, " [T:%u P:%d U:%d M:%d][%d]", static_cast<unsigned>(t.Tid),
                  static_cast<int>(t.Pid), static_cast<int>(t.Uid), static_cast<int>(t.Mid),
                  static_cast<int>(t.Flg));
    AccessEvent e;
    e.when = now;
    e.action = "logout";
    e.tree = tid_text.c_str();
    e.user = t.Login_Name;
    e.client = t.src_addr;
    e.server = t.dst_addr;
    e.client_mac = t.src_mac;
    e.server_mac = t.dst_mac;
    e.path = t.SharePath;
    e.path_detail = ids;
    e.to_list = false;
    QVX_Emit(ctx, e);
  }
  std::memset(&t, 0, sizeof t);
}

// The tree's own TCP connection is still open, as far as the capture saw: a session list that
// does not name its client yet (or no longer) does not end it.
bool ConnectionOpen(const ConnectionTracker& tracker, const TreeConnectSt& t) {
  if (t.src_port[0] == '\0') return false;
  return tracker.IsOpen(t.dst_addr, t.src_addr,
                        static_cast<uint16_t>(std::strtoul(t.src_port, nullptr, 10)));
}

}  // namespace

int QVX_TreeIDTableDelete(DATA* data) {
  QVX_DBG();
  CaptureContext& ctx = *data->ctx;
  const int n =
      QVX_NetSession_NT(NetWkSessionInfo, ctx.options.NetWkInfoCnt, nullptr, nullptr, nullptr);
  const LocalTime now = ctx.platform->Now();
  LogonTables& tables = *ctx.tables;
  const int slots = tables.SlotsToRead(static_cast<int>(tables.tree_count()));
  for (int i = 0; i < slots; ++i) {
    TreeConnectSt& t = tables.tree(i);
    if (t.Flg == kSlotFree) continue;
    const bool alive = t.Flg != kSlotDisconnected &&
                       (QVX_SessionHasClient(n, t.src_addr) || ConnectionOpen(*ctx.tracker, t));
    if (alive) continue;
    LogoutTree(ctx, t, now);
  }
  if (ctx.options.SessionSetupFlg == 1) {
    for (size_t i = 0; i < tables.session_count(); ++i) {
      SessionSetupSt& s = tables.sessions()[i];
      if (s.Flg != kSlotFree && !QVX_SessionHasClient(n, s.src_addr)) std::memset(&s, 0, sizeof s);
    }
  }
  QVX_DBG();
  return 0;
}

void QVX_ConnectionTreesEnded(CaptureContext& ctx, const char* server, const char* client,
                              const char* port) {
  const LocalTime now = ctx.platform->Now();
  LogonTables& tables = *ctx.tables;
  const int slots = tables.SlotsToRead(static_cast<int>(tables.tree_count()));
  for (int i = 0; i < slots; ++i) {
    TreeConnectSt& t = tables.tree(i);
    if (t.Flg == kSlotFree || std::strcmp(t.src_addr, client) != 0 ||
        std::strcmp(t.dst_addr, server) != 0 || std::strcmp(t.src_port, port) != 0)
      continue;
    LogoutTree(ctx, t, now);
  }
}

}  // namespace qvx
