#include "smb2/other_command.h"

#include <algorithm>
#include <cstring>

#include "audit/file_access.h"
#include "audit/other_access.h"
#include "wire/le.h"

namespace qvx {

namespace {

constexpr uint16_t kQueryDirectory = 0x0E;
constexpr uint16_t kSetInfo = 0x11;

// QUERY_DIRECTORY: the FileName (search pattern) placed by FileNameOffset (from the SMB2 header)
// and FileNameLength, cut at the frame's end. False when the request carries none.
bool QueryDirectoryName(const unsigned char* d, unsigned long Len, unsigned long body,
                        unsigned long* start, unsigned long* end) {
  if (body < 64 || !wire::Fits(Len, body, 32)) return false;
  const uint64_t offset = wire::LoadLe16(d + body + 24);
  const uint64_t length = wire::LoadLe16(d + body + 26);
  const uint64_t from = body - 64 + offset;
  if (length == 0 || from < body + 32 || from >= Len) return false;
  *start = static_cast<unsigned long>(from);
  *end = static_cast<unsigned long>(std::min<uint64_t>(from + length, Len));
  return true;
}

}  // namespace

bool QVX_Smb2RenameTarget(const unsigned char* d, unsigned long Len, unsigned long body,
                          unsigned char* wide, unsigned long wide_size) {
  // SET_INFO request: InfoType 1 (file), FileInfoClass 10 (rename) or 11 (hard link, the same
  // layout), the buffer placed by an
  // offset from the start of the SMB2 header. Bounds are summed in 64 bits: unsigned long is 32
  // bits on Windows, where a huge BufferLength or FileNameLength would wrap past the checks.
  const uint64_t len = Len;
  if (body < 64 || uint64_t{body} + 32 > len || d[body + 2] != 1 ||
      (d[body + 3] != 10 && d[body + 3] != 11))
    return false;
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
  // Only two requests carry a name of their own beside CREATE: the target of a rename or hard
  // link, and a directory search's pattern. Every other body is binary (file ids, offsets,
  // security blobs), where a backslash followed by any byte would be read as a path.
  unsigned char target[kWideNameSize] = {};
  if (SMB2_HEADER->Command == kSetInfo) {
    if (!QVX_Smb2RenameTarget(recvData, Len, f.body, target, sizeof target)) return 10;
    f.name_wide = target;
  } else if (SMB2_HEADER->Command != kQueryDirectory ||
             !QueryDirectoryName(recvData, Len, f.body, &f.body, &f.end)) {
    return 10;
  }
  f.data = data;
  return QVX_OtherCmdAccess(f);
}

}  // namespace qvx
