#include "smb2/tree_connect.h"

#include <cstdio>
#include <cstring>

#include "accesslog/access_log.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/tree_records.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// The fixed part of a TREE_CONNECT request; the path follows it.
inline constexpr unsigned long kTreeConnectBody = 8;

// MessageId or SessionId as the lines print it: the 8 bytes from the last to the first, each
// in lower-case hex without leading zeros.
void IdText(const unsigned char* id, char* out, size_t size) {
  std::snprintf(out, size, "%x%x%x%x%x%x%x%x", id[7], id[6], id[5], id[4], id[3], id[2], id[1],
                id[0]);
}

// "[T:%d C:%s S:%s]": the tree's TreeId and the MessageId and SessionId of its connect request.
void Smb2Ids(const TreeConnectSt& t, char* out, size_t size) {
  char c_id[24], s_id[24];
  IdText(t.MessageId, c_id, sizeof c_id);
  IdText(t.SessionId, s_id, sizeof s_id);
  std::snprintf(out, size, "[T:%d C:%s S:%s]", static_cast<int>(t.Tid), c_id, s_id);
}

}  // namespace

int QVX_Smb2TreeConnectAndx(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);

  if (QVX_TraceLevel(6))
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
  if (QVX_TraceLevel(6)) {
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
  if (QVX_TraceLevel(6))
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
  if (QVX_TraceLevel(6)) {
    QVX_KLOG("QVX_D04-005 QVX_Smb2TreeConnectAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
    QVX_KLOG("QVX_D04-006 QVX_Smb2TreeConnectAndx[%d][%ld] : sShareDriveBuffer %s\r\n",
             sShareDriveBuffer);
  }
  // Named pipes and oddities; the pipe list itself is for file names only.
  if (QVX_NameFiltered(*data->ctx, sShareDriveBuffer, false)) return 10;
  const int slot = QVX_TakeTreeSlot(*data->ctx, TreeConnectMax, "QVX_Smb2TreeConnectAndx", "04");
  if (slot < 0) return 10;
  const LocalTime now = data->ctx->platform->Now();

  QVX_PendingTree(slot, sShareDriveBuffer, recvData, data);
  TreeConnectSt& t = TreeConnect[slot];
  t.Tid = tree_id;
  QVX_TreeUserNameSet(&t, 0, *data->ctx->tracker);
  std::memcpy(t.MessageId, SMB2_HEADER->MessageId, sizeof t.MessageId);
  std::memcpy(t.SessionId, SMB2_HEADER->SessionId, sizeof t.SessionId);
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);

  // An excluded share keeps its pending slot so that the answer still binds it.
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;

  char wait[32], ids[96];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  Smb2Ids(t, ids, sizeof ids);
  QVX_TreeLine(*data->ctx, now, "login", wait, t, data->ClientMac, data->ServerMac, cmd.Name,
               cmd.Description, ids, nullptr);
  QVX_TreeRow(now, "login", wait, t, data, cmd.Name, cmd.Description, "");
  QVX_DBG();
  return 0;
}

int QVX_Smb2TreeConnectAndxRecv(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();
  char server[32], client[32], client_port[16];
  QVX_FrameSrcAddr(recvData, server, sizeof server);
  QVX_FrameDstAddr(recvData, client, sizeof client);
  QVX_FrameDstPort(recvData, client_port, sizeof client_port);
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);
  int slot = 0;
  // Paired with the request of the same connection and session; a refused connect binds like an
  // accepted one.
  if (QVXTreeConnectInfoSet2(server, client, client_port, tree_id, SMB2_HEADER->MessageId,
                             SMB2_HEADER->SessionId, &slot, data->ctx->options.TreeConnectCnt) != 0)
    return 10;
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  char ids[96];
  Smb2Ids(TreeConnect[slot], ids, sizeof ids);
  QVX_TreeAnswerBound(
      data, slot, now, cmd.Name, cmd.Description, ids,
      "QVX_D04-008 QVX_Smb2TreeConnectAndxRecv[%d][%ld] : EditBuf=%s , szListBuff=%s\r\n");
  QVX_DBG();
  return 0;
}

int QVX_Smb2TreeDisConnectReq(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                              unsigned char* recvData, long SMB_Total_Packet_Size,
                              int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();
  const uint32_t tree_id = QVX_Smb2TreeId(SMB2_HEADER);
  int slot = 0, how = 0;
  if (QVXTreeIDGetInfo(tree_id, 0, 0, 0, recvData, "", &slot, &how, data) == 10) return 10;
  TreeConnectSt& t = TreeConnect[slot];
  t.Flg = kSlotDisconnected;
  QVX_TreeUserNameSet(&t, 0, *data->ctx->tracker);
  const Smb2_Command_St& cmd = QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;
  char tid_text[16], ids[96];
  std::snprintf(tid_text, sizeof tid_text, "%d", static_cast<int>(t.Tid));
  Smb2Ids(t, ids, sizeof ids);
  QVX_TreeLine(*data->ctx, now, "disconnect", tid_text, t, data->ClientMac, data->ServerMac,
               cmd.Name, cmd.Description, ids, nullptr);
  QVX_TreeRow(now, "disconnect", tid_text, t, data, cmd.Name, cmd.Description, "0");
  QVX_DBG();
  return 0;
}

}  // namespace qvx
