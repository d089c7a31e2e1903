// The road of an SMB1 request that names the objects it acts on (rename, delete, make or remove a
// folder) once its decoder has read it: one line each time it is seen, with what the server
// answered.
#pragma once

#include <cstdint>

#include "base/data.h"

namespace qvx {

// A path command as its decoder read it.
struct PathRequest {
  const char* routine = "";  // names the traces
  uint16_t tid = 0, pid = 0, uid = 0, mid = 0;
  // The name as sent, converted (kAccessNameSize bytes): resolved within the share in place.
  char* name = nullptr;
  // A rename's new name, likewise; nullptr for the other commands.
  char* new_name = nullptr;
  int verdict = 0;  // what the command does (kVerdictRenamed, kVerdictGone, kVerdictNew)
  const unsigned char* frame = nullptr;  // the request's frame: addresses and ports
};

// Audits the command: 10 when it is no access worth a line (no tree, IPC, excluded), else 0 with
// its line and row (a "denied" line when the server refused it for rights, none for another
// refusal).
int QVX_AuditPathCommand(const PathRequest& r, DATA* data);

}  // namespace qvx
