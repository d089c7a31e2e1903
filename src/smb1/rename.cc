#include "smb1/rename.h"

#include <cstdio>
#include <cstring>

#include "audit/file_access.h"
#include "audit/path_road.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "platform/platform.h"
#include "smb1/strings.h"

namespace qvx {

namespace {

inline constexpr unsigned char kBufferFormat = 0x04;

// The data bytes of a request whose parameter block (WordCount first) has words words: their
// index in recvData and count, all of them inside the frame. False when the block or the data
// bytes do not lie inside the frame, the WordCount differs or there are no data bytes.
bool DataBytes(unsigned long Len, const unsigned char* recvData, long cursor, unsigned words,
               unsigned long* start, unsigned long* count) {
  if (cursor < 1) return false;
  const unsigned long at = static_cast<unsigned long>(cursor - 1);
  const unsigned long block = 1 + 2 * words + 2;
  if (Len < at || Len - at < block || recvData[at] != words) return false;
  const unsigned long B = recvData[at + block - 2] | recvData[at + block - 1] << 8;
  if (B == 0 || B > Len - at - block) return false;
  *start = at + block;
  *count = B;
  return true;
}

// The name converted; false (with the D41-001 line of the routine) when the conversion fails.
bool Convert(const unsigned char* wide, char* out, const char* routine, const char* buffer,
             const char* rc_id, const char* rc_name) {
  const int rc = QVX_ConvertWideName(wide, out, kAccessNameSize);
  if (rc == 0) {
    DiagLogLine(DiagLog::kKernel, 1, "QVX_D41-001 %s[%d][%ld] : WideCharToMultiByte %s %s \r\n",
                routine, __LINE__, platform().LastError(), buffer, out);
    return false;
  }
  if (QVX_TraceLevel(6))
    DiagLogLine(DiagLog::kKernel, 1, "%s %s[%d][%ld] : WideCharToMultiByte %s=%d\r\n", rc_id,
                routine, __LINE__, platform().LastError(), rc_name, rc);
  return true;
}

// The data bytes of a request and the name that follows their first BufferFormat byte,
// converted into name (kAccessNameSize bytes); after is the frame index just past the name and end
// that of the data bytes' end. False when the request is dropped: no data bytes inside the frame,
// another BufferFormat, a failed conversion or an empty name.
struct FirstName {
  Smb1Text text;
  unsigned long after = 0;
  unsigned long end = 0;
};
bool ReadFirstName(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
                   long cursor, unsigned words, const char* routine, const char* rc_id,
                   const char* rc_name, FirstName* f, char* name) {
  unsigned long start = 0, n = 0;
  if (!DataBytes(Len, recvData, cursor, words, &start, &n)) return false;
  if (recvData[start] != kBufferFormat) return false;
  f->text = QVX_Smb1TextOf(h, Len, recvData, cursor);
  f->end = start + n;
  unsigned char wide[kWideNameSize] = {};
  f->after = QVX_Smb1ReadString(f->text, start + 1, f->end, wide);
  if (!Convert(wide, name, routine, "sBuffer1", rc_id, rc_name)) return false;
  return name[0] != '\0';
}

// The record of a request with the ids of its header.
PathRequest RequestOf(const SMB_HEADER_ST& h, const char* routine, char* name, int verdict,
                      const unsigned char* recvData) {
  PathRequest r;
  r.routine = routine;
  r.tid = h.TID;
  r.pid = h.PIDLow;
  r.uid = h.UID;
  r.mid = h.MID;
  r.name = name;
  r.verdict = verdict;
  r.frame = recvData;
  return r;
}

}  // namespace

int QVX_SmbComRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  FirstName f;
  char old_name[kAccessNameSize] = {};
  if (!ReadFirstName(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, 1, "QVX_SmbComRename",
                     "QVX_D61-001", "rc1", &f, old_name))
    return 10;
  // BufferFormat2 follows the old name's terminator; the new name follows it (a Unicode one after
  // its pad).
  if (f.after >= f.end || recvData[f.after] != kBufferFormat) return 10;
  unsigned char new_wide[kWideNameSize] = {};
  QVX_Smb1ReadString(f.text, f.after + 1, f.end, new_wide);
  char new_name[kAccessNameSize] = {};
  if (!Convert(new_wide, new_name, "QVX_SmbComRename", "sBuffer2", "QVX_D61-002", "rc2")) return 10;
  if (new_name[0] == '\0') return 10;
  PathRequest r = RequestOf(*SMB_HEADER, "QVX_SmbComRename", old_name, kVerdictRenamed, recvData);
  r.new_name = new_name;
  return QVX_AuditPathCommand(r, data);
}

namespace {

// A request that names one object and does one thing to it (remove a folder, make one, delete a
// file): one line each time it is seen, with what the server answered. verdict is what it does.
int PathCommand(SMB_HEADER_ST* h, unsigned long Len, unsigned char* recvData, long cursor,
                unsigned words, const char* routine, const char* rc_id, int verdict, DATA* data) {
  QVX_DBG();
  FirstName f;
  char name[kAccessNameSize] = {};
  if (!ReadFirstName(*h, Len, recvData, cursor, words, routine, rc_id, "rc", &f, name)) return 10;
  return QVX_AuditPathCommand(RequestOf(*h, routine, name, verdict, recvData), data);
}

}  // namespace

int QVX_ComDeleteDirectory(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data) {
  return PathCommand(SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, 0, "QVX_ComDeleteDirectory",
                     "QVX_D71-001", kVerdictGone, data);
}

int QVX_SmbCreateDirectory(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data) {
  return PathCommand(SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, 0, "QVX_SmbCreateDirectory",
                     "QVX_D71-002", kVerdictNew, data);
}

int QVX_SmbComDelete(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  // One word: the search attributes.
  return PathCommand(SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, 1, "QVX_SmbComDelete",
                     "QVX_D71-003", kVerdictGone, data);
}

}  // namespace qvx
