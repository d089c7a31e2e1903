#include "smb1/open.h"

#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_road.h"
#include "base/dbglog.h"
#include "base/text.h"

namespace qvx {

namespace {

constexpr uint8_t kOpen = 0x02, kCreate = 0x03, kCreateTemporary = 0x0E, kCreateNew = 0x0F,
                  kOpenAndx = 0x2D, kTrans2 = 0x32;
constexpr uint16_t kTrans2Open2 = 0;
constexpr unsigned char kBufferFormat = 0x04;

constexpr uint32_t kFileGenericRead = 0x00120089;
constexpr uint32_t kFileGenericWrite = 0x00120116;
// NT dispositions and the option every legacy open carries: it opens no folder.
constexpr uint32_t kFileOpen = 1, kFileCreate = 2, kFileOpenIf = 3, kFileOverwrite = 4,
                   kFileOverwriteIf = 5;
constexpr uint32_t kFileNonDirectory = 0x00000040;

// The name after the BufferFormat byte that starts the data bytes.
bool NameAfterFormat(const Smb1Message& m, std::string* name) {
  if (m.bytes_at >= m.bytes_end || m.text.frame[m.bytes_at] != kBufferFormat) return false;
  return QVX_Smb1ReadName(m.text, m.bytes_at + 1, m.bytes_end, name);
}

}  // namespace

uint32_t QVX_Smb1AccessModeDesired(uint16_t access_mode) {
  switch (access_mode & 0x0F) {
    case 1:
      return kFileGenericWrite;
    case 2:
    case 0x0F:  // FCB
      return kFileGenericRead | kFileGenericWrite;
    default:  // read; execute implies read
      return kFileGenericRead;
  }
}

uint32_t QVX_Smb1OpenFunctionDisposition(uint16_t open_function) {
  switch (open_function & 0x13) {
    case 0x10:
      return kFileCreate;
    case 0x11:
      return kFileOpenIf;
    case 0x02:
      return kFileOverwrite;
    case 0x12:
      return kFileOverwriteIf;
    default:
      return kFileOpen;
  }
}

bool QVX_Smb1ReadOpen(const Smb1Message& m, Smb1OpenRecord* out) {
  Smb1OpenRecord r;
  QVX_Smb1TakeIds(m, &r);
  r.options = kFileNonDirectory;
  switch (m.command) {
    case kOpen:  // AccessMode, SearchAttributes; BufferFormat, FileName
      if (m.word_count < 2 || !NameAfterFormat(m, &r.name)) return false;
      r.desired = QVX_Smb1AccessModeDesired(m.Word16(0));
      r.disposition = kFileOpen;
      break;
    case kCreate:  // FileAttributes, CreationTime; BufferFormat, FileName
    case kCreateNew:
    case kCreateTemporary:  // FileAttributes, CreationTime; BufferFormat, DirectoryName
      if (m.word_count < 3 || !NameAfterFormat(m, &r.name)) return false;
      r.desired = kFileGenericRead | kFileGenericWrite;
      r.disposition = m.command == kCreate ? kFileOverwriteIf : kFileCreate;
      r.temporary = m.command == kCreateTemporary;
      break;
    case kOpenAndx:  // AndX block, Flags, AccessMode, SearchAttrs, FileAttrs, CreationTime,
                     // OpenMode, AllocationSize, Timeout, Reserved; FileName
      if (m.word_count < 15 || !QVX_Smb1ReadName(m.text, m.bytes_at, m.bytes_end, &r.name))
        return false;
      r.desired = QVX_Smb1AccessModeDesired(m.Word16(6));
      r.disposition = QVX_Smb1OpenFunctionDisposition(m.Word16(16));
      break;
    case kTrans2: {  // OPEN2 parameters: Flags, AccessMode, Reserved, FileAttributes,
                     // CreationTime, OpenMode, AllocationSize, 10 reserved bytes, FileName
      Smb1TransBlocks b;
      if (!QVX_Smb1Trans2Blocks(m, &b) || b.sub != kTrans2Open2 || b.params_size < 28) return false;
      const unsigned char* p = m.text.frame + b.params_at;
      r.desired = QVX_Smb1AccessModeDesired(static_cast<uint16_t>(p[2] | p[3] << 8));
      r.disposition = QVX_Smb1OpenFunctionDisposition(static_cast<uint16_t>(p[12] | p[13] << 8));
      // The parameters' strings are aligned from their own start.
      Smb1Text in_params = m.text;
      in_params.header = b.params_at;
      if (!QVX_Smb1ReadName(in_params, b.params_at + 28, b.params_at + b.params_size, &r.name))
        return false;
      break;
    }
    default:
      return false;
  }
  *out = std::move(r);
  return true;
}

int QVX_Smb1AuditOpen(const Smb1OpenRecord& r, DATA* data) {
  const AnswerFacts* a = data->ctx->answer;
  std::string name = r.name;
  if (r.temporary) {
    // The file is the one the server made and named; a refusal tells only the folder it was
    // refused in, and without an answer the file is not known.
    if (a == nullptr) return 10;
    if (a->Ok()) {
      if (!a->open || a->temporary_name.empty()) return 10;
      if (!name.empty() && name.back() != '\\') name += '\\';
      name += a->temporary_name;
    }
  }
  char buffer[kAccessNameSize] = {};
  CopyText(buffer, sizeof buffer, name.c_str());
  OpenRequest q;
  q.version = 1;
  q.routine = r.routine;
  q.tree_id = r.tid;
  q.pid = r.pid;
  q.uid = r.uid;
  q.mid = r.mid;
  q.name = buffer;
  q.desired = r.desired;
  q.disposition = r.disposition;
  q.options = r.options;
  q.now = data->ctx->platform->Now();
  return QVX_AuditOpen(q, data);
}

int QVX_SmbOpen(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  Smb1Message m;
  Smb1OpenRecord r;
  if (!QVX_Smb1MessageOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, &m) ||
      !QVX_Smb1ReadOpen(m, &r))
    return 10;
  return QVX_Smb1AuditOpen(r, data);
}

}  // namespace qvx
