// The session and tree tables: who logged on from where (SMB1 session set-up), and which share
// each tree identifier of each client stands for. The SMB handlers create entries from set-up and
// tree-connect requests and bind them to the answers; the audit step looks up the tree and user
// of every file operation here (audit/tree_lookup.h) and frees the entries of clients that have
// gone (audit/departed.h).
#pragma once

#include <cstdint>
#include <ctime>

#include "base/data.h"
#include "platform/platform.h"

namespace qvx {

class ConnectionTracker;

struct SessionSetupSt {
  uint16_t Flg;  // 0 free, 2 request seen, 1 bound
  uint32_t Tid;
  uint32_t Pid;
  uint32_t Uid;
  uint32_t Mid;
  char src_addr[32];
  char dst_addr[32];
  char Login_Name[512];
};

struct TreeConnectSt {
  uint16_t Flg;  // 0 free, 2 connect request seen, 1 connected, 3 disconnect seen
  uint32_t Tid;
  uint32_t Pid;
  uint32_t Uid;
  uint32_t Mid;
  char SharePath[512];       // \\server\share
  char ShareLocalPath[512];  // the share's folder on this server
  char src_addr[32];
  char dst_addr[32];
  char src_port[16];
  char dst_port[16];
  char src_mac[128];
  char dst_mac[128];
  char Login_Name[512];
  unsigned char MessageId[8];
  unsigned char SessionId[8];
  // 1 when the share was guessed from a request path (the connect was not seen); only such a
  // tree may move to another share (QVXAccessChkToTreeIDPathChg).
  uint8_t Guessed;
};

// Slot states.
enum : uint16_t { kSlotFree = 0, kSlotBound = 1, kSlotWaiting = 2, kSlotDisconnected = 3 };
// How QVXTreeIDGetInfo found a tree.
enum : int { kTreeFound = 3, kTreeGuessed = 2, kTreeNotFound = 1 };
// The longest local path built from a share folder and a request path.
inline constexpr size_t kAccessPathSize = 4097;
inline constexpr const char* kUserNotFound = "Not Find";

extern SessionSetupSt* SessionSetup;  // SessionSetupCnt records
extern TreeConnectSt* TreeConnect;    // TreeConnectCnt records

// Tree slots at and above QVX_TreeSlotsInUse() are free, so that the look-ups, which run for
// every file request, read only the slots that were ever taken rather than the whole table.
// Whoever takes a free slot reports it with QVX_TreeSlotTaken; after the table was cleared or
// written by other means, QVX_TreeSlotsRecount finds the mark again.
int QVX_TreeSlotsInUse();
void QVX_TreeSlotTaken(int slot);
void QVX_TreeSlotsRecount();
// The table sizes (SessionSetupCnt and TreeConnectCnt records), the tree slots a look-up over
// the first n reads, a caller's table size held to the table's, and the tree table emptied.
size_t QVX_SessionSlots();
size_t QVX_TreeSlots();
int QVX_TreeSlotsToRead(int n);
int QVX_TreeSlotsUpTo(int TreeConnectMax);
void QVX_TreeTableClear();
// Whether client addr is among the first n sessions of the server's list. Until the list could
// be read once, nobody is known to have left: every client counts as connected.
bool QVX_SessionHasClient(int n, const char* addr);

// Allocation with the other tables (QVX_AllocTables / QVX_ClearTables / QVX_FreeTables).
bool QVX_SessionTreeAlloc();
void QVX_SessionTreeClear();
void QVX_SessionTreeFree();

// 3 and the slot when a connected tree of client src_addr has TreeID; 1 otherwise.
int QVXTreeConnectInfoChk(const char* src_addr, uint32_t TreeID, uint32_t Pid, uint32_t Uid,
                          uint32_t Mid, int* nTreeID_Connect, int TreeConnectMax);
// The connect answers. An answer binds the pending tree of its own request: the same server
// (src_addr, the answer's source), the same client connection (client_addr and client_port, the
// answer's destination) and the same identifiers, as identifiers restart on every connection.
// SMB1: Pid, Uid and Mid. 0 and the slot when bound, 1 otherwise.
int QVXTreeConnectInfoSet(const char* src_addr, const char* client_addr, const char* client_port,
                          uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                          int* nTreeID_Connect, int TreeConnectMax);
// SMB2: the 8 bytes of MessageId (CmdSuqNo) and of SessionId (SID).
int QVXTreeConnectInfoSet2(const char* src_addr, const char* client_addr, const char* client_port,
                           uint32_t TreeID, const unsigned char* CmdSuqNo, const unsigned char* SID,
                           int* nTreeID_Connect, int TreeConnectMax);
// The user of client src_addr (512 bytes out): 0 found, 1 "Not Find". A client the server's
// list does not name has the list read afresh, at most once a second: a session that has just
// logged on may be missing from a list read moments before.
int QVX_UserNameSet(const char* src_addr, char* Login_Name, uint32_t UserID);
// Sets the tree's Login_Name: the session set-up's name for the client and UserID (session
// set-up option on), else the user of the NTLMSSP log-on the capture saw on the tree's own TCP
// connection (as tracker followed it), else what QVX_UserNameSet finds. When none of them names
// anyone, a name the tree already had stays (an empty one becomes "Not Find"). 0 when the tree has
// a user, 1 otherwise.
int QVX_TreeUserNameSet(TreeConnectSt* t, uint32_t UserID, const ConnectionTracker& tracker);

// Joins a share folder and a request path the way every lookup does: one separator between them.
// Returns false when the result does not fit.
bool QVX_JoinSharePath(const char* folder, const char* request, char* out, size_t size);

}  // namespace qvx
