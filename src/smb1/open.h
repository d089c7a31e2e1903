// The SMB1 opens older than NT_CREATE_ANDX (SMB_COM_OPEN, CREATE, CREATE_NEW, CREATE_TEMPORARY,
// OPEN_ANDX, TRANSACTION2 OPEN2) and NT_TRANSACT CREATE: each read into one record with the
// access, disposition and options of an NT open, then audited as NT_CREATE_ANDX is, by the
// server's answer.
#pragma once

#include <cstdint>
#include <string>

#include "base/data.h"
#include "smb1/message.h"
#include "wire/smb_header.h"

namespace qvx {

struct Smb1OpenRecord {
  const char* routine = "QVX_SmbOpen";  // names the traces
  uint8_t command = 0;
  uint16_t tid = 0, pid = 0, uid = 0, mid = 0;
  // The name as sent, converted; of CREATE_TEMPORARY the folder, in which the server names the
  // file it makes in its answer.
  std::string name;
  bool temporary = false;
  uint32_t desired = 0;      // the DesiredAccess the request amounts to
  uint32_t disposition = 0;  // FILE_OPEN, FILE_CREATE, FILE_OPEN_IF, FILE_OVERWRITE(_IF), ...
  uint32_t options = 0;      // CreateOptions
};

// The DesiredAccess of a legacy AccessMode (its low four bits: read, write, read and write,
// execute, FCB) and the disposition of an OpenFunction (bit 4 creates a missing file; bits 0-1:
// fail, open or truncate one that exists), as the server maps them.
uint32_t QVX_Smb1AccessModeDesired(uint16_t access_mode);
uint32_t QVX_Smb1OpenFunctionDisposition(uint16_t open_function);

// OPEN, CREATE, CREATE_NEW, CREATE_TEMPORARY, OPEN_ANDX and TRANSACTION2 OPEN2. False for
// another command, too few words or a name that cannot be read.
bool QVX_Smb1ReadOpen(const Smb1Message& m, Smb1OpenRecord* out);

// The open's line, as NT_CREATE_ANDX's: by the answer (a CREATE_TEMPORARY names the file the
// answer names, and without an answer gives no line), the handle kept for what follows on its
// FID. 10 when it is no access worth a line.
int QVX_Smb1AuditOpen(const Smb1OpenRecord& r, DATA* data);

// The handler of the legacy opens.
int QVX_SmbOpen(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
