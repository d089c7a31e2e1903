// The road of an SMB1 request that names the objects it acts on (rename, delete, make or remove a
// folder, a hard link, a copy, a change of attributes or size by name) once its decoder has read
// it: one line each time it is seen, with what the server answered.
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
  // A rename's, hard link's or copy's new name, likewise; nullptr for the other commands.
  char* new_name = nullptr;
  // The tree of the new name when it is another one (a copy's second TID); 0: the request's.
  uint16_t new_tid = 0;
  // What the command does (kVerdictRenamed, kVerdictGone, kVerdictNew, kVerdictLinked,
  // kVerdictCopied, kVerdictAttributes, kVerdictWritten).
  int verdict = 0;
  // The SMB Info column of the line when the command was carried out (what it changed, in
  // words); nullptr: the command's description.
  const char* info = nullptr;
  const unsigned char* frame = nullptr;  // the request's frame: addresses and ports
};

// Audits the command: 10 when it is no access worth a line (no tree, IPC, excluded), else 0 with
// its line and row (a "denied" line when the server refused it for rights, none for another
// refusal).
int QVX_AuditPathCommand(const PathRequest& r, DATA* data);

}  // namespace qvx
