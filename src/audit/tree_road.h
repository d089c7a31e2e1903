// The road of a tree connect (SMB1 Tree Connect AndX, SMB2 TREE_CONNECT), its answer and its
// disconnect once the decoder has read them: the tree table, the exclusion check, and the
// "login", "connect" and "disconnect" lines and rows.
#pragma once

#include <cstdint>

#include "base/data.h"

namespace qvx {

// A tree message as its decoder read it.
struct TreeRequest {
  int version = 2;           // 1 or 2
  const char* routine = "";  // names the traces
  const char* area = "";     // the message numbers of the slot traces ("41", "04")
  uint32_t tree_id = 0;
  uint16_t pid = 0, uid = 0, mid = 0;         // SMB1 ids of the header
  const unsigned char* message_id = nullptr;  // SMB2 MessageId and SessionId (8 bytes each)
  const unsigned char* session_id = nullptr;
  const char* path = "";                 // a connect request's share path as sent, converted
  bool pipe = false;                     // a connect answer: the tree is one of named pipes
  const unsigned char* frame = nullptr;  // the message as laid out for the handlers
  int TreeConnectMax = 0;
};

// The connect request: a pending tree slot and its "login" line and row (none for an excluded
// share, whose slot still waits for the answer). 10 when nothing was written.
int QVX_AuditTreeConnect(const TreeRequest& r, DATA* data);
// Its answer: binds the pending slot (a refusal binds too), rewrites the "WAIT" row and writes
// the "connect" line. 10 when no request waited (and, SMB1, when the share is excluded).
int QVX_AuditTreeConnected(const TreeRequest& r, DATA* data);
// The disconnect request: the tree is let go and its "disconnect" line and row written. 10 when
// the tree is unknown or excluded.
int QVX_AuditTreeDisconnect(const TreeRequest& r, DATA* data);

}  // namespace qvx
