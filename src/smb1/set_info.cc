#include "smb1/set_info.h"

#include <cstring>

#include "audit/change_text.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "audit/open_road.h"
#include "audit/path_road.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "base/text.h"
#include "wire/le.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

constexpr uint8_t kSetInformation = 0x09, kSetInformation2 = 0x22, kTrans2 = 0x32;
constexpr uint16_t kSetPathInformation = 6, kSetFileInformation = 8;
constexpr unsigned char kBufferFormat = 0x04;
constexpr uint32_t kAttributeNormal = 0x80;

// A FILETIME in UTC of seconds since 1970 in the server's local time.
uint64_t LocalSecondsFiletime(int64_t local, int64_t zone) {
  return wire::FiletimeOfUnix(local - zone);
}

// An SMB_DATE and SMB_TIME (date first, as SET_INFORMATION2 and SMB_INFO_STANDARD carry them):
// 0 when both are 0 or all ones, which leave the time alone.
uint64_t DosDateTime(uint16_t date, uint16_t time, int64_t zone) {
  if ((date == 0 && time == 0) || (date == 0xFFFF && time == 0xFFFF)) return 0;
  const unsigned day = date & 0x1F, month = (date >> 5) & 0x0F;
  if (day == 0 || month == 0 || month > 12) return 0;
  const int64_t days = QVX_DaysFromCivil(1980 + (date >> 9), month, day);
  const int64_t seconds =
      days * 86400 + (time >> 11) * 3600 + ((time >> 5) & 0x3F) * 60 + (time & 0x1F) * 2;
  return LocalSecondsFiletime(seconds, zone);
}

uint64_t DosAt(const unsigned char* p, int64_t zone) {
  return DosDateTime(wire::LoadLe16(p), wire::LoadLe16(p + 2), zone);
}

// What an information level's data (n bytes at d, at index at of the frame) changes.
void ReadLevel(const Smb1Text& text, unsigned long at, unsigned long n, int64_t zone,
               Smb1SetInfoRecord* r) {
  using Change = Smb1SetInfoRecord::Change;
  const unsigned char* d = text.frame + at;
  // The strings of the data are aligned from its own start.
  Smb1Text in_data = text;
  in_data.header = at;
  switch (r->level) {
    case 1:  // SMB_INFO_STANDARD: creation, last access and last write as DOS dates
      if (n < 12) return;
      r->basic.creation = DosAt(d, zone);
      r->basic.last_access = DosAt(d + 4, zone);
      r->basic.last_write = DosAt(d + 8, zone);
      r->change = Change::kBasic;
      return;
    case 2:     // SMB_INFO_SET_EAS
    case 1015:  // FileFullEaInformation
      r->change = Change::kExtendedAttributes;
      return;
    case 0x101:  // SMB_SET_FILE_BASIC_INFO
    case 1004:   // FileBasicInformation
      if (wire::ReadFileBasicInfo(d, n, &r->basic)) r->change = Change::kBasic;
      return;
    case 0x102:  // SMB_SET_FILE_DISPOSITION_INFO
    case 1013:   // FileDispositionInformation
      if (n < 1) return;
      r->delete_pending = d[0] != 0;
      r->change = Change::kDelete;
      return;
    case 0x103:  // SMB_SET_FILE_ALLOCATION_INFO
    case 0x104:  // SMB_SET_FILE_END_OF_FILE_INFO
    case 1019:   // FileAllocationInformation
    case 1020:   // FileEndOfFileInformation
      r->change = Change::kSize;
      return;
    case 1010: {  // FileRenameInformation: ReplaceIfExists, 3 reserved bytes, RootDirectory,
                  // FileNameLength, FileName
      if (n < 12) return;
      const unsigned long length = wire::LoadLe32(d + 8);
      const unsigned long end = length < n - 12 ? at + 12 + length : at + n;
      if (QVX_Smb1ReadName(in_data, at + 12, end, &r->target) && !r->target.empty())
        r->change = Change::kRename;
      return;
    }
    case 1011: {  // FileLinkInformation: ReplaceIfExists, 7 reserved bytes, RootDirectory,
                  // FileNameLength at 16, FileName
      if (n < 20) return;
      const unsigned long length = wire::LoadLe32(d + 16);
      const unsigned long end = length < n - 20 ? at + 20 + length : at + n;
      if (QVX_Smb1ReadName(in_data, at + 20, end, &r->target) && !r->target.empty())
        r->change = Change::kLink;
      return;
    }
    default:
      return;
  }
}

