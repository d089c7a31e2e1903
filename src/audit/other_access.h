// The other-command road of both versions: a request no specific handler took is logged by the
// first path found in its body, judged by the time stamps on disk.
#pragma once

#include <cstdint>

#include "base/data.h"

namespace qvx {

// The first UTF-16LE path of recvData[start, Len) that begins with a backslash followed by a
// non-zero unit, copied into wide (wide_size bytes, zeroed by the caller) up to its zero unit or
// the end of the frame, and cut so that it always ends with a zero unit. False when there is none.
bool QVX_FindBodyPath(const unsigned char* recvData, unsigned long Len, unsigned long start,
                      unsigned char* wide, unsigned long wide_size);

// One request for the other-command road of either version.
struct OtherCmdFrame {
  int version = 2;           // 1 SMB1, 2 SMB2
  const char* routine = "";  // names the traces
  unsigned long Len = 0;
  const unsigned char* recvData = nullptr;
  unsigned long body = 0;  // index of the first byte searched
  unsigned long end = 0;   // the search stops before this index (0: at Len)
  // A directory search: only a pattern with a wildcard (a listing) names an access; a search for
  // one name is a look-up, whose verdict from the time stamps would race the client's next step.
  bool search = false;
  uint32_t tid = 0, pid = 0, uid = 0, mid = 0;
  // The whole name as the decoder read it (UTF-16LE, terminated, kWideNameSize bytes), taken
  // instead of the first path in the body: an SMB2 rename's target, whose first backslash of
  // "dir\\new.txt" would name a file in the share's root, or the name of an SMB1 request whose
  // layout is known (in whichever strings its client sent).
  const unsigned char* name_wide = nullptr;
  DATA* data = nullptr;
};
// Logs the object a request names: 0 processed (or a repeat), 10 dropped. A request the capture
// loop held for its answer follows the rules of held opens: refused for the user's rights, a
// "denied" line; refused for anything else, no line.
int QVX_OtherCmdAccess(const OtherCmdFrame& f);

}  // namespace qvx
