#include "smb1/handles.h"

#include "audit/answer.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "wire/le.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

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

}  // namespace

int QVX_SmbClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data) {
  uint16_t fid = 0;
  if (!Fid(Len, recvData, SMB_Total_Packet_Size, 3, 1, &fid)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (a != nullptr && !a->Ok()) return 0;
  OpenFile f;
  if (data->ctx->open_files.Take(QVX_OpenFileKeyOf(data->ctx->ends, 1, 0, 0, fid), &f))
    QVX_EndOpen(*data->ctx, f, data->ctx->platform->Now());
  return 0;
}

int QVX_SmbWrite(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data) {
  // WRITE: the FID is the first word; WRITE_ANDX: after the AndX command, reserved byte and offset.
  const bool andx = SMB_HEADER->Command == 0x2F;
  uint16_t fid = 0;
  if (!Fid(Len, recvData, SMB_Total_Packet_Size, andx ? 12 : 5, andx ? 5 : 1, &fid)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (a == nullptr || !a->Ok()) return 0;
  if (OpenFile* f = data->ctx->open_files.Find(QVX_OpenFileKeyOf(data->ctx->ends, 1, 0, 0, fid))) {
    const Smb_Command_St& row = QVX_Smb1CommandRow(1, SMB_HEADER->Command);
    QVX_HandleWritten(*data->ctx, f, row.Name, row.Description);
  }
  return 0;
}

int QVX_SmbWriteAndClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                         long SMB_Total_Packet_Size, DATA* data) {
  // FID, CountOfBytesToWrite, WriteOffsetInBytes, LastWriteTime (6 words, 12 with 12 reserved
  // bytes), then the data.
  uint16_t fid = 0;
  if (!Fid(Len, recvData, SMB_Total_Packet_Size, 6, 1, &fid)) return 10;
  const AnswerFacts* a = data->ctx->answer;
  if (a == nullptr || !a->Ok()) return 0;
  CaptureContext& ctx = *data->ctx;
  const OpenFileKey key = QVX_OpenFileKeyOf(ctx.ends, 1, 0, 0, fid);
  if (OpenFile* f = ctx.open_files.Find(key)) {
    const Smb_Command_St& row = QVX_Smb1CommandRow(data->SMBCmdListFlg, SMB_HEADER->Command);
    QVX_HandleWritten(ctx, f, row.Name, row.Description);
  }
  OpenFile f;
  if (ctx.open_files.Take(key, &f)) QVX_EndOpen(ctx, f, ctx.platform->Now());
  return 0;
}

}  // namespace qvx
