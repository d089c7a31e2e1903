// Handles the run never saw opened: a client that kept a file open while the program restarted,
// a long-lived handle, an open whose answer was lost. A request on such a handle adopts it once:
// an OpenFile with the facts of the request's tree and the file's local path as the server's own
// list of open files names it, after which the handle's requests are told as any other handle's.
// Where no list names the handle (a replay, a server that cannot be asked), the path column says
// so: kOpenedBeforeCaptureMark and the handle's FileId (SMB1: FID), under the share's folder when
// the share is known.
#pragma once

#include <cstdint>

#include "audit/context.h"
#include "audit/open_files.h"
#include "base/data.h"

namespace qvx {

inline constexpr const char kOpenedBeforeCaptureMark[] = "[opened before capture] ";

// A request on an open handle, as its decoder read it.
struct HandleRequest {
  OpenFileKey key;
  uint32_t tree_id = 0;  // TreeId or TID as received
  uint32_t uid = 0;      // SMB1 UID
  const unsigned char* frame = nullptr;
  const char* cmd = "";  // "SMB Cmd" and "SMB Info" of its lines
  const char* info = "";
  const char* routine = "";
};

// The handle a request names: the run's own, or adopted now when the run never saw it granted.
// nullptr for a handle whose open said all (granted, not followed), and for one that is no file
// access worth a line (a pipe, an excluded file), which is then counted as granted.
OpenFile* QVX_HandleOf(const HandleRequest& r, DATA* data);

// For the capture loop, before it holds a request of the connection ends on handle key of tree
// tree_id: true when its line is to wait (within the hold) for a new list of the server's open
// files, which is then asked for; *reads_wanted is the count of lists read that ends the wait.
// False for a handle the run knows, a pipe's, one the list at hand names, and where no list can
// be had.
bool QVX_UnseenHandleWaits(CaptureContext& ctx, const ConnectionEnds& ends, const OpenFileKey& key,
                           uint32_t tree_id, uint64_t* reads_wanted);
// Lists of the server's open files read so far; UINT64_MAX where none will come (no server to
// ask, or its read failed), so that nothing waits for one.
uint64_t QVX_ServerOpenFilesRead(CaptureContext& ctx);

}  // namespace qvx
