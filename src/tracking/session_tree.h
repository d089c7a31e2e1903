// The session and tree tables: who logged on from where (SMB1 session set-up), and which share
// each tree identifier of each client stands for. The SMB handlers create entries from set-up and
// tree-connect requests and bind them to the answers; the audit step looks up the tree and user
// of every file operation here (audit/tree_lookup.h) and frees the entries of clients that have
// gone (audit/departed.h).
#pragma once

#include <cstddef>
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
  char src_addr[48];  // room for an IPv6 address's text
  char dst_addr[48];
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
  char src_addr[48];         // room for an IPv6 address's text
  char dst_addr[48];
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
  // 1 when the connect answer said the tree holds named pipes (SMB1 service "IPC", SMB2 share
  // type PIPE), whatever the share is called.
  uint8_t Pipe;
};

// Slot states.
enum : uint16_t { kSlotFree = 0, kSlotBound = 1, kSlotWaiting = 2, kSlotDisconnected = 3 };
// How QVXTreeIDGetInfo found a tree.
enum : int { kTreeFound = 3, kTreeGuessed = 2, kTreeNotFound = 1 };
// The longest local path built from a share folder and a request path.
inline constexpr size_t kAccessPathSize = 4097;
inline constexpr const char* kUserNotFound = "Not Find";

// The session and tree tables of a capture run, with what the look-ups keep beside them. The
// program has one (QVX_ProgramLogonTables: allocated with the other tables, emptied at the start
// of every run, read by the maintenance between runs); a capture run reaches it through its
// context, and a test may build its own.
class LogonTables {
 public:
  LogonTables() = default;
  ~LogonTables() { Free(); }
  LogonTables(const LogonTables&) = delete;
  LogonTables& operator=(const LogonTables&) = delete;

  // Sessions and trees records, zeroed. False when memory is short.
  bool Alloc(size_t sessions, size_t trees);
  void Free();
  // Both tables emptied (a run starts), and the tree table alone (it ran full).
  void Clear();
  void ClearTrees();

  SessionSetupSt* sessions() const { return sessions_; }
  size_t session_count() const { return sessions_ ? session_count_ : 0; }
  TreeConnectSt* trees() const { return trees_; }
  size_t tree_count() const { return trees_ ? tree_count_ : 0; }
  TreeConnectSt& tree(int slot) const { return trees_[slot]; }

  // Tree slots at and above SlotsInUse() are free, so that the look-ups, which run for every file
  // request, read only the slots that were ever taken rather than the whole table. Whoever takes
  // a free slot reports it with SlotTaken; after the table was written by other means,
  // SlotsRecount finds the mark again. SlotsToRead: the slots a look-up over the first n reads;
  // SlotsUpTo: a caller's table size held to the table's.
  int SlotsInUse() const { return slots_used_; }
  void SlotTaken(int slot) {
    if (slot >= slots_used_) slots_used_ = slot + 1;
  }
  void SlotsRecount();
  int SlotsToRead(int n) const { return slots_used_ < n ? slots_used_ : n; }
  int SlotsUpTo(int TreeConnectMax) const;

  // The connected tree of client src_addr with TreeID: kTreeFound and its slot, else
  // kTreeNotFound.
  int FindTree(const char* src_addr, uint32_t TreeID, int* slot) const;
  // A connect answer binds the pending tree of its own request: the same server (src_addr, the
  // answer's source), the same client connection (client_addr and client_port, the answer's
  // destination) and the same identifiers, as identifiers restart on every connection. SMB1:
  // Pid, Uid and Mid; SMB2: the 8 bytes of MessageId and of SessionId. 0 and the slot when
  // bound, 1 otherwise.
  int BindTree(const char* src_addr, const char* client_addr, const char* client_port,
               uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid, int* slot,
               int TreeConnectMax);
  int BindTree2(const char* src_addr, const char* client_addr, const char* client_port,
                uint32_t TreeID, const unsigned char* MessageId, const unsigned char* SessionId,
                int* slot, int TreeConnectMax);
  // The name of the bound SMB1 session row of client src_addr and UserID, or nullptr.
  const char* SessionUser(const char* src_addr, uint32_t UserID) const;

  // The second of the last forced read of the server's session list (QVX_LookUpUser).
  int64_t forced_list_sec = INT64_MIN;

 private:
  SessionSetupSt* sessions_ = nullptr;
  size_t session_count_ = 0;
  TreeConnectSt* trees_ = nullptr;
  size_t tree_count_ = 0;
  int slots_used_ = 0;  // one past the highest tree slot taken since the table was last cleared
};

LogonTables& QVX_ProgramLogonTables();

// The program's tables under the names they have always had: SessionSetupCnt and TreeConnectCnt
// records of QVX_ProgramLogonTables(), null while not allocated.
extern SessionSetupSt* SessionSetup;
extern TreeConnectSt* TreeConnect;

// The program's tables sized from OptionInfo (with the other tables: QVX_AllocTables,
// QVX_ClearTables, QVX_FreeTables).
bool QVX_SessionTreeAlloc();
void QVX_SessionTreeClear();
void QVX_SessionTreeFree();

// Whether client addr is among the first n sessions of the server's list. Until the list could
// be read once, nobody is known to have left: every client counts as connected.
bool QVX_SessionHasClient(int n, const char* addr);

// What a user look-up reads besides the tables: whether session set-ups are decoded
// (SessionSetupFlg), the size of the server's session list (NetWkInfoCnt), the platform that
// reads it and the clock.
struct UserSources {
  LogonTables& tables;
  Platform& os;
  bool session_setup;
  int list_size;
};
// The user of client src_addr (512 bytes out): 0 found, 1 "Not Find". A client the server's
// list does not name has the list read afresh, at most once a second: a session that has just
// logged on may be missing from a list read moments before.
int QVX_LookUpUser(const UserSources& from, const char* src_addr, char* Login_Name,
                   uint32_t UserID);
// Sets the tree's Login_Name: the session set-up's name for the client and UserID (session
// set-up option on), else the user of the NTLMSSP log-on the capture saw on the tree's own TCP
// connection (as tracker followed it), else what QVX_LookUpUser finds. When none of them names
// anyone, a name the tree already had stays (an empty one becomes "Not Find"). 0 when the tree has
// a user, 1 otherwise.
int QVX_TreeUserNameSet(const UserSources& from, TreeConnectSt* t, uint32_t UserID,
                        const ConnectionTracker& tracker);

// The look-ups on the program's tables with the program's options.
int QVXTreeConnectInfoChk(const char* src_addr, uint32_t TreeID, uint32_t Pid, uint32_t Uid,
                          uint32_t Mid, int* nTreeID_Connect, int TreeConnectMax);
int QVXTreeConnectInfoSet(const char* src_addr, const char* client_addr, const char* client_port,
                          uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                          int* nTreeID_Connect, int TreeConnectMax);
int QVXTreeConnectInfoSet2(const char* src_addr, const char* client_addr, const char* client_port,
                           uint32_t TreeID, const unsigned char* CmdSuqNo, const unsigned char* SID,
                           int* nTreeID_Connect, int TreeConnectMax);
int QVX_UserNameSet(const char* src_addr, char* Login_Name, uint32_t UserID);

// Joins a share folder and a request path the way every lookup does: one separator between them.
// Returns false when the result does not fit.
bool QVX_JoinSharePath(const char* folder, const char* request, char* out, size_t size);

}  // namespace qvx
