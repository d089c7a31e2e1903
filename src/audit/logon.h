// SMB1 log-ons: a request with a user name waits in the session table until its answer binds
// it to the user id the server gave; the answer writes the "session" line.
#pragma once

#include <cstdint>

#include "audit/context.h"
#include "base/data.h"
#include "tracking/session_tree.h"

namespace qvx {

// What a Session Setup AndX message says, as its decoder read it.
struct Smb1Logon {
  const char* client = "";  // client address (dotted)
  const char* server = "";
  uint16_t tid = 0, pid = 0, uid = 0, mid = 0;
  const char* user = "";  // the NTLMSSP user name, upper-cased (request only)
};

// A log-on request: keeps it in the session table as waiting, unless the very same request
// (ids, addresses and name) is kept already. A full table is emptied first.
void QVX_LogonRequested(CaptureContext& ctx, const Smb1Logon& r);

// Its answer: the first waiting row of the client and process among the first SetupSessionMax
// rows is bound to the answer's user id and the "session" line written (MACs and command from
// data). False when no request waits.
bool QVX_LogonAnswered(CaptureContext& ctx, const Smb1Logon& a, int SetupSessionMax,
                       const DATA* data);

}  // namespace qvx
