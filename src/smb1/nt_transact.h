// SMB1 NT_TRANSACT requests that act on files: CREATE, an open audited as NT_CREATE_ANDX is, and
// SET_SECURITY_DESC, a change of a file's owner, group or access lists through its FID ("Perm",
// the parts it set in words, the new descriptor as SDDL in the JSON record).
#pragma once

#include <cstdint>
#include <string>

#include "base/data.h"
#include "smb1/message.h"
#include "smb1/open.h"
#include "wire/smb_header.h"

namespace qvx {

// NT_TRANSACT CREATE: the NT open's DesiredAccess, disposition, options and name. False for
// another function, parameters too short or a name that cannot be read.
bool QVX_Smb1ReadNtTransactCreate(const Smb1Message& m, Smb1OpenRecord* out);

struct Smb1SecurityRecord {
  uint8_t command = 0;
  uint16_t tid = 0, pid = 0, uid = 0, mid = 0;
  uint16_t fid = 0;
  uint32_t security_information = 0;  // the parts set (owner, group, DACL, SACL, label)
  std::string sddl;                   // the descriptor sent; empty when it cannot be read
};
// NT_TRANSACT SET_SECURITY_DESC: FID, SecurityInformation and the descriptor in the data.
bool QVX_Smb1ReadSetSecurity(const Smb1Message& m, Smb1SecurityRecord* out);

// The "Perm" line of a change the server carried out on a followed handle; a refusal for rights
// a "denied" line; nothing without an answer or for another refusal.
int QVX_Smb1AuditSetSecurity(const Smb1SecurityRecord& r, DATA* data);

// The handler of NT_TRANSACT CREATE and SET_SECURITY_DESC.
int QVX_SmbNtTransact(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                      long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
