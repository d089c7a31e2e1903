// Sessions whose messages the program cannot read: SMB3 encrypted (transform header) or
// compressed messages. Nothing in them can be audited, so each such session is told once.
#pragma once

#include <cstdint>

#include "audit/context.h"

namespace qvx {

// Writes the "encrypted" line of a session (client, server, the user of its log-on where the
// capture saw it) and its kernel-log line. macs: the frame's destination and source MACs;
// toward: the frame went to the server.
void QVX_UnreadableSession(CaptureContext& ctx, bool encrypted, const ConnectionEnds& ends,
                           uint64_t session, const unsigned char* macs, bool toward);

}  // namespace qvx
