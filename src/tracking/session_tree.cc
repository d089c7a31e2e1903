#include "tracking/session_tree.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "names/nbt.h"
#include "platform/path_match.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/connection_tracker.h"
#include "tracking/request_path.h"

namespace qvx {

SessionSetupSt* SessionSetup = nullptr;
TreeConnectSt* TreeConnect = nullptr;

namespace {

size_t SessionCount() {
  return OptionInfo.SessionSetupCnt > 0 ? static_cast<size_t>(OptionInfo.SessionSetupCnt) : 0;
}
size_t TreeCount() {
  return OptionInfo.TreeConnectCnt > 0 ? static_cast<size_t>(OptionInfo.TreeConnectCnt) : 0;
}
// A caller's table size, never beyond the table itself.
int TreeLimit(int TreeConnectMax) {
  const int n = static_cast<int>(TreeCount());
  return TreeConnectMax < 0 || TreeConnectMax > n ? n : TreeConnectMax;
}
// One past the highest slot taken since the table was last cleared.
int g_tree_slots_used = 0;
// The slots a look-up over the first n need to read.
int TreeSlotsToRead(int n) { return g_tree_slots_used < n ? g_tree_slots_used : n; }

// The name of the bound SMB1 session slot of client and UserID (session set-up option on).
const char* SessionSlotUser(const char* src_addr, uint32_t UserID) {
  if (OptionInfo.SessionSetupFlg != 1 || SessionSetup == nullptr) return nullptr;
  const int m = static_cast<int>(SessionCount());
  for (int i = 0; i < m; ++i) {
    const SessionSetupSt& s = SessionSetup[i];
    if (s.Flg == kSlotBound && s.Uid == UserID && std::strcmp(s.src_addr, src_addr) == 0)
      return s.Login_Name;
  }
  return nullptr;
}

// The user the first of the n listed sessions of client src_addr names.
const char* ListedUser(int n, const char* src_addr) {
  for (int k = 0; k < n && NetWkSessionInfo; ++k)
    if (std::strcmp(NetWkSessionInfo[k].sesi502_cname, src_addr) == 0)
      return NetWkSessionInfo[k].sesi502_username;
  return nullptr;
}

// The second of the last forced read of the server's session list.
int64_t g_forced_list_sec = INT64_MIN;

}  // namespace

size_t QVX_SessionSlots() { return SessionCount(); }
size_t QVX_TreeSlots() { return TreeCount(); }
int QVX_TreeSlotsToRead(int n) { return TreeSlotsToRead(n); }
int QVX_TreeSlotsUpTo(int TreeConnectMax) { return TreeLimit(TreeConnectMax); }

void QVX_TreeTableClear() {
  if (TreeConnect) std::memset(TreeConnect, 0, TreeCount() * sizeof(TreeConnectSt));
  g_tree_slots_used = 0;
}

bool QVX_SessionHasClient(int n, const char* addr) {
  if (!QVX_NetSessionKnown()) return true;
  for (int k = 0; k < n; ++k)
    if (std::strcmp(NetWkSessionInfo[k].sesi502_cname, addr) == 0) return true;
  return false;
}

bool QVX_SessionTreeAlloc() {
  QVX_SessionTreeFree();
  SessionSetup =
      static_cast<SessionSetupSt*>(std::calloc(SessionCount() + 1, sizeof(SessionSetupSt)));
  TreeConnect = static_cast<TreeConnectSt*>(std::calloc(TreeCount() + 1, sizeof(TreeConnectSt)));
  g_tree_slots_used = 0;
  g_forced_list_sec = INT64_MIN;
  return SessionSetup != nullptr && TreeConnect != nullptr;
}

void QVX_SessionTreeClear() {
  if (SessionSetup) std::memset(SessionSetup, 0, SessionCount() * sizeof(SessionSetupSt));
  // Slots at and above the mark were not written since the table was last cleared (or
  // allocated zeroed): clearing the ones below it clears the table, without touching all of it.
  if (TreeConnect)
    std::memset(TreeConnect, 0,
                static_cast<size_t>(TreeSlotsToRead(static_cast<int>(TreeCount()))) *
                    sizeof(TreeConnectSt));
  g_tree_slots_used = 0;
  g_forced_list_sec = INT64_MIN;
}

int QVX_TreeSlotsInUse() { return g_tree_slots_used; }

void QVX_TreeSlotTaken(int slot) {
  if (slot >= g_tree_slots_used) g_tree_slots_used = slot + 1;
}

void QVX_TreeSlotsRecount() {
  g_tree_slots_used = 0;
  const int n = TreeConnect ? static_cast<int>(TreeCount()) : 0;
  for (int i = n - 1; i >= 0; --i) {
    if (TreeConnect[i].Flg != kSlotFree) {
      g_tree_slots_used = i + 1;
      break;
    }
  }
}

void QVX_SessionTreeFree() {
  std::free(SessionSetup);
  SessionSetup = nullptr;
  std::free(TreeConnect);
  TreeConnect = nullptr;
}

bool QVX_JoinSharePath(const char* folder, const char* request, char* out, size_t size) {
  if (size == 0) return false;
  // Nothing outside the share is ever looked up: a name that climbs out of it joins nothing.
  char resolved[kAccessPathSize];
  if (!QVX_ResolveRequestName(request, resolved, sizeof resolved)) {
    out[0] = '\0';
    return false;
  }
  std::string req = resolved;
  // Requests name their folders with backslashes; the server's own paths may use "/".
  if constexpr (kPathSep != '\\')
    for (char& c : req)
      if (c == '\\') c = kPathSep;
  std::string path = folder ? folder : "";
  const bool req_sep = !req.empty() && req[0] == kPathSep;
  const bool path_sep = !path.empty() && path.back() == kPathSep;
  if (req_sep && path_sep) path.pop_back();
  if (!req_sep && !path_sep) path += kPathSep;
  path += req;
  CopyText(out, size, path.c_str());
  return path.size() < size;
}

int QVXTreeConnectInfoChk(const char* src_addr, uint32_t TreeID, uint32_t, uint32_t, uint32_t,
                          int* nTreeID_Connect, int) {
  if (TreeConnect == nullptr) return kTreeNotFound;
  const int n = TreeSlotsToRead(static_cast<int>(TreeCount()));
  for (int i = 0; i < n; ++i) {
    const TreeConnectSt& t = TreeConnect[i];
    if (t.Flg == kSlotBound && t.Tid == TreeID && std::strcmp(t.src_addr, src_addr) == 0) {
      if (nTreeID_Connect) *nTreeID_Connect = i;
      return kTreeFound;
    }
  }
  return kTreeNotFound;
}

namespace {
// The pending tree's request came over the answer's connection from its server.
bool SameConnection(const TreeConnectSt& t, const char* server, const char* client,
                    const char* client_port) {
  return std::strcmp(t.dst_addr, server) == 0 && std::strcmp(t.src_addr, client) == 0 &&
         std::strcmp(t.src_port, client_port) == 0;
}
}  // namespace

int QVXTreeConnectInfoSet(const char* src_addr, const char* client_addr, const char* client_port,
                          uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                          int* nTreeID_Connect, int TreeConnectMax) {
  if (TreeConnect == nullptr) return 1;
  const int n = TreeSlotsToRead(TreeLimit(TreeConnectMax));
  for (int i = 0; i < n; ++i) {
    TreeConnectSt& t = TreeConnect[i];
    if (t.Flg != kSlotWaiting) continue;
    if (QVX_TraceLevel(6))
      QVX_KLOG(
          "QVX_D61-001 QVXTreeConnectInfoSet[%d][%ld] : Pid %d %d : Uid %d %d : Mid %d %d : IP "
          "%s %s\r\n",
          static_cast<int>(t.Pid), static_cast<int>(Pid), static_cast<int>(t.Uid),
          static_cast<int>(Uid), static_cast<int>(t.Mid), static_cast<int>(Mid), t.dst_addr,
          src_addr);
    if (t.Pid == Pid && t.Uid == Uid && t.Mid == Mid &&
        SameConnection(t, src_addr, client_addr, client_port)) {
      t.Tid = TreeID;
      t.Flg = kSlotBound;
      if (nTreeID_Connect) *nTreeID_Connect = i;
      return 0;
    }
  }
  return 1;
}

int QVXTreeConnectInfoSet2(const char* src_addr, const char* client_addr, const char* client_port,
                           uint32_t TreeID, const unsigned char* CmdSuqNo, const unsigned char* SID,
                           int* nTreeID_Connect, int TreeConnectMax) {
  if (TreeConnect == nullptr || CmdSuqNo == nullptr || SID == nullptr) return 1;
  const int n = TreeSlotsToRead(TreeLimit(TreeConnectMax));
  for (int i = 0; i < n; ++i) {
    TreeConnectSt& t = TreeConnect[i];
    if (t.Flg == kSlotWaiting && std::memcmp(t.MessageId, CmdSuqNo, 8) == 0 &&
        std::memcmp(t.SessionId, SID, 8) == 0 &&
        SameConnection(t, src_addr, client_addr, client_port)) {
      t.Tid = TreeID;
      t.Flg = kSlotBound;
      if (nTreeID_Connect) *nTreeID_Connect = i;
      return 0;
    }
  }
  return 1;
}

int QVX_UserNameSet(const char* src_addr, char* Login_Name, uint32_t UserID) {
  QVX_DBG();
  int n = QVX_NetSession_NT(NetWkSessionInfo, OptionInfo.NetWkInfoCnt, nullptr, nullptr, nullptr);
  const char* found = SessionSlotUser(src_addr, UserID);
  if (!found) found = ListedUser(n, src_addr);
  const int64_t now = platform().Now().t;
  if (!found && NetWkSessionInfo && now != g_forced_list_sec) {
    // The list may predate the client's log-on (it is cached, and a session still logging on is
    // listed without a user): read it afresh. Once a second at most, however many accesses of
    // clients it does not name come in.
    g_forced_list_sec = now;
    platform().ExpireSessionCache();
    n = QVX_NetSession_NT(NetWkSessionInfo, OptionInfo.NetWkInfoCnt, nullptr, nullptr, nullptr);
    found = ListedUser(n, src_addr);
  }
  CopyText(Login_Name, 512, found ? found : kUserNotFound);
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_E16-005 QVX_UserNameSet[%d][%ld] : IPアドレス = %s  Login_Name = %s\r\n",
             src_addr, Login_Name);
  QVX_DBG();
  return found ? 0 : 1;
}

