// The SMB1 and SMB2 command tables: which commands the capture loop passes on, and the
// "SMB Cmd" / "SMB Info" texts of each access record.
#pragma once

#include <cstdint>

namespace qvx {

struct Smb_Command_St {
  int32_t Index;
  uint8_t Command;
  char Name[48];
  char Description[131];
};

struct Smb2_Command_St {
  int32_t Index;
  int32_t Command;
  char Name[48];
  char Description[128];
};

inline constexpr int kSmbCommandRows = 68;
inline constexpr int kSmb2CommandRows = 22;
// Searches cover rows 0..kSmbSearchLast; the naming row when no name is wanted or found.
inline constexpr int kSmbSearchLast = 65;
inline constexpr int kSmbNoNameRow = 66;
inline constexpr int kSmb2SearchLast = 19;
inline constexpr int kSmb2NoNameRow = 20;

extern Smb_Command_St Smb_Command[kSmbCommandRows];
extern Smb2_Command_St Smb2_Command[kSmb2CommandRows];

struct OptionInfoSt;
// Takes rows out of service as the start-up options o say (writes 255 into their codes).
// Called once, right after the configuration is read.
void QVX_ApplyCommandTableOptions(const OptionInfoSt& o);

// The command gate: does a searched row carry this command?
bool QVX_Smb1CommandKnown(uint8_t command);
bool QVX_Smb2CommandKnown(uint16_t command);

// The row that names an access record: the no-name row when SMBCmdListFlg is 0, else the first
// searched row with the command, else the no-name row.
const Smb_Command_St& QVX_Smb1CommandRow(int SMBCmdListFlg, int SMBCommand);
const Smb2_Command_St& QVX_Smb2CommandRow(int SMBCmdListFlg, int SMBCommand);

// The "SMB Cmd" and "SMB Info" texts of that row, for SMB version 1 or 2.
struct CommandTexts {
  const char* name;
  const char* info;
};
CommandTexts QVX_CommandTexts(int version, int SMBCmdListFlg, int SMBCommand);

}  // namespace qvx
