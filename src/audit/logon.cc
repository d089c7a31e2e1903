#include "audit/logon.h"

#include <cstdio>
#include <cstring>

#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "names/hosts.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// The first free row; a full table is emptied and row 0 is taken.
size_t FreeSessionRow(SessionSetupSt* table, size_t rows) {
  for (size_t i = 0; i < rows; ++i)
    if (table[i].Flg == kSlotFree) return i;
  QVX_KLOG(
      "QVX_E41-001 QVX_SmbSessionSetupAndx[%d][%ld] : "
      "SessionSetup管理の空き領域がありません。\r\n");
  if (QVX_TraceLevel(8))
    for (size_t i = 0; i < rows; ++i)
      QVX_KLOG("QVX_E41-001 QVX_SmbSessionSetupAndx[%d][%ld] : SessionSetup[%d].Flg = %d\r\n",
               static_cast<int>(i), static_cast<int>(table[i].Flg));
  std::memset(table, 0, rows * sizeof(SessionSetupSt));
  QVX_KLOG(
      "QVX_I41-001 QVX_SmbSessionSetupAndx[%d][%ld] : SessionSetup管理領域をクリアしました。\r\n");
  if (QVX_TraceLevel(8))
    for (size_t i = 0; i < rows; ++i)
      QVX_KLOG("QVX_E41-001 QVX_SmbSessionSetupAndx[%d][%ld] : (CLS) SessionSetup[%d].Flg = %d\r\n",
               static_cast<int>(i), static_cast<int>(table[i].Flg));
  return 0;
}

}  // namespace

void QVX_LogonRequested(CaptureContext& ctx, const Smb1Logon& r) {
  SessionSetupSt* table = ctx.tables->sessions();
  const size_t rows = ctx.tables->session_count();
  if (table == nullptr || rows == 0) return;
  for (size_t i = 0; i < rows; ++i) {
    const SessionSetupSt& s = table[i];
    if (s.Tid == r.tid && s.Pid == r.pid && s.Uid == r.uid && s.Mid == r.mid &&
        std::strcmp(s.src_addr, r.client) == 0 && std::strcmp(s.dst_addr, r.server) == 0 &&
        std::strcmp(s.Login_Name, r.user) == 0)
      return;  // the same request seen again
  }
  SessionSetupSt& s = table[FreeSessionRow(table, rows)];
  s.Flg = kSlotWaiting;
  s.Tid = r.tid;
  s.Pid = r.pid;
  s.Uid = r.uid;
  s.Mid = r.mid;
  CopyText(s.src_addr, r.client);
  CopyText(s.dst_addr, r.server);
  CopyText(s.Login_Name, r.user);
}

bool QVX_LogonAnswered(CaptureContext& ctx, const Smb1Logon& a, int SetupSessionMax,
                       const DATA* data) {
  SessionSetupSt* table = ctx.tables->sessions();
  if (table == nullptr) return false;
  const size_t rows = ctx.tables->session_count();
  const size_t max = SetupSessionMax > 0 && static_cast<size_t>(SetupSessionMax) < rows
                         ? static_cast<size_t>(SetupSessionMax)
                         : rows;
  SessionSetupSt* s = nullptr;
  for (size_t i = 0; i < max && s == nullptr; ++i) {
    SessionSetupSt& r = table[i];
    if (std::strcmp(r.src_addr, a.client) == 0 && r.Flg == kSlotWaiting && r.Pid == a.pid) s = &r;
  }
  if (s == nullptr) return false;
  s->Flg = kSlotBound;
  s->Uid = a.uid;
  if (!ctx.sinks->WantRecords()) return true;
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
  AddHostName(a.server, server_text, ctx.options.HostName, 0);
  AddHostName(a.client, client_text, ctx.options.HostName, 0);
  char ids[96];
  std::snprintf(ids, sizeof ids, "[T:%d P:%d U:%d M:%d]", a.tid, a.pid, a.uid, a.mid);
  AccessEvent e;
  e.when = ctx.platform->Now();
  e.action = "session";
  e.user = s->Login_Name;
  e.client = client_text;
  e.server = server_text;
  // The answer travels from the server: its MAC texts are the other way round.
  e.client_mac = data->ServerMac;
  e.server_mac = data->ClientMac;
  e.command = cmd.Name;
  e.info = cmd.Description;
  e.path_detail = ids;
  e.to_list = false;
  QVX_Emit(ctx, e);
  return true;
}

}  // namespace qvx