int VerdictOf(Smb1SetInfoRecord::Change change) {
  using Change = Smb1SetInfoRecord::Change;
  switch (change) {
    case Change::kSize:
      return kVerdictWritten;
    case Change::kDelete:
      return kVerdictGone;
    case Change::kRename:
      return kVerdictRenamed;
    case Change::kLink:
      return kVerdictLinked;
    default:
      return kVerdictAttributes;
  }
}

// What an attribute change did, in words; empty when it changes nothing.
std::string ChangeText(const Smb1SetInfoRecord& r, const LocalTime& now) {
  if (r.change == Smb1SetInfoRecord::Change::kExtendedAttributes) return "extended attributes";
  return QVX_BasicInfoText(r.basic, now.t);
}

// A change through an open handle.
int OnHandle(const Smb1SetInfoRecord& r, DATA* data) {
  using Change = Smb1SetInfoRecord::Change;
  CaptureContext& ctx = *data->ctx;
  OpenFile* f = ctx.open_files.Find(QVX_OpenFileKeyOf(ctx.ends, 1, 0, 0, r.fid));
  const AnswerFacts* a = ctx.answer;
  // Without the answer nothing is known of the change's effect.
  if (f == nullptr || a == nullptr || r.change == Change::kNone) return 0;
  const Smb_Command_St& row = QVX_Smb1CommandRow(data->SMBCmdListFlg, r.command);
  if (!a->Ok()) {
    QVX_HandleRefused(ctx, *f, VerdictOf(r.change), row.Name, a->status);
    return 0;
  }
  switch (r.change) {
    case Change::kDelete:
      f->delete_pending = r.delete_pending;
      return 0;
    case Change::kSize:
      QVX_HandleWritten(ctx, f, row.Name, row.Description);
      return 0;
    case Change::kRename:
    case Change::kLink: {
      char target[kAccessNameSize] = {};
      CopyText(target, sizeof target, r.target.c_str());
      if (r.change == Change::kRename)
        return QVX_AuditHandleRenameInFolder(f, r.tid, target, row.Name, row.Description, data);
      return QVX_AuditHandleTarget(f, kVerdictLinked, r.tid, target, nullptr, row.Name,
                                   row.Description, data);
    }
    default: {
      const std::string text = ChangeText(r, ctx.platform->Now());
      if (!text.empty()) QVX_HandleChanged(ctx, *f, kVerdictAttributes, row.Name, text.c_str());
      return 0;
    }
  }
}

// A change of the object a name names.
int OnPath(const Smb1SetInfoRecord& r, DATA* data) {
  using Change = Smb1SetInfoRecord::Change;
  if (r.change == Change::kNone) return 10;
  if (r.change == Change::kDelete && !r.delete_pending) return 0;
  std::string text;
  if (r.change == Change::kBasic || r.change == Change::kExtendedAttributes) {
    text = ChangeText(r, data->ctx->platform->Now());
    if (text.empty()) return 0;
  }
  char name[kAccessNameSize] = {}, new_name[kAccessNameSize] = {};
  CopyText(name, sizeof name, r.name.c_str());
  PathRequest q;
  q.routine = "QVX_SmbSetInfo";
  q.tid = r.tid;
  q.pid = r.pid;
  q.uid = r.uid;
  q.mid = r.mid;
  q.name = name;
  q.verdict = VerdictOf(r.change);
  if (!text.empty()) q.info = text.c_str();
  if (r.change == Change::kRename || r.change == Change::kLink) {
    // A bare new name of a rename is one in the old name's folder.
    std::string target = r.target;
    if (r.change == Change::kRename && target.find_first_of("\\/") == std::string::npos) {
      const size_t sep = r.name.find_last_of('\\');
      target = (sep == std::string::npos ? std::string() : r.name.substr(0, sep + 1)) + target;
    }
    CopyText(new_name, sizeof new_name, target.c_str());
    q.new_name = new_name;
  }
  return QVX_AuditPathCommand(q, data);
}

}  // namespace

