// A tree's own records, shared by the tree handlers of both versions and by the file handlers
// that complete a tree's "WAIT" row: the pending slot of a connect request, the "login",
// "connect" and "disconnect" lines and rows, and what the connect answer does.
#pragma once

#include <cstddef>

#include "audit/context.h"
#include "base/data.h"
#include "platform/platform.h"
#include "tracking/session_tree.h"

namespace qvx {

// The first free slot among the first TreeConnectMax; a full table is emptied (the E and I
// messages name routine and area) and slot 0 is taken. -1 when the table has no slot at all.
int QVX_TakeTreeSlot(const CaptureContext& ctx, int TreeConnectMax, const char* routine,
                     const char* area);

// Fills a taken slot from a connect request: state "request seen", the share path, the
// addresses and ports of the message's connection and its MAC texts. The identifiers and the user
// are the caller's.
void QVX_PendingTree(int slot, const char* share_path, const DATA* data);

// "[T:%d P:%d U:%d M:%d]" of a tree's stored identifiers.
// The tree's two ends: the client's address and port, the server's.
void QVX_TreeEnds(TreeConnectSt& t, const ConnectionEnds& ends);
void QVX_TreeIdsText(const TreeConnectSt& t, char* out, size_t size);

// The "login", "connect" or "disconnect" line of a tree: tree_id_text is the TreeID field, ids
// the identifier text after the share path, former the row's previous TreeID text (connect lines
// only, else null). The MAC texts in the order of the columns.
void QVX_TreeLine(CaptureContext& ctx, const LocalTime& now, const char* action,
                  const char* tree_id_text, const TreeConnectSt& t, const char* client_mac,
                  const char* server_mac, const char* cmd, const char* info, const char* ids,
                  const char* former);

// The list row of a tree: Size as given, Operation empty, Path the share.
void QVX_TreeRow(const LocalTime& now, const char* action, const char* tree_id_text,
                 const TreeConnectSt& t, const DATA* data, const char* cmd, const char* info,
                 const char* size);

// The connect answer has bound the tree in slot: its "WAIT" row, when the list still holds it,
// becomes the "connect" row, and the connect line is written even when the row is gone (a full
// list was emptied meanwhile). False, with nothing written, when the share is excluded.
// trace_fmt as for QVX_ShowTreeBound.
bool QVX_TreeAnswerBound(DATA* data, int slot, const LocalTime& now, const char* cmd,
                         const char* info, const char* ids, const char* trace_fmt);

}  // namespace qvx
