// The end of trees whose clients have gone: their logout lines and free slots.
#pragma once

#include "audit/context.h"
#include "base/data.h"

namespace qvx {

// The trees of a client in slots still held are ended only when neither the server's session
// list names the client nor its TCP connection is open. data->ctx is the running capture's.
int QVX_TreeIDTableDelete(DATA* data);
// A client's TCP connection ended (FIN or RST: a client gone, a server restarted): its trees end
// with their logout lines at once.
void QVX_ConnectionTreesEnded(CaptureContext& ctx, const char* server, const char* client,
                              const char* port);

}  // namespace qvx
