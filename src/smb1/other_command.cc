#include "smb1/other_command.h"

#include <cstdint>

#include "audit/file_access.h"
#include "audit/other_access.h"
#include "audit/verdict.h"
#include "smb1/strings.h"

namespace qvx {

namespace {

constexpr uint8_t kTransaction = 0x25, kTrans2 = 0x32;
// TRANS2 subcommands that read by path, and where their parameters name the object (bytes before
// the name). Opens, settings and folder creation have handlers of their own.
constexpr unsigned kFindFirst2 = 1, kQueryPathInformation = 5;
constexpr unsigned char kBufferFormat = 0x04;

// Where the name of a TRANS2 request starts in its parameters; -1 for a subcommand that names no
// object by path (handles, searches continued, the file system, DFS referrals).
long Trans2NameOffset(unsigned sub) {
  switch (sub) {
    case kFindFirst2:
      return 12;
    case kQueryPathInformation:
      return 6;
    default:
      return -1;
  }
}

// Commands whose data bytes are BufferFormat 0x04 and the name of the object they read.
bool NamedByBufferFormat(uint8_t command) {
  switch (command) {
    case 0x08:  // QUERY_INFORMATION
    case 0x10:  // CHECK_DIRECTORY
    case 0x81:  // SEARCH
    case 0x82:  // FIND
    case 0x83:  // FIND_UNIQUE
      return true;
    default:
      return false;
  }
}

}  // namespace

int QVX_SmbOtherCmd(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data) {
  if (SMB_Total_Packet_Size < 1 || Len < static_cast<unsigned long>(SMB_Total_Packet_Size))
    return 10;
  const uint8_t command = SMB_HEADER->Command;
  // A named-pipe transaction carries the pipe's data, never a path.
  if (command == kTransaction) return 10;
  OtherCmdFrame f;
  f.version = 1;
  f.routine = "QVX_SmbOtherCmd";
  f.Len = Len;
  f.recvData = recvData;
  // Names lie in the data bytes after the parameter words and ByteCount; the words hold FIDs,
  // offsets and counts, whose bytes may look like the start of a path.
  const unsigned long word_count_at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (word_count_at >= Len) return 10;
  const uint8_t words = recvData[word_count_at];
  const unsigned long bytes_at = word_count_at + 1 + 2ul * words + 2;
  if (bytes_at >= Len) return 10;
  const Smb1Text text = QVX_Smb1TextOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size);

  // The name of the commands whose layout is known is read where it stands, in the client's
  // strings. The others are searched for a Unicode path (OEM text gives no pattern to find).
  unsigned char wide[kWideNameSize] = {};
  bool named = false;
  if (command == kTrans2) {
    if (words < 15) return 10;
    const unsigned long setup_at = word_count_at + 1 + 2ul * 14;
    const unsigned sub = recvData[setup_at] | recvData[setup_at + 1] << 8;
    const long name_offset = Trans2NameOffset(sub);
    if (name_offset < 0) return 10;
    const unsigned long p = word_count_at + 1;
    const unsigned long count = recvData[p + 18] | recvData[p + 19] << 8;
    const unsigned long offset = recvData[p + 20] | recvData[p + 21] << 8;
    const unsigned long params = text.header + offset;
    if (offset == 0 || params >= Len || count <= static_cast<unsigned long>(name_offset)) return 10;
    // Parameters start at an even offset, so their name needs no pad.
    Smb1Text in_params = text;
    in_params.header = params;
    QVX_Smb1ReadString(in_params, params + static_cast<unsigned long>(name_offset), params + count,
                       wide);
    f.search = sub == kFindFirst2;
    named = true;
  } else if (NamedByBufferFormat(command)) {
    if (recvData[bytes_at] != kBufferFormat) return 10;
    QVX_Smb1ReadString(text, bytes_at + 1, Len, wide);
    f.search = command >= 0x81;
    named = true;
  } else if (!text.unicode) {
    return 10;
  }
  if (named) {
    if (wide[0] == 0 && wide[1] == 0) return 10;
    f.name_wide = wide;
  }
  f.body = bytes_at;
  f.tid = SMB_HEADER->TID;
  f.pid = SMB_HEADER->PIDLow;
  f.uid = SMB_HEADER->UID;
  f.mid = SMB_HEADER->MID;
  f.data = data;
  return QVX_OtherCmdAccess(f);
}

}  // namespace qvx