bool QVX_Smb1ReadSetInfo(const Smb1Message& m, int64_t zone, Smb1SetInfoRecord* out) {
  Smb1SetInfoRecord r;
  QVX_Smb1TakeIds(m, &r);
  const unsigned char* f = m.text.frame;
  switch (m.command) {
    case kSetInformation: {  // FileAttributes, LastWriteTime (UTIME), 10 reserved bytes;
                             // BufferFormat, FileName
      if (m.word_count < 3 || m.bytes_at >= m.bytes_end || f[m.bytes_at] != kBufferFormat)
        return false;
      if (!QVX_Smb1ReadName(m.text, m.bytes_at + 1, m.bytes_end, &r.name)) return false;
      // Attributes 0 clear them all: the file is then "normal".
      const uint16_t attributes = m.Word16(0);
      r.basic.attributes = attributes == 0 ? kAttributeNormal : attributes;
      const uint32_t utime = m.Word32(2);
      if (utime != 0 && utime != 0xFFFFFFFF)
        r.basic.last_write = LocalSecondsFiletime(static_cast<int64_t>(utime), zone);
      r.change = Smb1SetInfoRecord::Change::kBasic;
      break;
    }
    case kSetInformation2:  // FID, then creation, last access and last write as DOS dates
      if (m.word_count < 7) return false;
      r.by_handle = true;
      r.fid = m.Word16(0);
      r.basic.creation = DosAt(f + m.words_at + 2, zone);
      r.basic.last_access = DosAt(f + m.words_at + 6, zone);
      r.basic.last_write = DosAt(f + m.words_at + 10, zone);
      r.change = Smb1SetInfoRecord::Change::kBasic;
      break;
    case kTrans2: {
      Smb1TransBlocks b;
      if (!QVX_Smb1Trans2Blocks(m, &b)) return false;
      const unsigned char* p = f + b.params_at;
      if (b.sub == kSetFileInformation) {  // FID, InformationLevel, Reserved
        if (b.params_size < 4) return false;
        r.by_handle = true;
        r.fid = wire::LoadLe16(p);
        r.level = wire::LoadLe16(p + 2);
      } else if (b.sub == kSetPathInformation) {  // InformationLevel, Reserved (4), FileName
        if (b.params_size < 6) return false;
        r.level = wire::LoadLe16(p);
        Smb1Text in_params = m.text;
        in_params.header = b.params_at;
        if (!QVX_Smb1ReadName(in_params, b.params_at + 6, b.params_at + b.params_size, &r.name))
          return false;
      } else {
        return false;
      }
      ReadLevel(m.text, b.data_at, b.data_size, zone, &r);
      break;
    }
    default:
      return false;
  }
  *out = std::move(r);
  return true;
}

int QVX_Smb1AuditSetInfo(const Smb1SetInfoRecord& r, DATA* data) {
  return r.by_handle ? OnHandle(r, data) : OnPath(r, data);
}

int QVX_SmbSetInfo(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                   long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  Smb1Message m;
  Smb1SetInfoRecord r;
  if (!QVX_Smb1MessageOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, &m) ||
      !QVX_Smb1ReadSetInfo(m, QVX_UtcOffsetSeconds(data->ctx->platform->Now()), &r))
    return 10;
  return QVX_Smb1AuditSetInfo(r, data);
}

}  // namespace qvx
