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

bool LogonTables::Alloc(size_t sessions, size_t trees) {
  Free();
  // One record more than asked, as the tables have always been allocated.
  sessions_ = static_cast<SessionSetupSt*>(std::calloc(sessions + 1, sizeof(SessionSetupSt)));
  trees_ = static_cast<TreeConnectSt*>(std::calloc(trees + 1, sizeof(TreeConnectSt)));
  session_count_ = sessions;
  tree_count_ = trees;
  slots_used_ = 0;
  forced_list_sec = INT64_MIN;
  if (sessions_ != nullptr && trees_ != nullptr) return true;
  Free();
  return false;
}

void LogonTables::Free() {
  std::free(sessions_);
  sessions_ = nullptr;
  std::free(trees_);
  trees_ = nullptr;
  session_count_ = tree_count_ = 0;
  slots_used_ = 0;
}

void LogonTables::Clear() {
  if (sessions_) std::memset(sessions_, 0, session_count_ * sizeof(SessionSetupSt));
  // Slots at and above the mark were not written since the table was last cleared (or
  // allocated zeroed): clearing the ones below it clears the table, without touching all of it.
  if (trees_)
    std::memset(
        trees_, 0,
        static_cast<size_t>(SlotsToRead(static_cast<int>(tree_count_))) * sizeof(TreeConnectSt));
  slots_used_ = 0;
  forced_list_sec = INT64_MIN;
}

void LogonTables::ClearTrees() {
  if (trees_) std::memset(trees_, 0, tree_count_ * sizeof(TreeConnectSt));
  slots_used_ = 0;
}

void LogonTables::SlotsRecount() {
  slots_used_ = 0;
  for (int i = static_cast<int>(tree_count()) - 1; i >= 0; --i) {
    if (trees_[i].Flg != kSlotFree) {
      slots_used_ = i + 1;
      break;
    }
  }
}

int LogonTables::SlotsUpTo(int TreeConnectMax) const {
  const int n = static_cast<int>(tree_count());
  return TreeConnectMax < 0 || TreeConnectMax > n ? n : TreeConnectMax;
}

const char* LogonTables::SessionUser(const char* src_addr, uint32_t UserID) const {
  const int m = static_cast<int>(session_count());
  for (int i = 0; i < m; ++i) {
    const SessionSetupSt& s = sessions_[i];
    if (s.Flg == kSlotBound && s.Uid == UserID && std::strcmp(s.src_addr, src_addr) == 0)
      return s.Login_Name;
  }
  return nullptr;
}

LogonTables& QVX_ProgramLogonTables() {
  // Never destroyed: the records outlive every thread that may still use them at exit, as they
  // always have.
  static LogonTables* tables = new LogonTables;
  return *tables;
}

namespace {

size_t Capacity(int configured) { return configured > 0 ? static_cast<size_t>(configured) : 0; }

// The user the first of the n listed sessions of client src_addr names.
const char* ListedUser(int n, const char* src_addr) {
  for (int k = 0; k < n && NetWkSessionInfo; ++k)
    if (std::strcmp(NetWkSessionInfo[k].sesi502_cname, src_addr) == 0)
      return NetWkSessionInfo[k].sesi502_username;
  return nullptr;
}

// The program's look-ups read the program's options as they stand.
UserSources ProgramUserSources() {
  return UserSources{QVX_ProgramLogonTables(), platform(), OptionInfo.SessionSetupFlg == 1,
                     OptionInfo.NetWkInfoCnt};
}

}  // namespace

bool QVX_SessionTreeAlloc() {
  LogonTables& t = QVX_ProgramLogonTables();
  const bool ok =
      t.Alloc(Capacity(OptionInfo.SessionSetupCnt), Capacity(OptionInfo.TreeConnectCnt));
  SessionSetup = t.sessions();
  TreeConnect = t.trees();
  return ok;
}

void QVX_SessionTreeClear() { QVX_ProgramLogonTables().Clear(); }

void QVX_SessionTreeFree() {
  QVX_ProgramLogonTables().Free();
  SessionSetup = nullptr;
  TreeConnect = nullptr;
}

