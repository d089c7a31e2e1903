#include "smb2/handles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "audit/answer.h"
#include "audit/change_text.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "audit/open_road.h"
#include "audit/unseen_handles.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "smb2/other_command.h"
#include "wire/file_info.h"
#include "wire/le.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// SET_INFO of a file (InfoType 1) and the classes that change the file or what a handle does to
// it; SET_INFO of its security descriptor (InfoType 3).
constexpr uint8_t kInfoFile = 1, kInfoSecurity = 3;
constexpr uint8_t kBasic = 4, kRename = 10, kLink = 11, kDisposition = 13, kAllocation = 19,
                  kEndOfFile = 20, kDispositionEx = 64;
constexpr uint16_t kClose = 6, kRead = 8, kWrite = 9, kIoctl = 0x0B, kSetInfo = 0x11;

// The request's body starts at index cursor - 1.
bool Body(unsigned long Len, long cursor, unsigned long need, unsigned long* at) {
  if (cursor < 1) return false;
  *at = static_cast<unsigned long>(cursor - 1);
  return wire::Fits(Len, *at, need);
}

// Where a request on a handle names its file id in its body, and the fixed body it needs: CLOSE
// (StructureSize, Flags, Reserved, then the file id); READ (StructureSize, Padding, Flags, Length,
// Offset); WRITE (StructureSize, DataOffset, Length, Offset); SET_INFO (StructureSize, InfoType,
// FileInfoClass, BufferLength, BufferOffset, Reserved, AdditionalInformation); IOCTL
// (StructureSize, Reserved, CtlCode; InputOffset, InputCount, ... after the file id). -1 for
// others.
long FileIdAt(uint16_t command, unsigned long* need) {
  *need = 32;
  switch (command) {
    case kClose:
      *need = 24;
      return 8;
    case kIoctl:
      *need = 56;
      return 8;
    case kRead:
    case kWrite:
    case kSetInfo:
      return 16;
    default:
      return -1;
  }
}

// The file id a request names, as sent (a related request of a compound chain names the open
// before it with all ones).
bool RawHandle(const ConnectionEnds& ends, const unsigned char* h, unsigned long Len,
               const unsigned char* d, long cursor, OpenFileKey* key) {
  const uint16_t command = wire::LoadLe16(h + 12);
  unsigned long need = 0, at = 0;
  const long id_at = FileIdAt(command, &need);
  if (id_at < 0 || !Body(Len, cursor, need, &at)) return false;
  if (command == kSetInfo && !QVX_Smb2SetInfoOwned(Len, d, cursor)) return false;
  const unsigned char* id = d + at + static_cast<unsigned long>(id_at);
  *key =
      QVX_OpenFileKeyOf(ends, 2, QVX_Smb2SessionId(h), wire::LoadLe64(id), wire::LoadLe64(id + 8));
  return true;
}

// The file id a request names (*key), a related request's all ones taken for the open before it.
bool RequestHandle(SMB2_HEADER_ST* h, unsigned long Len, const unsigned char* d, long cursor,
                   const CaptureContext& ctx, OpenFileKey* key) {
  if (!RawHandle(ctx.ends, reinterpret_cast<const unsigned char*>(h), Len, d, cursor, key))
    return false;
  if (key->id[0] == ~uint64_t{0} && key->id[1] == ~uint64_t{0})
    return ctx.open_files.Last(*key, key);
  return true;
}

// A request the server carried out; without an answer nothing is known of its effect.
bool Succeeded(const DATA* data) {
  const AnswerFacts* a = data->ctx->answer;
  return a != nullptr && a->Ok();
}

// The row of the command itself, also for commands whose code the gate leaves out.
const Smb2_Command_St& CommandRow(int command, DATA* data) {
  if (data->SMBCmdListFlg == 0 || command < 0 || command >= kSmb2CommandRows)
    return QVX_Smb2CommandRow(0, command);
  return Smb2_Command[command];
}

// What a refused SET_INFO tried to do.
int AttemptOf(bool security, uint8_t cls) {
  if (security) return kVerdictPermissions;
  switch (cls) {
    case kBasic:
      return kVerdictAttributes;
    case kRename:
      return kVerdictRenamed;
    case kLink:
      return kVerdictLinked;
    case kDisposition:
    case kDispositionEx:
      return kVerdictGone;
    default:
      return kVerdictWritten;
  }
}

const char* Routine(uint16_t command) {
  switch (command) {
    case kClose:
      return "QVX_Smb2Close";
    case kRead:
      return "QVX_Smb2Read";
    case kWrite:
      return "QVX_Smb2Write";
    default:
      return "QVX_Smb2SetInfo";
  }
}

