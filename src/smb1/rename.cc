#include "smb1/rename.h"

#include <cstdio>
#include <cstring>

#include "audit/answer.h"
#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "tracking/request_path.h"
#include "tracking/session_tree.h"
#include "wire/smb_command_table.h"

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

// A UTF-16LE name from index pos of the data bytes d[0, n): units up to a zero unit or the end of
// the data. The first units that fit are kept in wide (kWideNameSize bytes, zeroed by the
// caller); returns the index just past the zero unit, or n when the data ended first.
unsigned long ReadName(const unsigned char* d, unsigned long n, unsigned long pos,
                       unsigned char* wide) {
  size_t kept = 0;
  for (; pos + 1 < n; pos += 2) {
    if (d[pos] == 0 && d[pos + 1] == 0) return pos + 2;
    if (kept + 2 < kWideNameSize) {
      wide[kept] = d[pos];
      wide[kept + 1] = d[pos + 1];
      kept += 2;
    }
  }
  return n;
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

// The data bytes of a request (d, n) and the name that follows their first BufferFormat byte,
// converted into name (kAccessNameSize bytes); *after is the index just past the name. False when
// the request is dropped: no data bytes inside the frame, another BufferFormat, a failed
// conversion or an empty name.
struct FirstName {
  const unsigned char* d = nullptr;
  unsigned long n = 0;
  unsigned long after = 0;
};
bool ReadFirstName(unsigned long Len, const unsigned char* recvData, long cursor, unsigned words,
                   const char* routine, const char* rc_id, const char* rc_name, FirstName* f,
                   char* name) {
  unsigned long start = 0;
  if (!DataBytes(Len, recvData, cursor, words, &start, &f->n)) return false;
  f->d = recvData + start;
  if (f->d[0] != kBufferFormat) return false;
  unsigned char wide[kWideNameSize] = {};
  f->after = ReadName(f->d, f->n, 1, wide);
  if (!Convert(wide, name, routine, "sBuffer1", rc_id, rc_name)) return false;
  return name[0] != '\0';
}

// The tree of the request and the call both handlers share. 10 when the request is dropped.
int FindTree(SMB_HEADER_ST* h, const unsigned char* recvData, const char* routine, const char* name,
             DATA* data, FileAccessCall* c, int* slot) {
  int how = 0;
  if (QVXTreeIDGetInfo(h->TID, h->PIDLow, h->UID, h->MID, recvData, name, slot, &how, data) == 10)
    return 10;
  if (QVX_TreeIsIpc(*slot)) return 10;
  const Smb_Command_St& cmd = QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand);
  c->routine = routine;
  c->tree_id = h->TID;
  c->uid = h->UID;
  c->recvData = recvData;
  c->name = name;
  c->cmd = cmd.Name;
  c->info = cmd.Description;
  c->now = data->ctx->platform->Now();
  c->data = data;
  c->every_time = true;  // a rename or a removal is logged each time it is seen
  if (how == kTreeGuessed && QVX_CompleteWaitRow(*c, *slot, true) == 10) return 10;
  return 0;
}

// The local path of a share-relative name (inside: QVX_ResolveAccessName kept it in the share):
// the tree's folder joined with it. A tree whose folder no open has set yet takes it from its
// share; without one the name stays as sent. A name leaving the share is never joined: it reads
// as the outside-share mark and the name as sent.
void LocalPath(const FileAccessCall& c, int slot, const char* name, bool inside, char* out,
               size_t size) {
  TreeConnectSt& t = TreeConnect[slot];
  if (t.ShareLocalPath[0] == '\0') {
    FileAccessCall probe = c;
    probe.name = name;
    probe.outside = !inside;
    probe.share_trace = false;
    if (QVX_MapTreeShare(probe, slot, out, size, LocalPathForm::kWithoutSeparator)) return;
  } else if (inside) {
    QVX_JoinSharePath(t.ShareLocalPath, name, out, size);
    return;
  }
  std::snprintf(out, size, "%s%s", inside ? "" : kOutsideShareMark, name);
}

}  // namespace