bool QVX_SessionHasClient(int n, const char* addr) {
  if (!QVX_NetSessionKnown()) return true;
  for (int k = 0; k < n; ++k)
    if (std::strcmp(NetWkSessionInfo[k].sesi502_cname, addr) == 0) return true;
  return false;
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

int LogonTables::FindTree(const char* src_addr, uint32_t TreeID, int* slot) const {
  const int n = SlotsToRead(static_cast<int>(tree_count()));
  for (int i = 0; i < n; ++i) {
    const TreeConnectSt& t = trees_[i];
    if (t.Flg == kSlotBound && t.Tid == TreeID && std::strcmp(t.src_addr, src_addr) == 0) {
      if (slot) *slot = i;
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

int LogonTables::BindTree(const char* src_addr, const char* client_addr, const char* client_port,
                          uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid, int* slot,
                          int TreeConnectMax) {
  const int n = SlotsToRead(SlotsUpTo(TreeConnectMax));
  for (int i = 0; i < n; ++i) {
    TreeConnectSt& t = trees_[i];
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
      if (slot) *slot = i;
      return 0;
    }
  }
  return 1;
}

int LogonTables::BindTree2(const char* src_addr, const char* client_addr, const char* client_port,
                           uint32_t TreeID, const unsigned char* MessageId,
                           const unsigned char* SessionId, int* slot, int TreeConnectMax) {
  if (MessageId == nullptr || SessionId == nullptr) return 1;
  const int n = SlotsToRead(SlotsUpTo(TreeConnectMax));
  for (int i = 0; i < n; ++i) {
    TreeConnectSt& t = trees_[i];
    if (t.Flg == kSlotWaiting && std::memcmp(t.MessageId, MessageId, 8) == 0 &&
        std::memcmp(t.SessionId, SessionId, 8) == 0 &&
        SameConnection(t, src_addr, client_addr, client_port)) {
      t.Tid = TreeID;
      t.Flg = kSlotBound;
      if (slot) *slot = i;
      return 0;
    }
  }
  return 1;
}

int QVXTreeConnectInfoChk(const char* src_addr, uint32_t TreeID, uint32_t, uint32_t, uint32_t,
                          int* nTreeID_Connect, int) {
  return QVX_ProgramLogonTables().FindTree(src_addr, TreeID, nTreeID_Connect);
}

int QVXTreeConnectInfoSet(const char* src_addr, const char* client_addr, const char* client_port,
                          uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                          int* nTreeID_Connect, int TreeConnectMax) {
  return QVX_ProgramLogonTables().BindTree(src_addr, client_addr, client_port, TreeID, Pid, Uid,
                                           Mid, nTreeID_Connect, TreeConnectMax);
}

int QVXTreeConnectInfoSet2(const char* src_addr, const char* client_addr, const char* client_port,
                           uint32_t TreeID, const unsigned char* CmdSuqNo, const unsigned char* SID,
                           int* nTreeID_Connect, int TreeConnectMax) {
  return QVX_ProgramLogonTables().BindTree2(src_addr, client_addr, client_port, TreeID, CmdSuqNo,
                                            SID, nTreeID_Connect, TreeConnectMax);
}

int QVX_LookUpUser(const UserSources& from, const char* src_addr, char* Login_Name,
                   uint32_t UserID) {
  QVX_DBG();
  int n = QVX_NetSession_NT(NetWkSessionInfo, from.list_size, nullptr, nullptr, nullptr);
  const char* found = from.session_setup ? from.tables.SessionUser(src_addr, UserID) : nullptr;
  if (!found) found = ListedUser(n, src_addr);
  const int64_t now = from.os.Now().t;
  if (!found && NetWkSessionInfo && now != from.tables.forced_list_sec) {
    // The list may predate the client's log-on (it is cached, and a session still logging on is
    // listed without a user): read it afresh. Once a second at most, however many accesses of
    // clients it does not name come in.
    from.tables.forced_list_sec = now;
    from.os.ExpireSessionCache();
    n = QVX_NetSession_NT(NetWkSessionInfo, from.list_size, nullptr, nullptr, nullptr);
    found = ListedUser(n, src_addr);
  }
  CopyText(Login_Name, 512, found ? found : kUserNotFound);
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_E16-005 QVX_UserNameSet[%d][%ld] : IPアドレス = %s  Login_Name = %s\r\n",
             src_addr, Login_Name);
  QVX_DBG();
  return found ? 0 : 1;
}

int QVX_UserNameSet(const char* src_addr, char* Login_Name, uint32_t UserID) {
  return QVX_LookUpUser(ProgramUserSources(), src_addr, Login_Name, UserID);
}

int QVX_TreeUserNameSet(const UserSources& from, TreeConnectSt* t, uint32_t UserID,
                        const ConnectionTracker& tracker) {
  char name[512];
  std::string seen;
  if (!from.session_setup || from.tables.SessionUser(t->src_addr, UserID) == nullptr) {
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
    rc = QVX_LookUpUser(from, t->src_addr, name, UserID);
  }
  // A tree belongs to one log-on: a look-up that finds nobody (the session has already left the
  // server's list) does not take away the name found before.
  if (rc == 0 || t->Login_Name[0] == '\0') CopyText(t->Login_Name, name);
  return std::strcmp(t->Login_Name, kUserNotFound) == 0 ? 1 : 0;
}

}  // namespace qvx
