// The road of an open (SMB1 NT Create AndX, SMB2 CREATE) once its decoder has read it: the name
// within the share, the tree and its share, the exclusion check, what the server answered (or,
// without an answer, what the object on disk says), and the line.
#pragma once

#include <cstdint>

#include "audit/open_files.h"
#include "base/data.h"
#include "platform/platform.h"

namespace qvx {

// An open request as its decoder read it.
struct OpenRequest {
  int version = 2;           // 1 (NT Create AndX) or 2 (CREATE)
  const char* routine = "";  // names the traces
  uint32_t tree_id = 0;
  uint16_t pid = 0, uid = 0, mid = 0;  // SMB1 ids of the header (0 for SMB2)
  uint64_t session_id = 0;             // SMB2 SessionId (0 for SMB1)
  // The name as sent, converted (kAccessNameSize bytes): resolved within the share in place.
  char* name = nullptr;
  uint32_t desired = 0;  // DesiredAccess
  uint32_t disposition = 0;
  uint32_t options = 0;                  // CreateOptions
  const unsigned char* frame = nullptr;  // the request's frame: addresses and ports
  LocalTime now;                         // capture time of the request
};

// Audits the open: 10 when it is no access worth a line (filtered, excluded, IPC, no tree), else
// 0 with its line and row written (or left out as a repeat).
int QVX_AuditOpen(const OpenRequest& r, DATA* data);

// A rename (verdict kVerdictRenamed) or a hard link (kVerdictLinked) through the open handle f
// (SMB2 SET_INFO FileRenameInformation, FileLinkInformation) that the server carried out. target
// is the new name as sent, converted (kAccessNameSize bytes), found through the tree tree_id of
// the request in frame. Writes the "old >> new" line with the facts of the handle (cmd and info
// its command's texts), unless both names are excluded. After a rename later lines of the handle
// name the file by its new name, and a handle written before it that kept its line back says
// "Wt" of the old name first. 10 when the target's tree or share is not known.
int QVX_AuditHandleTarget(OpenFile* f, int verdict, uint32_t tree_id, char* target,
                          const unsigned char* frame, const char* cmd, const char* info,
                          DATA* data);

// A rename through f, as QVX_AuditHandleTarget, whose target without a separator names a file
// in the folder of the handle's file (an SMB1 rename by handle); any other target is found from
// the root of the request's tree.
int QVX_AuditHandleRenameInFolder(OpenFile* f, uint32_t tree_id, char* target, const char* cmd,
                                  const char* info, DATA* data);

}  // namespace qvx
