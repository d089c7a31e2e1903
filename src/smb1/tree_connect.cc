#include "smb1/tree_connect.h"

#include <cstdio>
#include <cstring>

#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/tree_records.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// WordCount to ByteCount and the byte before the path (password or alignment).
inline constexpr unsigned long kTreeConnectBlock = 12;
inline constexpr unsigned kTreeConnectWords = 4;
inline constexpr unsigned kNoAndX = 0xFF;
// The most data bytes a request may announce: its path must fit the 1024-byte wide buffer.
inline constexpr unsigned long kMaxByteCount = 1022;

}  // namespace

int QVX_SmbTreeConnectAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  // The block starts at index cursor - 1; every test counts the bytes really there.
  if (SMB_Total_Packet_Size < 1) return 10;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < kTreeConnectBlock) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDHEADER サイズ確認 "
          "Len=%d "
          "Total=%d\r\n",
          static_cast<int>(Len), static_cast<int>(SMB_Total_Packet_Size));
    return 10;
  }
  const unsigned char* block = recvData + at;
  if (block[0] != kTreeConnectWords) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDX レスポンスヘッダ "
          "%c\r\n",
          block[0]);
    return 10;
  }
  if (block[1] != kNoAndX) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : TREE_CONNECT_ANDX サブコマンドヘッダ "
          "%x\r\n",
          block[1]);
    return 10;
  }
  const unsigned long B = block[9] | block[10] << 8;
  const unsigned long R = Len - at - kTreeConnectBlock;
  // The path and the service's first byte lie in the data bytes after the password byte; a
  // count too small for any path is an empty path, never a huge copy.
  const unsigned long copy = B > 3 ? B - 3 : 0;
  if (copy > R) {
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : コピーサイズチェック BC=%d Total=%d\r\n",
          static_cast<int>(B) - 1, static_cast<int>(R));
    return 10;
  }
  if (B > kMaxByteCount) {
    QVX_KLOG(
        "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : ByteCount　サイズエラー ByteCount=%d "
        "Total=%d\r\n",
        static_cast<int>(B), static_cast<int>(R));
    return 10;
  }
  unsigned char wide[kWideNameSize] = {};
  std::memcpy(wide, block + kTreeConnectBlock, copy);
  char path[1024] = {};
  const int rc = QVX_ConvertWideName(wide, path, sizeof path);
  if (rc == 0) {
    QVX_KLOG(
        "QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : WideCharToMultiByte sShareDriveBuffer %s "
        "\r\n",
        path);
    return 10;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D41-001 QVX_SmbTreeConnectAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);
  if (path[0] == '\0') return 10;
  if (QVX_NameFiltered(*data->ctx, path, false)) return 10;

  const int slot = QVX_TakeTreeSlot(*data->ctx, TreeConnectMax, "QVX_SmbTreeConnectAndx", "41");
  if (slot < 0) return 10;
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  const LocalTime now = data->ctx->platform->Now();
  QVX_PendingTree(slot, path, recvData, data);
  TreeConnectSt& t = TreeConnect[slot];
  t.Tid = SMB_HEADER->TID;
  t.Pid = SMB_HEADER->PIDLow;
  t.Uid = SMB_HEADER->UID;
  t.Mid = SMB_HEADER->MID;
  QVX_TreeUserNameSet(&t, 0, *data->ctx->tracker);
  // An excluded share keeps its pending slot so that the answer still binds it.
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;

  char wait[32], ids[96];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  QVX_TreeIdsText(t, ids, sizeof ids);
  QVX_TreeLine(*data->ctx, now, "login", wait, t, data->ClientMac, data->ServerMac, cmd.Name,
               cmd.Description, ids, nullptr);
  QVX_TreeRow(now, "login", wait, t, data, cmd.Name, cmd.Description, "");
  QVX_DBG();
  return 0;
}

int QVX_SmbTreeConnectAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                               unsigned char* recvData, long SMB_Total_Packet_Size,
                               int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();
  char server[32], client[32], client_port[16];
  QVX_FrameSrcAddr(recvData, server, sizeof server);
  QVX_FrameDstAddr(recvData, client, sizeof client);
  QVX_FrameDstPort(recvData, client_port, sizeof client_port);
  int slot = 0;
  // The Status is not read: a refused connect binds like an accepted one.
  if (QVXTreeConnectInfoSet(server, client, client_port, SMB_HEADER->TID, SMB_HEADER->PIDLow,
                            SMB_HEADER->UID, SMB_HEADER->MID, &slot,
                            data->ctx->options.TreeConnectCnt) != 0)
    return 10;
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  char ids[96];
  QVX_TreeIdsText(TreeConnect[slot], ids, sizeof ids);
  if (!QVX_TreeAnswerBound(data, slot, now, cmd.Name, cmd.Description, ids, nullptr)) return 10;
  QVX_DBG();
  return 0;
}

int QVX_SmbTreeDisConnectReq(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                             long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  QVX_DBG();
  const LocalTime now = data->ctx->platform->Now();
  int slot = 0, how = 0;
  if (QVXTreeIDGetInfo(SMB_HEADER->TID, SMB_HEADER->PIDLow, SMB_HEADER->UID, SMB_HEADER->MID,
                       recvData, "", &slot, &how, data) == 10)
    return 10;
  TreeConnectSt& t = TreeConnect[slot];
  t.Flg = kSlotDisconnected;
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D21-015 QVX_SmbTreeDisConnectReq[%d][%ld] : QVX_SmbTreeDisConnectReq Tid %d\r\n",
             static_cast<int>(t.Tid));
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  if (QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;
  // The identifiers of the connect request (zeros for a guessed tree), not this packet's.
  char tid_text[16], ids[96];
  std::snprintf(tid_text, sizeof tid_text, "%d", static_cast<int>(t.Tid));
  QVX_TreeIdsText(t, ids, sizeof ids);
  QVX_TreeLine(*data->ctx, now, "disconnect", tid_text, t, data->ClientMac, data->ServerMac,
               cmd.Name, cmd.Description, ids, nullptr);
  QVX_TreeRow(now, "disconnect", tid_text, t, data, cmd.Name, cmd.Description, "0");
  QVX_DBG();
  return 0;
}

}  // namespace qvx
