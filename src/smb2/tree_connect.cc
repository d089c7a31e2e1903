#include "smb2/tree_connect.h"

#include <cstdio>
#include <cstring>

#include "accesslog/access_log.h"
#include "app/dbglog.h"
#include "app/listview.h"
#include "app/option.h"
#include "app/text.h"
#include "capture/smb_command_table.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "smb2/file_access.h"
#include "tracking/session_tree.h"

namespace qvx {

namespace {

// The fixed part of a TREE_CONNECT request; the path follows it.
inline constexpr unsigned long kTreeConnectBody = 8;

bool Level(int n) { return OptionInfo.ErrorLevel >= n; }

// MessageId or SessionId as the lines print it: the 8 bytes from the last to the first, each
// in lower-case hex without leading zeros.
void IdText(const unsigned char* id, char* out, size_t size) {
  std::snprintf(out, size, "%x%x%x%x%x%x%x%x", id[7], id[6], id[5], id[4], id[3], id[2], id[1],
                id[0]);
}

// The "login", "connect" or "disconnect" line of a tree. tree_id_text is the third field;
// former is the row's previous TreeID text (connect lines only).
void TreeLine(const LocalTime& now, const char* action, const char* tree_id_text,
              const TreeConnectSt& t, const char* client_mac, const char* server_mac,
              const Smb2_Command_St& cmd, const char* former) {
  if (OptionInfo.LogFileWriteFlg != 1) return;
  char client_text[kHostDisplaySize], server_text[kHostDisplaySize], when[32];
  AddHostName(t.src_addr, client_text, OptionInfo.HostName, 0);
  AddHostName(t.dst_addr, server_text, OptionInfo.HostName, 0);
  char c_id[24], s_id[24], tail[48] = "";
  IdText(t.MessageId, c_id, sizeof c_id);
  IdText(t.SessionId, s_id, sizeof s_id);
  if (former) std::snprintf(tail, sizeof tail, "[%s]", former);
  char field[kQuotedShareSize], quoted[2 * kQuotedShareSize];
  std::snprintf(field, sizeof field, "%s [T:%d C:%s S:%s]%s", t.SharePath, static_cast<int>(t.Tid),
                c_id, s_id, tail);
  QVX_AccessLogLine("%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,,,%s\r\n", QVX_LineStamp(now, when, sizeof when),
                    action, tree_id_text, t.Login_Name, client_text, server_text, client_mac,
                    server_mac, cmd.Name, cmd.Description,
                    QVX_PathField(field, quoted, sizeof quoted));
}

// The list row of a tree: Size and Operation as given, Path the share.
void TreeRow(const LocalTime& now, const char* action, const char* tree_id_text,
             const TreeConnectSt& t, const DATA* data, const Smb2_Command_St& cmd,
             const char* size) {
  char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
  AddHostName(t.src_addr, client_text, OptionInfo.HostName, 0);
  AddHostName(t.dst_addr, server_text, OptionInfo.HostName, 0);
  const char* cells[kListColumns - 1] = {
      action,          tree_id_text, t.Login_Name,    client_text, server_text, data->ClientMac,
      data->ServerMac, cmd.Name,     cmd.Description, size,        "",          t.SharePath};
  QVX_AppendRow(now, cells, "InsItem");
}

}  // namespace

int QVX_Smb2TreeConnectAndx(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  char client[32], server[32];
  QVX_FrameSrcAddr(recvData, client, sizeof client);
  QVX_FrameDstAddr(recvData, server, sizeof server);
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);

