// Which tree, share and user a file request belongs to: the tree tables first, else a share
// guessed from the request's path (the connect was not seen), else an "unknown" record.
#pragma once

#include <cstdint>
#include <ctime>

#include "audit/context.h"
#include "base/data.h"
#include "platform/platform.h"
#include "tracking/session_tree.h"

namespace qvx {

// The tree of a file operation. 0: known (QVXTreeConnectInfoChkRet 3) or guessed (2) in slot
// nTreeID_Connect; 10: drop the operation (an "unknown" line and row may have been written).
int QVXTreeIDGetInfo(uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                     const unsigned char* recvData, const char* sBuffer, int* nTreeID_Connect,
                     int* QVXTreeConnectInfoChkRet, DATA* data);
// The same without the "unknown" record: 10 when the tree is neither known nor guessed.
int QVX_TreeOfRequest(uint32_t TreeID, uint32_t Uid, const unsigned char* recvData,
                      const char* sBuffer, int* nTreeID_Connect, int* QVXTreeConnectInfoChkRet,
                      DATA* data);
// The "unknown" line and row of an access on a tree that no share explains, with the path as
// the client sent it; routine names the repeat trace. False when the path is empty or excluded or
// the same access is among the recent rows (nothing written).
bool QVX_UnknownRecord(uint32_t TreeID, const unsigned char* recvData, const char* path,
                       const char* cmd, const char* info, const LocalTime& now, DATA* data,
                       const char* routine);
// Guesses the share of an unknown tree from the path: 0 and a new connected slot, or 10.
int QVXUnKnownRelated(uint32_t TreeID, const unsigned char* recvData, const char* sBuffer,
                      int* nTreeID_Connect, int* QVXTreeConnectInfoChkRet, DATA* data,
                      int TreeConnectMax);
// Binds TreeID of the connection being handled to share as a guessed tree (Guessed 1), in slot
// when that is a taken slot's index, else in a free one; sBuffer, the request path, tells whether
// the share's folder is kept with a separator. Returns the slot.
int QVX_BindGuessedTree(uint32_t TreeID, const NetWkShareInfoSt& share, const char* sBuffer,
                        int slot, DATA* data, int TreeConnectMax);
// Re-binds the guessed tree (Guessed 1) of slot, whose path was found missing under its own
// share, to the share where the request's path name exists (time stamps read against when);
// full_path (4097 bytes) then names the object there. A tree whose connect was seen stays on its
// share. The time class of the new path, or 0 when the tree stayed.
int QVX_RebindGuessedTree(const CaptureContext& ctx, char* full_path, const char* name, int slot,
                          time_t when);
// The look at the object the time-stamp verdict needs: the time class of sAccessFullPath against
// the request time (204 not found or unreadable, else 201, 202, 203, or 206 when the file system
// refused to tell), a missing object first sought on the other shares for a guessed tree
// (QVX_RebindGuessedTree).
int QVXAccessChkToTreeIDPathChg(char* sAccessFullPath, const char* sBuffer, time_t ZLocaTimeLW,
                                int nTreeID_Connect, DATA* data, int TreeConnectMax);

}  // namespace qvx