// The handle a request names (*key): the run's own, or adopted now when its open was never
// seen; *f is nullptr for a handle with nothing to follow. False when the request names none.
bool Handle(SMB2_HEADER_ST* h, unsigned long Len, const unsigned char* d, long cursor, DATA* data,
            OpenFileKey* key, OpenFile** f) {
  *f = nullptr;
  if (!RequestHandle(h, Len, d, cursor, *data->ctx, key)) return false;
  const Smb2_Command_St& row = CommandRow(h->Command, data);
  HandleRequest r;
  r.key = *key;
  r.tree_id = QVX_Smb2TreeId(h);
  r.frame = d;
  r.cmd = row.Name;
  r.info = row.Description;
  r.routine = Routine(h->Command);
  *f = QVX_HandleOf(r, data);
  return true;
}

// A read or write: a success tells the handle's line, a refusal for the user's rights a
// "denied" line; any other refusal, and a request never answered, nothing.
int ReadOrWrite(SMB2_HEADER_ST* h, unsigned long Len, unsigned char* d, long cursor, DATA* data) {
  unsigned long at = 0;
  if (!Body(Len, cursor, 32, &at)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (!QVX_HandleAnswerTells(a)) return 0;
  OpenFileKey key;
  OpenFile* f = nullptr;
  if (!Handle(h, Len, d, cursor, data, &key, &f) || f == nullptr) return 0;
  const Smb2_Command_St& row = CommandRow(h->Command, data);
  QVX_HandleReadOrWritten(*data->ctx, f, h->Command == kWrite, *a, row.Name, row.Description);
  return 0;
}

}  // namespace

bool QVX_Smb2RequestHandle(const ConnectionEnds& ends, const unsigned char* smb2_header,
                           unsigned long Len, const unsigned char* recvData, long cursor,
                           OpenFileKey* key) {
  // A server-side copy into a handle never seen opened is left to its copy's source and
  // destination opens.
  if (wire::LoadLe16(smb2_header + 12) == kIoctl) return false;
  return RawHandle(ends, smb2_header, Len, recvData, cursor, key);
}

bool QVX_Smb2SetInfoOwned(unsigned long Len, const unsigned char* recvData, long cursor) {
  unsigned long at = 0;
  if (!Body(Len, cursor, 32, &at)) return false;
  if (recvData[at + 2] == kInfoSecurity) return true;
  if (recvData[at + 2] != kInfoFile) return false;
  const uint8_t cls = recvData[at + 3];
  return cls == kBasic || cls == kRename || cls == kLink || cls == kDisposition ||
         cls == kDispositionEx || cls == kAllocation || cls == kEndOfFile;
}

int QVX_Smb2Close(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data) {
  unsigned long at = 0;
  if (!Body(Len, SMB_Total_Packet_Size, 24, &at)) return 10;
  // A close the server refused leaves the handle open; one never answered is taken as done.
  const AnswerFacts* a = data->ctx->answer;
  if (a != nullptr && !a->Ok()) return 0;
  OpenFileKey key;
  OpenFile* held = nullptr;
  if (!Handle(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data, &key, &held)) return 0;
  OpenFiles& files = data->ctx->open_files;
  files.Forget(key);
  OpenFile f;
  if (held != nullptr && files.Take(key, &f))
    QVX_EndOpen(*data->ctx, f, data->ctx->platform->Now());
  return 0;
}

int QVX_Smb2Read(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data) {
  return ReadOrWrite(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data);
}

int QVX_Smb2Write(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data) {
  return ReadOrWrite(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data);
}

