#include "smb2/other_command.h"

#include <cstring>

#include "audit/file_access.h"
#include "audit/other_access.h"
#include "wire/le.h"

namespace qvx {

bool QVX_Smb2RenameTarget(const unsigned char* d, unsigned long Len, unsigned long body,
                          unsigned char* wide, unsigned long wide_size) {
  // SET_INFO request: InfoType 1 (file), FileInfoClass 10 (rename), the buffer placed by an
  // offset from the start of the SMB2 header. Bounds are summed in 64 bits: unsigned long is 32
  // bits on Windows, where a huge BufferLength or FileNameLength would wrap past the checks.
  const uint64_t len = Len;
  if (body < 64 || uint64_t{body} + 32 > len || d[body + 2] != 1 || d[body + 3] != 10) return false;
  const uint64_t header = body - 64;
  const uint64_t length =
      d[body + 4] | d[body + 5] << 8 | d[body + 6] << 16 | static_cast<uint64_t>(d[body + 7]) << 24;
  const uint64_t offset = d[body + 8] | d[body + 9] << 8;
  const uint64_t buffer = header + offset;
  // ReplaceIfExists, Reserved, RootDirectory, FileNameLength, FileName.
  if (length < 20 || buffer + 20 > len || buffer + length > len) return false;
  const uint64_t name_len = d[buffer + 16] | d[buffer + 17] << 8 | d[buffer + 18] << 16 |
                            static_cast<uint64_t>(d[buffer + 19]) << 24;
  if (name_len == 0 || name_len % 2 != 0 || name_len > length - 20 ||
      buffer + 20 + name_len > len || wide_size < 6)
    return false;
  unsigned long n = 0;
  const unsigned char* name = d + buffer + 20;
  if (!(name[0] == 0x5C && name[1] == 0)) {
    wide[n++] = 0x5C;
    wide[n++] = 0;
  }
  // Whole units, one kept for the terminating zero.
  for (uint64_t q = 0; q + 1 < name_len && n + 2 < wide_size; q += 2) {
    wide[n++] = name[q];
    wide[n++] = name[q + 1];
  }
  wide[n] = 0;
  wide[n + 1] = 0;
  return true;
}

int QVX_Smb2OtherCmd(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  if (SMB_Total_Packet_Size < 1 || Len <= static_cast<unsigned long>(SMB_Total_Packet_Size))
    return 10;
  OtherCmdFrame f;
  f.version = 2;
  f.routine = "QVX_Smb2OtherCmd";
  f.Len = Len;
  f.recvData = recvData;
  f.body = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  f.tid = QVX_Smb2TreeId(SMB2_HEADER);
  unsigned char target[kWideNameSize] = {};
  if (SMB2_HEADER->Command == 0x11 &&
      QVX_Smb2RenameTarget(recvData, Len, f.body, target, sizeof target))
    f.rename_target = target;
  f.data = data;
  return QVX_OtherCmdAccess(f);
}

}  // namespace qvx
