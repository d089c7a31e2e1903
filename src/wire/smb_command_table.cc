#include "wire/smb_command_table.h"

#include "base/option.h"

namespace qvx {

Smb_Command_St Smb_Command[kSmbCommandRows] = {
    {0, 0x00, "SMB_COM_CREATE_DIRECTORY", "フォルダの作成"},
    {1, 0x01, "SMB_COM_DELETE_DIRECTORY", "フォルダの削除"},
    {2, 0x02, "SMB_COM_OPEN", "ファイルのオープン"},
    {3, 0x03, "SMB_COM_CREATE", "ファイルのオープン／作成"},
    {4, 0x04, "SMB_COM_CLOSE", "ファイルのクローズ"},
    {5, 0x05, "SMB_COM_FLUSH", "ファイルのフラッシュ"},
    {6, 0x06, "SMB_COM_DELETE", "ファイルの削除"},
    {7, 0x07, "SMB_COM_RENAME", "ファイルの名前変更"},
    {8, 0x08, "SMB_COM_QUERY_INFORMATION", "ファイル情報の問い合わせ"},
    {9, 0x09, "SMB_COM_SET_INFORMATION", "ファイル情報の設定"},
    {10, 0x0A, "SMB_COM_READ", "ファイルの読み出し"},
    {11, 0x0B, "SMB_COM_WRITE", "ファイルの書き込み"},
    {12, 0x0C, "SMB_COM_LOCK_BYTE_RANGE", "バイト範囲のロック"},
    {13, 0x0D, "SMB_COM_UNLOCK_BYTE_RANGE", "バイト範囲のアンロック"},
    {14, 0x0E, "SMB_COM_CREATE_TEMPORARY", "一時ファイルの作成"},
    {15, 0x0F, "SMB_COM_CREATE_NEW", "新規ファイルの作成"},
    {16, 0x10, "SMB_COM_CHECK_DIRECTORY", "フォルダの検査"},
    {17, 0x11, "SMB_COM_PROCESS_EXIT", "終了"},
    {18, 0x12, "SMB_COM_SEEK", "シーク"},
    {19, 0x13, "SMB_COM_LOCK_AND_READ", "ロックと読み出し"},
    {20, 0x14, "SMB_COM_WRITE_AND_UNLOCK", "書き込みとアンロック"},
    {21, 0x1A, "SMB_COM_READ_RAW", "ロー（直の）読み出し"},
    {22, 0x1B, "SMB_COM_READ_MPX", "マルチプレックス（多重化）読み出し"},
    {23, 0x1C, "SMB_COM_READ_MPX_SECONDARY", "マルチプレックス（多重化）読み出し（継続）"},
    {24, 0x1D, "SMB_COM_WRITE_RAW", "ロー書き込み"},
    {25, 0x1E, "SMB_COM_WRITE_MPX", "マルチプレックス（多重化）書き込み"},
    {26, 0x20, "SMB_COM_WRITE_COMPLETE", "書き込み完了"},
    {27, 0x22, "SMB_COM_SET_INFORMATION2", "情報（属性）の設定"},
    {28, 0x23, "SMB_COM_QUERY_INFORMATION2", "情報（属性）の取得"},
    {29, 0x24, "SMB_COM_LOCKING_ANDX", "ロック（＋後続コマンド）"},
    {30, 0x25, "SMB_COM_TRANSACTION", "トランザクション"},
    {31, 0x26, "SMB_COM_TRANSACTION_SECONDARY", "トランザクション（継続）"},
    {32, 0x27, "SMB_COM_IOCTL", "IOCTL"},
    {33, 0x28, "SMB_COM_IOCTL_SECONDARY", "IOCTL（継続）"},
    {34, 0x29, "SMB_COM_COPY", "コピー"},
    {35, 0x2A, "SMB_COM_MOVE", "移動"},
    {36, 0x2B, "SMB_COM_ECHO", "エコー"},
    {37, 0x2C, "SMB_COM_WRITE_AND_CLOSE", "書き込みとクローズ"},
    {38, 0x2D, "SMB_COM_OPEN_ANDX", "オープン（＋後続コマンド）"},
    {39, 0x2E, "SMB_COM_READ_ANDX", "読み出し（＋後続コマンド）"},
    {40, 0x2F, "SMB_COM_WRITE_ANDX", "書き込み（＋後続コマンド）"},
    {41, 0x31, "SMB_COM_CLOSE_AND_TREE_DISC", "クローズとツリー接続の解除"},
    {42, 0x32, "SMB_COM_TRANSACTION2", "トランザクション2"},
    {43, 0x33, "SMB_COM_TRANSACTION2_SECONDARY", "トランザクション2（継続）"},
    {44, 0x34, "SMB_COM_FIND_CLOSE2", "クローズ2"},
    {45, 0x35, "SMB_COM_FIND_NOTIFY_CLOSE", "通知とクローズ"},
    {46, 0x70, "SMB_COM_TREE_CONNECT", "ツリー接続"},
    {47, 0x71, "SMB_COM_TREE_DISCONNECT", "ツリー切断"},
    {48, 0x72, "SMB_COM_NEGOTIATE", "プロトコル・バージョンのネゴシエーション"},
    {49, 0x73, "SMB_COM_SESSION_SETUP_ANDX", "セッション・セットアップ（＋後続コマンド）"},
    {50, 0x74, "SMB_COM_LOGOFF_ANDX", "ログオフ（＋後続コマンド）"},
    {51, 0x75, "SMB_COM_TREE_CONNECT_ANDX", "ツリー接続（＋後続コマンド）"},
    {52, 0x80, "SMB_COM_QUERY_INFORMATION_DISK", "ディスク情報の取得"},
    {53, 0x81, "SMB_COM_SEARCH", "検索（SEARCH）"},
    {54, 0x82, "SMB_COM_FIND", "検索（FIND）"},
    {55, 0x83, "SMB_COM_FIND_UNIQUE", "ユニーク検索"},
    {56, 0xA0, "SMB_COM_NT_TRANSACT", "トランザクション"},
    {57, 0xA1, "SMB_COM_NT_TRANSACT_SECONDARY", "トランザクション（継続）"},
    {58, 0xA2, "SMB_COM_NT_CREATE_ANDX", "（＋後続コマンド）"},
    {59, 0xA4, "SMB_COM_NT_CANCEL", "キャンセル"},
    {60, 0xA5, "SMB_COM_NT_RENAME", "名前変更"},
    {61, 0xC0, "SMB_COM_OPEN_PRINT_FILE", "スプール・ファイルのオープン"},
    {62, 0xC1, "SMB_COM_WRITE_PRINT_FILE", "スプール・ファイルへの書き込み"},
    {63, 0xC2, "SMB_COM_CLOSE_PRINT_FILE", "スプール・ファイルのクローズ"},
    {64, 0xC3, "SMB_COM_GET_PRINT_QUEUE", "スプール・ファイル情報の取得"},
    {65, 0xFE, "--", "--"},
    {66, 0xFE, "--", "--"},
    {67, 0xFE, "--", "--"},
};

Smb2_Command_St Smb2_Command[kSmb2CommandRows] = {
    {0, 0x0, "SMB2 NEGOTIATE", "プロトコル・バージョンのネゴシエーション"},
    {1, 0x1, "SMB2_SESSION_SETUP", "セッション・セットアップ"},
    {2, 0x2, "SMB2_LOGOFF", "ログオフ"},
    {3, 0x3, "SMB2_TREE_CONNECT", "ツリー接続"},
    {4, 0x4, "SMB2_TREE_DISCONNECT", "ツリー切断"},
    {5, 0x5, "SMB2_CREATE", "ファイルのオープン／作成"},
    {6, 0x6, "SMB2_CLOSE", "ファイルのクローズ"},
    {7, 0x7, "SMB2_FLUSH", "ファイルのフラッシュ"},
    {8, 0xFFF, "SMB2_READ", "ファイルの読み出し"},
    {9, 0xFFF, "SMB2_WRITE", "ファイルの書き込み"},
    {10, 0xA, "SMB2_LOCK", "ロックと読み出し"},
    {11, 0xFFF, "SMB2_IOCTL", "IOCTL"},
    {12, 0xC, "SMB2_CANCEL", "キャンセル"},
    {13, 0xD, "SMB2_ECHO", "エコー"},
    {14, 0xE, "SMB2_QUERY_DIRECTORY", "ディレクトリ情報の取得"},
    {15, 0xF, "SMB2_CHANGE_NOTIFY", "変更"},
    {16, 0x10, "SMB2_QUERY_INFO", "ファイル情報の問い合わせ"},
    {17, 0x11, "SMB2_SET_INFO", "ファイル情報の設定"},
    {18, 0x12, "SMB2_OPLOCK_BREAK", "OPLOCK解除"},
    {19, 0xFE, "-", "-"},
    {20, 0xFE, "-", "-"},
    {21, 0xFE, "-", "-"},
};

void QVX_ApplyCommandTableOptions(const OptionInfoSt& o) {
  if (o.smb1_com_transaction2_off == 1) Smb_Command[42].Command = 255;
  if (o.smb1_com_write_andx_off == 1) Smb_Command[40].Command = 255;
  if (o.smb1_com_read_andx_off == 1) Smb_Command[39].Command = 255;
  // The flush option has always written into the READ row (already out of service); SMB2 FLUSH
  // keeps passing the gate whatever it says.
  if (o.smb2_com_flush_off == 1) Smb2_Command[8].Command = 255;
}

bool QVX_Smb1CommandKnown(uint8_t command) {
  for (int i = 0; i <= kSmbSearchLast; ++i)
    if (Smb_Command[i].Command == command) return true;
  return false;
}

bool QVX_Smb2CommandKnown(uint16_t command) {
  for (int i = 0; i <= kSmb2SearchLast; ++i)
    if (Smb2_Command[i].Command == static_cast<int32_t>(command)) return true;
  return false;
}

const Smb_Command_St& QVX_Smb1CommandRow(int SMBCmdListFlg, int SMBCommand) {
  if (SMBCmdListFlg != 0) {
    for (int i = 0; i <= kSmbSearchLast; ++i)
      if (Smb_Command[i].Command == SMBCommand) return Smb_Command[i];
  }
  return Smb_Command[kSmbNoNameRow];
}

const Smb2_Command_St& QVX_Smb2CommandRow(int SMBCmdListFlg, int SMBCommand) {
  if (SMBCmdListFlg != 0) {
    for (int i = 0; i <= kSmb2SearchLast; ++i)
      if (Smb2_Command[i].Command == SMBCommand) return Smb2_Command[i];
  }
  return Smb2_Command[kSmb2NoNameRow];
}

CommandTexts QVX_CommandTexts(int version, int SMBCmdListFlg, int SMBCommand) {
  if (version == 1) {
    const Smb_Command_St& row = QVX_Smb1CommandRow(SMBCmdListFlg, SMBCommand);
    return {row.Name, row.Description};
  }
  const Smb2_Command_St& row = QVX_Smb2CommandRow(SMBCmdListFlg, SMBCommand);
  return {row.Name, row.Description};
}

}  // namespace qvx