int QVX_TreeUserNameSet(TreeConnectSt* t, uint32_t UserID, const ConnectionTracker& tracker) {
  char name[512];
  std::string seen;
  if (SessionSlotUser(t->src_addr, UserID) == nullptr) {
    // The log-on of the tree's own session first: one connection may carry several users.
    const uint16_t port = static_cast<uint16_t>(std::strtoul(t->src_port, nullptr, 10));
    uint64_t session = 0;
    for (int i = 7; i >= 0; --i) session = session << 8 | t->SessionId[i];
    seen = session != 0 ? tracker.SessionUser(t->dst_addr, t->src_addr, port, 2, session)
                        : tracker.SessionUser(t->dst_addr, t->src_addr, port, 1,
                                              UserID != 0 ? UserID : t->Uid);
    if (seen.empty()) seen = tracker.User(t->dst_addr, t->src_addr, port);
  }
  int rc = 0;
  if (!seen.empty()) {
    CopyText(name, seen.c_str());
    if (QVX_TraceLevel(6))
      QVX_KLOG("QVX_E16-006 QVX_TreeUserNameSet[%d][%ld] : IPアドレス = %s:%s  Login_Name = %s\r\n",
               t->src_addr, t->src_port, name);
  } else {
    rc = QVX_UserNameSet(t->src_addr, name, UserID);
  }
  // A tree belongs to one log-on: a look-up that finds nobody (the session has already left the
  // server's list) does not take away the name found before.
  if (rc == 0 || t->Login_Name[0] == '\0') CopyText(t->Login_Name, name);
  return std::strcmp(t->Login_Name, kUserNotFound) == 0 ? 1 : 0;
}

}  // namespace qvx
