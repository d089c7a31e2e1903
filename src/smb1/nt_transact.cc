#include "smb1/nt_transact.h"

#include "audit/change_text.h"
#include "audit/context.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "wire/file_info.h"
#include "wire/le.h"
#include "wire/smb_command_table.h"

namespace qvx {

namespace {

constexpr uint16_t kCreate = 1, kSetSecurityDesc = 3;

}  // namespace

bool QVX_Smb1ReadNtTransactCreate(const Smb1Message& m, Smb1OpenRecord* out) {
  Smb1TransBlocks b;
  if (!QVX_Smb1NtTransBlocks(m, &b) || b.sub != kCreate) return false;
  // Flags, RootDirectoryFID, DesiredAccess (8), AllocationSize, ExtFileAttributes, ShareAccess,
  // CreateDisposition (28), CreateOptions (32), SecurityDescriptorLength, EALength, NameLength,
  // ImpersonationLevel, SecurityFlags, then the name at 53 (a Unicode one aligned from the
  // parameters' start).
  if (b.params_size < 53) return false;
  const unsigned char* p = m.text.frame + b.params_at;
  Smb1OpenRecord r;
  QVX_Smb1TakeIds(m, &r);
  r.desired = wire::LoadLe32(p + 8);
  r.disposition = wire::LoadLe32(p + 28);
  r.options = wire::LoadLe32(p + 32);
  Smb1Text in_params = m.text;
  in_params.header = b.params_at;
  if (!QVX_Smb1ReadName(in_params, b.params_at + 53, b.params_at + b.params_size, &r.name))
    return false;
  *out = std::move(r);
  return true;
}

bool QVX_Smb1ReadSetSecurity(const Smb1Message& m, Smb1SecurityRecord* out) {
  Smb1TransBlocks b;
  if (!QVX_Smb1NtTransBlocks(m, &b) || b.sub != kSetSecurityDesc) return false;
  // FID, Reserved, SecurityInformation; the descriptor is the data.
  if (b.params_size < 8) return false;
  const unsigned char* p = m.text.frame + b.params_at;
  Smb1SecurityRecord r;
  QVX_Smb1TakeIds(m, &r);
  r.fid = wire::LoadLe16(p);
  r.security_information = wire::LoadLe32(p + 4);
  if (b.data_size > 0) r.sddl = wire::SecurityDescriptorSddl(m.text.frame + b.data_at, b.data_size);
  *out = std::move(r);
  return true;
}

int QVX_Smb1AuditSetSecurity(const Smb1SecurityRecord& r, DATA* data) {
  CaptureContext& ctx = *data->ctx;
  OpenFile* f = ctx.open_files.Find(QVX_OpenFileKeyOf(ctx.ends, 1, 0, 0, r.fid));
  const AnswerFacts* a = ctx.answer;
  if (f == nullptr || a == nullptr) return 0;
  const Smb_Command_St& row = QVX_Smb1CommandRow(data->SMBCmdListFlg, 0xA0);
  if (!a->Ok()) {
    QVX_HandleRefused(ctx, *f, kVerdictPermissions, row.Name, a->status);
    return 0;
  }
  QVX_HandleChanged(ctx, *f, kVerdictPermissions, row.Name,
                    QVX_SecurityInfoText(r.security_information).c_str(), r.sddl);
  return 0;
}

int QVX_SmbNtTransact(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                      long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  Smb1Message m;
  if (!QVX_Smb1MessageOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size, &m)) return 10;
  Smb1OpenRecord open;
  if (QVX_Smb1ReadNtTransactCreate(m, &open)) return QVX_Smb1AuditOpen(open, data);
  Smb1SecurityRecord security;
  if (QVX_Smb1ReadSetSecurity(m, &security)) return QVX_Smb1AuditSetSecurity(security, data);
  return 10;
}

}  // namespace qvx
