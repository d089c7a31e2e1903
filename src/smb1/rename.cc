#include "smb1/rename.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "audit/file_access.h"
#include "audit/path_road.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "base/text.h"
#include "platform/platform.h"
#include "smb1/message.h"
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

namespace {

// The two names of a request (BufferFormat, old name, BufferFormat, new name) that does verdict
// from the one to the other; new_tid the tree of the new name when the request names one.
int TwoNames(SMB_HEADER_ST* h, unsigned long Len, unsigned char* recvData, long cursor,
             unsigned words, const char* routine, int verdict, uint16_t new_tid, DATA* data) {
  QVX_DBG();
  FirstName f;
  char old_name[kAccessNameSize] = {};
  if (!ReadFirstName(*h, Len, recvData, cursor, words, routine, "QVX_D61-001", "rc1", &f, old_name))
    return 10;
  // BufferFormat2 follows the old name's terminator; the new name follows it (a Unicode one after
  // its pad).
  if (f.after >= f.end || recvData[f.after] != kBufferFormat) return 10;
  unsigned char new_wide[kWideNameSize] = {};
  QVX_Smb1ReadString(f.text, f.after + 1, f.end, new_wide);
  char new_name[kAccessNameSize] = {};
  if (!Convert(new_wide, new_name, routine, "sBuffer2", "QVX_D61-002", "rc2")) return 10;
  if (new_name[0] == '\0') return 10;
  PathRequest r = RequestOf(*h, routine, old_name, verdict, nullptr);
  r.new_name = new_name;
  r.new_tid = new_tid;
  return QVX_AuditPathCommand(r, data);
}

// The parameter word at byte offset at of a request whose WordCount is words (checked by the
// name reader after it).
uint16_t WordAt(unsigned long Len, const unsigned char* recvData, long cursor, unsigned words,
                unsigned at) {
  if (cursor < 1) return 0;
  const unsigned long block = static_cast<unsigned long>(cursor);
  if (at + 2 > 2 * words || block + at + 2 > Len) return 0;
  return static_cast<uint16_t>(recvData[block + at] | recvData[block + at + 1] << 8);
}

}  // namespace

int QVX_SmbComRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  return TwoNames(SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, 1, "QVX_SmbComRename",
                  kVerdictRenamed, 0, data);
}

int QVX_SmbNtRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data) {
  const long c = SMB_Total_Packet_Size;
  switch (SMB_HEADER->Command) {
    case 0xA5: {  // NT_RENAME: SearchAttributes, InformationLevel, ClusterCount
      int verdict = 0;
      switch (WordAt(Len, recvData, c, 4, 2)) {
        case 0x103:  // SMB_NT_RENAME_SET_LINK_INFO
          verdict = kVerdictLinked;
          break;
        case 0x104:  // SMB_NT_RENAME_RENAME_FILE
          verdict = kVerdictRenamed;
          break;
        case 0x105:  // a copy
          verdict = kVerdictCopied;
          break;
        default:  // moving clusters changes no name
          return 10;
      }
      return TwoNames(SMB_HEADER, Len, recvData, c, 4, "QVX_SmbNtRename", verdict, 0, data);
    }
    case 0x29:    // COPY: Tid2 (the destination's tree), OpenFunction, Flags
    case 0x2A: {  // MOVE: the same
      const uint16_t tid2 = WordAt(Len, recvData, c, 3, 0);
      return TwoNames(SMB_HEADER, Len, recvData, c, 3, "QVX_SmbNtRename",
                      SMB_HEADER->Command == 0x29 ? kVerdictCopied : kVerdictRenamed,
                      tid2 == 0xFFFF ? 0 : tid2, data);
    }
    default:
      return 10;
  }
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
  if (SMB_HEADER->Command == 0x32) {
    // TRANSACTION2 CREATE_DIRECTORY: Reserved (4), then the name in the parameters.
    Smb1Message m;
    Smb1TransBlocks b;
    if (!QVX_Smb1MessageOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, &m) ||
        !QVX_Smb1Trans2Blocks(m, &b) || b.sub != 0x0D || b.params_size <= 4)
      return 10;
    Smb1Text in_params = m.text;
    in_params.header = b.params_at;
    std::string name;
    if (!QVX_Smb1ReadName(in_params, b.params_at + 4, b.params_at + b.params_size, &name) ||
        name.empty())
      return 10;
    char buffer[kAccessNameSize] = {};
    CopyText(buffer, sizeof buffer, name.c_str());
    return QVX_AuditPathCommand(
        RequestOf(*SMB_HEADER, "QVX_SmbCreateDirectory", buffer, kVerdictNew, nullptr), data);
  }
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