int QVX_SmbComRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  FirstName f;
  char old_name[kAccessNameSize] = {};
  if (!ReadFirstName(Len, recvData, SMB_Total_Packet_Size, 1, "QVX_SmbComRename", "QVX_D61-001",
                     "rc1", &f, old_name))
    return 10;
  // BufferFormat2 follows the old name's zero unit; the new name follows its alignment byte.
  if (f.after >= f.n || f.d[f.after] != kBufferFormat) return 10;
  unsigned char new_wide[kWideNameSize] = {};
  ReadName(f.d, f.n, f.after + 2, new_wide);
  char new_name[kAccessNameSize] = {};
  if (!Convert(new_wide, new_name, "QVX_SmbComRename", "sBuffer2", "QVX_D61-002", "rc2")) return 10;
  if (new_name[0] == '\0') return 10;
  const bool old_inside = QVX_ResolveAccessName(old_name, sizeof old_name);
  const bool new_inside = QVX_ResolveAccessName(new_name, sizeof new_name);
  const AnswerFacts* answer = QVX_RequestAnswer();
  if (answer && !answer->Ok() && QVX_RefusalSilent("QVX_SmbComRename", old_name, answer->status))
    return 0;

  static char both[2 * kAccessNameSize + 8];
  std::snprintf(both, sizeof both, "%s >> %s", old_name, new_name);
  FileAccessCall c;
  int slot = 0;
  if (FindTree(SMB_HEADER, recvData, "QVX_SmbComRename", both, data, &c, &slot) == 10) return 10;
  c.outside = !old_inside || !new_inside;
  static char old_full[kAccessPathSize], new_full[kAccessPathSize];
  LocalPath(c, slot, old_name, old_inside, old_full, sizeof old_full);
  LocalPath(c, slot, new_name, new_inside, new_full, sizeof new_full);
  if (QVX_ExclusionInfoChk(old_full, 0) != 0) return 10;
  if (QVX_ExclusionInfoChk(new_full, 0) != 0) return 10;
  static char path[2 * kAccessPathSize + 8];
  std::snprintf(path, sizeof path, "%s >> %s", old_full, new_full);
  if (answer && !answer->Ok())
    return QVX_DeniedRecord(c, slot, path, kVerdictRenamed, answer->status);
  QVX_AccessRecord(c, slot, path, 0, QVX_OperationText(kVerdictRenamed));
  QVX_DBG();
  return 0;
}

namespace {

// A request that names one object and does one thing to it (remove a folder, make one, delete a
// file): one line each time it is seen, with what the server answered. verdict is what it does.
int PathCommand(SMB_HEADER_ST* h, unsigned long Len, unsigned char* recvData, long cursor,
                unsigned words, const char* routine, const char* rc_id, int verdict, DATA* data) {
  QVX_DBG();
  unsigned long start = 0, n = 0;
  if (!DataBytes(Len, recvData, cursor, words, &start, &n)) return 10;
  const unsigned char* d = recvData + start;
  if (d[0] != kBufferFormat) return 10;
  unsigned char wide[kWideNameSize] = {};
  ReadName(d, n, 1, wide);
  char name[kAccessNameSize] = {};
  if (!Convert(wide, name, routine, "sBuffer1", rc_id, "rc")) return 10;
  if (name[0] == '\0') return 10;
  const bool inside = QVX_ResolveAccessName(name, sizeof name);
  const AnswerFacts* answer = QVX_RequestAnswer();
  if (answer && !answer->Ok() && QVX_RefusalSilent(routine, name, answer->status)) return 0;

  FileAccessCall c;
  int slot = 0;
  if (FindTree(h, recvData, routine, name, data, &c, &slot) == 10) return 10;
  c.outside = !inside;
  static char full[kAccessPathSize];
  LocalPath(c, slot, name, inside, full, sizeof full);
  if (QVX_ExclusionInfoChk(full, 0) != 0) return 10;
  if (answer && !answer->Ok()) return QVX_DeniedRecord(c, slot, full, verdict, answer->status);
  QVX_AccessRecord(c, slot, full, 0, QVX_OperationText(verdict));
  QVX_DBG();
  return 0;
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
