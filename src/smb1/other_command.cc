#include "smb1/other_command.h"

#include <cstdint>

#include "audit/other_access.h"

namespace qvx {

namespace {
constexpr uint8_t kTrans2 = 0x32;
constexpr unsigned kFindFirst2 = 1, kFindNext2 = 2, kQueryFileInformation = 7,
                   kSetFileInformation = 8;
}  // namespace

int QVX_SmbOtherCmd(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data) {
  if (SMB_Total_Packet_Size < 1 || Len < static_cast<unsigned long>(SMB_Total_Packet_Size))
    return 10;
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
  // A TRANS2 on an open handle (FIND_NEXT2, QUERY_FILE_INFORMATION, SET_FILE_INFORMATION)
  // names no object: its parameters start with a search id or FID.
  if (SMB_HEADER->Command == kTrans2 && words >= 15) {
    const unsigned long setup_at = word_count_at + 1 + 2ul * 14;
    const unsigned sub = recvData[setup_at] | recvData[setup_at + 1] << 8;
    if (sub == kFindNext2 || sub == kQueryFileInformation || sub == kSetFileInformation) return 10;
    f.search = sub == kFindFirst2;
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
