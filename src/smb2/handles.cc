#include "smb2/handles.h"

#include <cstdio>
#include <string>

#include "audit/answer.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "audit/open_road.h"
#include "audit/unseen_handles.h"
#include "base/dbglog.h"
#include "smb2/other_command.h"
#include "wire/le.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

// SET_INFO of a file (InfoType 1) and the classes that change what a handle does to its file.
constexpr uint8_t kInfoFile = 1;
constexpr uint8_t kRename = 10, kDisposition = 13, kAllocation = 19, kEndOfFile = 20,
                  kDispositionEx = 64;
constexpr uint16_t kClose = 6, kRead = 8, kWrite = 9, kSetInfo = 0x11;

// The request's body starts at index cursor - 1.
bool Body(unsigned long Len, long cursor, unsigned long need, unsigned long* at) {
  if (cursor < 1) return false;
  *at = static_cast<unsigned long>(cursor - 1);
  return wire::Fits(Len, *at, need);
}

// Where a request on a handle names its file id in its body, and the fixed body it needs: CLOSE
// (StructureSize, Flags, Reserved, then the file id); READ (StructureSize, Padding, Flags, Length,
// Offset); WRITE (StructureSize, DataOffset, Length, Offset); SET_INFO (StructureSize, InfoType,
// FileInfoClass, BufferLength, BufferOffset, Reserved, AdditionalInformation). -1 for others.
long FileIdAt(uint16_t command, unsigned long* need) {
  *need = 32;
  switch (command) {
    case kClose:
      *need = 24;
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
  const unsigned char* header = reinterpret_cast<const unsigned char*>(h);
  if (!RawHandle(data->ctx->ends, header, Len, d, cursor, key)) return false;
  if (key->id[0] == ~uint64_t{0} && key->id[1] == ~uint64_t{0} &&
      !data->ctx->open_files.Last(*key, key))
    return false;
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
  return RawHandle(ends, smb2_header, Len, recvData, cursor, key);
}

bool QVX_Smb2SetInfoOwned(unsigned long Len, const unsigned char* recvData, long cursor) {
  unsigned long at = 0;
  if (!Body(Len, cursor, 32, &at) || recvData[at + 2] != kInfoFile) return false;
  const uint8_t cls = recvData[at + 3];
  return cls == kRename || cls == kDisposition || cls == kDispositionEx || cls == kAllocation ||
         cls == kEndOfFile;
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
  const uint8_t cls = recvData[at + 3];
  if (!Succeeded(data)) return 0;
  OpenFileKey key;
  OpenFile* f = nullptr;
  const bool named = Handle(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data, &key, &f);
  // A rename on a handle that names no open, or one granted but not followed, is still worth its
  // target's line, as any other request naming a path.
  if (f == nullptr)
    return cls == kRename && (!named || data->ctx->open_files.Granted(key))
               ? QVX_Smb2OtherCmd(SMB2_HEADER, Len, recvData, SMB_Total_Packet_Size, data)
               : 0;

  const uint32_t buffer_length = wire::LoadLe32(recvData + at + 4);
  const unsigned long buffer =
      at - 64 + static_cast<unsigned long>(wire::LoadLe16(recvData + at + 8));
  const Smb2_Command_St& row = CommandRow(kSetInfo, data);
  switch (cls) {
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
  return QVX_AuditHandleRename(f, QVX_Smb2TreeId(SMB2_HEADER), target, recvData, row.Name,
                               row.Description, data);
}

}  // namespace qvx