  if (Level(6))
    QVX_KLOG(
        "QVX_D04-001 QVX_Smb2TreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDHEADER サイズ確認 Len %d "
        ": T %d \r\n",
        static_cast<int>(Len), static_cast<int>(SMB_Total_Packet_Size + kTreeConnectBody));
  // The body starts at index cursor - 1; every test below counts the bytes really there, so a
  // path that ends on the frame's last byte is taken and nothing past the frame is read.
  if (SMB_Total_Packet_Size < 1) return 10;
  unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < kTreeConnectBody) return 10;
  const unsigned char* body = recvData + at;
  const unsigned structure_size = body[0] | body[1] << 8;
  const unsigned long path_length = body[6] | body[7] << 8;
  at += kTreeConnectBody;
  const unsigned long left = Len - at;
  if (Level(6)) {
    QVX_KLOG(
        "QVX_D04-002 QVX_Smb2TreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDX レスポンスヘッダ "
        "Length %d \r\n",
        static_cast<int>(structure_size));
    QVX_KLOG(
        "QVX_D04-003 QVX_Smb2TreeConnectAndx[%d][%ld] : パス情報サイズ レスポンスヘッダ Length "
        "%d \r\n",
        static_cast<int>(path_length));
  }
  if (structure_size < kTreeConnectBody) return 10;
  if (path_length == 0) return 10;
  if (Level(6))
    QVX_KLOG(
        "QVX_D04-004 QVX_Smb2TreeConnectAndx[%d][%ld] : コピーサイズチェック Length %d : 残り %d "
        "\r\n",
        static_cast<int>(path_length), static_cast<int>(left));
  if (path_length > left) return 10;
  if (path_length > kMaxWideName) {
    QVX_KLOG("QVX_D04-004 QVX_Smb2TreeConnectAndx[%d][%ld] : Lengthサイズエラー Length=%d\r\n",
             static_cast<int>(path_length));
    return 10;
  }

  unsigned char wide[kWideNameSize] = {};
  std::memcpy(wide, recvData + at, path_length);
  char sShareDriveBuffer[1024] = {};
  const int rc = QVX_ConvertWideName(wide, sShareDriveBuffer, sizeof sShareDriveBuffer);
  if (rc == 0) {
    QVX_KLOG(
        "QVX_D41-001 QVX_Smb2TreeConnectAndx[%d][%ld] : WideCharToMultiByte sShareDriveBuffer "
        "%s \r\n",
        sShareDriveBuffer);
    return 10;
  }
  if (Level(6)) {
    QVX_KLOG("QVX_D04-005 QVX_Smb2TreeConnectAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
    QVX_KLOG("QVX_D04-006 QVX_Smb2TreeConnectAndx[%d][%ld] : sShareDriveBuffer %s\r\n",
             sShareDriveBuffer);
  }
  // Named pipes and oddities; the pipe list itself is for file names only.
  if (QVX_NameFiltered(sShareDriveBuffer, false)) return 10;
  if (TreeConnect == nullptr) return 10;

  int max = TreeConnectMax < OptionInfo.TreeConnectCnt ? TreeConnectMax : OptionInfo.TreeConnectCnt;
  if (max < 1) return 10;
  int slot = -1;
  for (int i = 0; i < max && slot < 0; ++i)
    if (TreeConnect[i].Flg == kSlotFree) slot = i;
  if (slot < 0) {
    QVX_KLOG(
        "QVX_E04-001 QVX_Smb2TreeConnectAndx[%d][%ld] : TreeID管理の空き領域がありません。\r\n");
    std::memset(TreeConnect, 0, sizeof(TreeConnectSt) * static_cast<size_t>(max));
    QVX_TreeSlotsRecount();
    QVX_KLOG(
        "QVX_I04-001 QVX_Smb2TreeConnectAndx[%d][%ld] : TreeID管理領域をクリアーしました。\r\n");
    slot = 0;
  }
  const LocalTime now = platform().Now();

  TreeConnectSt& t = TreeConnect[slot];
  std::memset(&t, 0, sizeof t);
  t.Flg = kSlotWaiting;
  QVX_TreeSlotTaken(slot);
  t.Tid = tree_id;
  CopyText(t.SharePath, sShareDriveBuffer);
  CopyText(t.src_addr, client);
  CopyText(t.dst_addr, server);
  QVX_FrameSrcPort(recvData, t.src_port, sizeof t.src_port);
  QVX_FrameDstPort(recvData, t.dst_port, sizeof t.dst_port);
  CopyText(t.src_mac, data->ClientMac);
  CopyText(t.dst_mac, data->ServerMac);
  QVX_UserNameSet(client, t.Login_Name, 0);
  std::memcpy(t.MessageId, SMB2_HEADER->MessageId, sizeof t.MessageId);
  std::memcpy(t.SessionId, SMB2_HEADER->SessionId, sizeof t.SessionId);
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);

  // An excluded share keeps its pending slot so that the answer still binds it.
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;

  char wait[32];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  TreeLine(now, "login", wait, t, data->ClientMac, data->ServerMac, cmd, nullptr);
  TreeRow(now, "login", wait, t, data, cmd, "");
  QVX_DBG();
  return 0;
}

int QVX_Smb2TreeConnectAndxRecv(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = platform().Now();
  char server[32];
  QVX_FrameSrcAddr(recvData, server, sizeof server);
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);
  int slot = 0;
  // Paired by MessageId and server alone; a refused connect binds like an accepted one.
  if (QVXTreeConnectInfoSet2(server, tree_id, SMB2_HEADER->MessageId, SMB2_HEADER->SessionId, &slot,
                             OptionInfo.TreeConnectCnt) != 0)
    return 10;
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  char wait[32];
  const int row = QVX_FindWaitRow(
      slot, wait, sizeof wait,
      "QVX_D04-008 QVX_Smb2TreeConnectAndxRecv[%d][%ld] : EditBuf=%s , szListBuff=%s\r\n");
  if (row < 0) return 0;
  const TreeConnectSt& t = TreeConnect[slot];
  QVX_RowToConnect(data, row, t.Tid, t.Login_Name);
  char tid_text[16];
  std::snprintf(tid_text, sizeof tid_text, "%d", static_cast<int>(t.Tid));
  // This frame comes from the server: its MAC texts are the other way round.
  TreeLine(now, "connect", tid_text, t, data->ServerMac, data->ClientMac, cmd, wait);
  QVX_DBG();
  return 0;
}

int QVX_Smb2TreeDisConnectReq(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                              unsigned char* recvData, long SMB_Total_Packet_Size,
                              int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = platform().Now();
  char client[32];
  QVX_FrameSrcAddr(recvData, client, sizeof client);
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);
  int slot = 0, how = 0;
  if (QVXTreeIDGetInfo(tree_id, 0, 0, 0, recvData, "", &slot, &how, data) == 10) return 10;
  TreeConnectSt& t = TreeConnect[slot];
  t.Flg = kSlotDisconnected;
  QVX_UserNameSet(client, t.Login_Name, 0);
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;
  char tid_text[16];
  std::snprintf(tid_text, sizeof tid_text, "%d", static_cast<int>(t.Tid));
  TreeLine(now, "disconnect", tid_text, t, data->ClientMac, data->ServerMac, cmd, nullptr);
  TreeRow(now, "disconnect", tid_text, t, data, cmd, "0");
  QVX_DBG();
  return 0;
}

}  // namespace qvx
