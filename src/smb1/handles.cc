#include "smb1/handles.h"

#include "audit/answer.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "audit/unseen_handles.h"
#include "wire/le.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

constexpr uint8_t kClose = 0x04, kRead = 0x0A, kWrite = 0x0B, kWriteAndClose = 0x2C,
                  kReadAndx = 0x2E, kWriteAndx = 0x2F;

// The FID at byte offset at of the parameter block (WordCount first), which must have at least
// words words.
bool Fid(unsigned long Len, const unsigned char* d, long cursor, unsigned words, unsigned long at,
         uint16_t* fid) {
  if (cursor < 1) return false;
  const unsigned long block = static_cast<unsigned long>(cursor - 1);
  if (!wire::Fits(Len, block, 1) || d[block] < words) return false;
  if (!wire::Fits(Len, block + at, 2)) return false;
  *fid = wire::LoadLe16(d + block + at);
  return true;
}

// The FID of a request on a handle: the first word of CLOSE, READ, WRITE and WRITE_AND_CLOSE
// (FID, CountOfBytesToWrite, WriteOffsetInBytes, LastWriteTime: 6 words, 12 with 12 reserved
// bytes); after the AndX command, reserved byte and offset in READ_ANDX and WRITE_ANDX.
bool RequestFid(uint8_t command, unsigned long Len, const unsigned char* d, long cursor,
                uint16_t* fid) {
  switch (command) {
    case kClose:
      return Fid(Len, d, cursor, 3, 1, fid);
    case kRead:
    case kWrite:
      return Fid(Len, d, cursor, 5, 1, fid);
    case kWriteAndClose:
      return Fid(Len, d, cursor, 6, 1, fid);
    case kReadAndx:
      return Fid(Len, d, cursor, 10, 5, fid);
    case kWriteAndx:
      return Fid(Len, d, cursor, 12, 5, fid);
    default:
      return false;
  }
}

const char* Routine(uint8_t command) {
  switch (command) {
    case kClose:
      return "QVX_SmbClose";
    case kRead:
    case kReadAndx:
      return "QVX_SmbRead";
    case kWriteAndClose:
      return "QVX_SmbWriteAndClose";
    default:
      return "QVX_SmbWrite";
  }
}

// The handle of the request's FID (*key): the run's own, or adopted now when its open was never
// seen; nullptr for a handle with nothing to follow.
OpenFile* Handle(const SMB_HEADER_ST& h, const OpenFileKey& key, unsigned char* d, DATA* data) {
  const Smb_Command_St& row = QVX_Smb1CommandRow(1, h.Command);
  HandleRequest r;
  r.key = key;
  r.tree_id = h.TID;
  r.uid = h.UID;
  r.frame = d;
  r.cmd = row.Name;
  r.info = row.Description;
  r.routine = Routine(h.Command);
  return QVX_HandleOf(r, data);
}

// A read or write: a success tells the handle's line, a refusal for the user's rights a
// "denied" line; any other refusal, and a request never answered, nothing.
int ReadOrWrite(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                long SMB_Total_Packet_Size, DATA* data) {
  uint16_t fid = 0;
  if (!RequestFid(SMB_HEADER->Command, Len, recvData, SMB_Total_Packet_Size, &fid)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (!QVX_HandleAnswerTells(a)) return 0;
  CaptureContext& ctx = *data->ctx;
  OpenFile* f = Handle(*SMB_HEADER, QVX_OpenFileKeyOf(ctx.ends, 1, 0, 0, fid), recvData, data);
  if (f == nullptr) return 0;
  const Smb_Command_St& row = QVX_Smb1CommandRow(1, SMB_HEADER->Command);
  QVX_HandleReadOrWritten(ctx, f,
                          SMB_HEADER->Command == kWrite || SMB_HEADER->Command == kWriteAndx, *a,
                          row.Name, row.Description);
  return 0;
}

}  // namespace

bool QVX_Smb1RequestHandle(const ConnectionEnds& ends, const unsigned char* smb_header,
                           unsigned long Len, const unsigned char* recvData, long cursor,
                           OpenFileKey* key) {
  uint16_t fid = 0;
  if (!RequestFid(smb_header[4], Len, recvData, cursor, &fid)) return false;
  *key = QVX_OpenFileKeyOf(ends, 1, 0, 0, fid);
  return true;
}

int QVX_SmbClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data) {
  uint16_t fid = 0;
  if (!RequestFid(kClose, Len, recvData, SMB_Total_Packet_Size, &fid)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (a != nullptr && !a->Ok()) return 0;
  CaptureContext& ctx = *data->ctx;
  const OpenFileKey key = QVX_OpenFileKeyOf(ctx.ends, 1, 0, 0, fid);
  const bool held = Handle(*SMB_HEADER, key, recvData, data) != nullptr;
  ctx.open_files.Forget(key);
  OpenFile f;
  if (held && ctx.open_files.Take(key, &f)) QVX_EndOpen(ctx, f, ctx.platform->Now());
  return 0;
}

int QVX_SmbRead(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                long SMB_Total_Packet_Size, DATA* data) {
  return ReadOrWrite(SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, data);
}

int QVX_SmbWrite(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data) {
  return ReadOrWrite(SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, data);
}

int QVX_SmbWriteAndClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                         long SMB_Total_Packet_Size, DATA* data) {
  uint16_t fid = 0;
  if (!RequestFid(kWriteAndClose, Len, recvData, SMB_Total_Packet_Size, &fid)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (a == nullptr || !a->Ok()) return 0;
  CaptureContext& ctx = *data->ctx;
  const OpenFileKey key = QVX_OpenFileKeyOf(ctx.ends, 1, 0, 0, fid);
  OpenFile* held = Handle(*SMB_HEADER, key, recvData, data);
  if (held != nullptr) {
    const Smb_Command_St& row = QVX_Smb1CommandRow(data->SMBCmdListFlg, SMB_HEADER->Command);
    QVX_HandleWritten(ctx, held, row.Name, row.Description);
  }
  ctx.open_files.Forget(key);
  OpenFile f;
  if (held != nullptr && ctx.open_files.Take(key, &f)) QVX_EndOpen(ctx, f, ctx.platform->Now());
  return 0;
}

}  // namespace qvx