int QVX_Smb2SetInfo(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data) {
  unsigned long at = 0;
  if (!QVX_Smb2SetInfoOwned(Len, recvData, SMB_Total_Packet_Size)) return 10;
  Body(Len, SMB_Total_Packet_Size, 32, &at);
  const bool security = recvData[at + 2] == kInfoSecurity;
  const uint8_t cls = security ? 0 : recvData[at + 3];
  // A request refused for any reason but the user's rights, or never answered, tells nothing.
  const AnswerFacts* a = data->ctx->answer;
  if (!QVX_HandleAnswerTells(a)) return 0;
  OpenFileKey key;
  OpenFile* f = nullptr;
  const bool named = Handle(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data, &key, &f);
  // A rename on a handle that names no open, or one granted but not followed, is still worth its
  // target's line, as any other request naming a path.
  if (f == nullptr)
    return cls == kRename && a->Ok() && (!named || data->ctx->open_files.Granted(key))
               ? QVX_Smb2OtherCmd(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data)
               : 0;
  const Smb2_Command_St& row = CommandRow(kSetInfo, data);
  if (!a->Ok()) {
    QVX_HandleRefused(*data->ctx, *f, AttemptOf(security, cls), row.Name, a->status);
    return 0;
  }

  const uint32_t buffer_length = wire::LoadLe32(recvData + at + 4);
  const unsigned long buffer =
      at - 64 + static_cast<unsigned long>(wire::LoadLe16(recvData + at + 8));
  // The buffer as far as the frame holds it.
  const size_t held =
      wire::Fits(Len, buffer, 0) ? std::min<size_t>(buffer_length, Len - buffer) : 0;
  if (security) {
    const uint32_t parts = wire::LoadLe32(recvData + at + 12);
    QVX_HandleChanged(*data->ctx, *f, kVerdictPermissions, row.Name,
                      QVX_SecurityInfoText(parts).c_str(),
                      wire::SecurityDescriptorSddl(recvData + buffer, held));
    return 0;
  }
  switch (cls) {
    case kBasic: {
      wire::FileBasicInfo b;
      if (!wire::ReadFileBasicInfo(recvData + buffer, held, &b)) return 0;
      const std::string changed = QVX_BasicInfoText(b, data->ctx->platform->Now().t);
      // A set that leaves every time and the attributes alone changes nothing.
      if (!changed.empty())
        QVX_HandleChanged(*data->ctx, *f, kVerdictAttributes, row.Name, changed.c_str());
      return 0;
    }
    case kDisposition:
      if (buffer_length >= 1 && wire::Fits(Len, buffer, 1))
        f->delete_pending = recvData[buffer] != 0;
      return 0;
    case kDispositionEx:
      // FILE_DISPOSITION_DELETE is bit 0 of the flags.
      if (buffer_length >= 4 && wire::Fits(Len, buffer, 4))
        f->delete_pending = (wire::LoadLe32(recvData + buffer) & 1) != 0;
      return 0;
    case kAllocation:
    case kEndOfFile:
      QVX_HandleWritten(*data->ctx, f, row.Name, row.Description);
      return 0;
    default:
      break;
  }
  unsigned char wide[kWideNameSize] = {};
  if (!QVX_Smb2RenameTarget(recvData, Len, at, wide, sizeof wide)) return 10;
  char target[kAccessNameSize] = {};
  if (QVX_ConvertWideName(wide, target, sizeof target) == 0) return 10;
  return QVX_AuditHandleTarget(f, cls == kLink ? kVerdictLinked : kVerdictRenamed,
                               QVX_Smb2TreeId(SMB2_HEADER), target, recvData, row.Name,
                               row.Description, data);
}

int QVX_Smb2Ioctl(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data) {
  // StructureSize, Reserved, CtlCode, the file id, InputOffset, InputCount, ...
  constexpr uint32_t kRequestResumeKey = 0x00140078, kCopyChunk = 0x001440F2,
                     kCopyChunkWrite = 0x001480F2;
  unsigned long at = 0;
  if (!Body(Len, SMB_Total_Packet_Size, 56, &at)) return 10;
  const uint32_t code = wire::LoadLe32(recvData + at + 4);
  if (code != kRequestResumeKey && code != kCopyChunk && code != kCopyChunkWrite) return 0;
  if (!Succeeded(data)) return 0;
  CaptureContext& ctx = *data->ctx;
  OpenFileKey key;
  if (!RequestHandle(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, ctx, &key)) return 0;
  OpenFile* f = ctx.open_files.Find(key);
  if (f == nullptr) return 0;
  const AnswerFacts& a = *ctx.answer;
  if (code == kRequestResumeKey) {
    if (!a.resume_key_set) return 0;
    f->has_resume_key = true;
    std::memcpy(f->resume_key, a.resume_key, sizeof f->resume_key);
    return 0;
  }
  // The input starts with the source's resume key.
  const unsigned long input = at - 64 + wire::LoadLe32(recvData + at + 24);
  if (wire::LoadLe32(recvData + at + 28) < 24 || !wire::Fits(Len, input, 24)) return 0;
  const Smb2_Command_St& row = CommandRow(0x0B, data);
  QVX_HandleWritten(ctx, f, row.Name, row.Description);
  if (f->copied) return 0;
  f->copied = true;
  const OpenFile* source = ctx.open_files.FindResumeKey(key.server, recvData + input);
  OpenFile line = *f;
  line.facts.path = (source != nullptr ? source->facts.path : std::string(kUnseenSourceMark)) +
                    " >> " + f->facts.path;
  line.facts.size = 0;
  QVX_HandleChanged(ctx, line, kVerdictCopied, row.Name, row.Description);
  return 0;
}

}  // namespace qvx