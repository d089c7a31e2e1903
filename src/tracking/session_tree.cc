#include "tracking/session_tree.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "accesslog/access_log.h"
#include "app/controller.h"
#include "app/listview.h"
#include "app/tables.h"
#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "capture/capture_loop.h"
#include "capture/connection_tracker.h"
#include "capture/smb_command_table.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "names/nbt.h"
#include "platform/path_match.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
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
bool Level(int n) { return OptionInfo.ErrorLevel >= n; }

void Addr(const unsigned char* p, char* out, size_t size) { DottedQuad(out, size, p); }
void Port(const unsigned char* p, char* out, size_t size) {
  std::snprintf(out, size, "%d", (p[0] << 8) | p[1]);
}

const char* CommandName(const DATA* data) {
  if (data->SMBVersion == 1) return QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand).Name;
  return QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand).Name;
}
const char* CommandInfo(const DATA* data) {
  if (data->SMBVersion == 1)
    return QVX_Smb1CommandRow(data->SMBCmdListFlg, data->SMBCommand).Description;
  return QVX_Smb2CommandRow(data->SMBCmdListFlg, data->SMBCommand).Description;
}

// True when the candidate path under share folder counts as a hit for the guess: it exists, or
// its parent folder exists and is not the share's own folder (a file being created).
bool ShareHit(const char* candidate, const char* share_path) {
  if (platform().FileExists(candidate)) return true;
  std::string parent = PathRemoveFileSpec(candidate);
  return parent != share_path && platform().IsDirectory(parent);
}

// Whether client addr is among the n listed sessions. Until the server's list could be read
// once, nobody is known to have left: every client counts as connected.
bool SessionHasClient(int n, const char* addr) {
  if (!QVX_NetSessionKnown()) return true;
  for (int k = 0; k < n; ++k)
    if (std::strcmp(NetWkSessionInfo[k].sesi502_cname, addr) == 0) return true;
  return false;
}

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

void QVX_FrameSrcAddr(const unsigned char* d, char* out, size_t size) { Addr(d + 12, out, size); }
void QVX_FrameDstAddr(const unsigned char* d, char* out, size_t size) { Addr(d + 16, out, size); }
void QVX_FrameSrcPort(const unsigned char* d, char* out, size_t size) { Port(d + 20, out, size); }
void QVX_FrameDstPort(const unsigned char* d, char* out, size_t size) { Port(d + 22, out, size); }

bool QVX_JoinSharePath(const char* folder, const char* request, char* out, size_t size) {
  if (size == 0) return false;
  // Nothing outside the share is ever looked up: a name that climbs out of it joins nothing.
  static char resolved[kAccessPathSize];
  if (!QVX_ResolveRequestName(request, resolved, sizeof resolved)) {
    out[0] = '\0';
    return false;
  }
  std::string req = resolved;
#ifndef _WIN32
  // Requests name their folders with backslashes; the server's own paths use "/".
  for (char& c : req)
    if (c == '\\') c = '/';
#endif
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
    if (Level(6))
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
  if (Level(6))
    QVX_KLOG("QVX_E16-005 QVX_UserNameSet[%d][%ld] : IPアドレス = %s  Login_Name = %s\r\n",
             src_addr, Login_Name);
  QVX_DBG();
  return found ? 0 : 1;
}

int QVX_TreeUserNameSet(TreeConnectSt* t, uint32_t UserID) {
  char name[512];
  std::string seen;
  if (SessionSlotUser(t->src_addr, UserID) == nullptr) {
    // The log-on of the tree's own session first: one connection may carry several users.
    const uint16_t port = static_cast<uint16_t>(std::strtoul(t->src_port, nullptr, 10));
    uint64_t session = 0;
    for (int i = 7; i >= 0; --i) session = session << 8 | t->SessionId[i];
    seen = session != 0
               ? CaptureConnections().SessionUser(t->dst_addr, t->src_addr, port, 2, session)
               : CaptureConnections().SessionUser(t->dst_addr, t->src_addr, port, 1,
                                                  UserID != 0 ? UserID : t->Uid);
    if (seen.empty()) seen = CaptureConnections().User(t->dst_addr, t->src_addr, port);
  }
  int rc = 0;
  if (!seen.empty()) {
    CopyText(name, seen.c_str());
    if (Level(6))
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

int QVXUnKnownRelated(uint32_t TreeID, const unsigned char* recvData, const char* sBuffer,
                      int* nTreeID_Connect, int* QVXTreeConnectInfoChkRet, DATA* data,
                      int TreeConnectMax) {
  QVX_DBG();
  if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = 0;
  if (TreeConnect == nullptr || NetWkShareInfo == nullptr || NetWkShareInfoBuf == nullptr)
    return 10;
  const int net = OptionInfo.NetWkInfoCnt > 0 ? OptionInfo.NetWkInfoCnt : 0;
  const int shares = NetShareInfoDataNo < net ? NetShareInfoDataNo : net;
  // Each local folder counts once, under its first share. Only the listed shares are looked at,
  // so only they are copied (this runs for every request on an unknown tree).
  if (shares > 0) std::memcpy(NetWkShareInfoBuf, NetWkShareInfo, sizeof(NetWkShareInfoSt) * shares);
  for (int i = 0; i < shares; ++i) {
    if (NetWkShareInfoBuf[i].path[0] == '\0') continue;
    for (int j = i + 1; j < shares; ++j)
      if (std::strcmp(NetWkShareInfoBuf[j].path, NetWkShareInfoBuf[i].path) == 0)
        NetWkShareInfoBuf[j].path[0] = '\0';
  }
  int hits = 0;
  int hit = -1;
  static char candidate[kAccessPathSize];
  for (int i = 0; i < shares; ++i) {
    const char* folder = NetWkShareInfoBuf[i].path;
    if (folder[0] == '\0') continue;
    if (!QVX_JoinSharePath(folder, sBuffer, candidate, kAccessPathSize - 1)) continue;
    if (ShareHit(candidate, folder)) {
      ++hits;
      hit = i;
    }
  }
  if (hits != 1) return 10;

  int slot = nTreeID_Connect ? *nTreeID_Connect : 0;
  if (slot <= 0 || slot >= static_cast<int>(TreeCount())) {
    slot = -1;
    const int n = TreeLimit(TreeConnectMax);
    for (int i = 0; i < n; ++i) {
      if (TreeConnect[i].Flg == kSlotFree) {
        slot = i;
        break;
      }
    }
    if (slot < 0) {
      QVX_KLOG("QVX_E15-001 QVXUnKnownRelated[%d][%ld] : TreeID管理の空き領域がありません。\r\n");
      std::memset(TreeConnect, 0, TreeCount() * sizeof(TreeConnectSt));
      g_tree_slots_used = 0;
      QVX_KLOG("QVX_I15-001 QVXUnKnownRelated[%d][%ld] : TreeID管理領域をクリアーしました。\r\n");
      slot = 0;
    }
  }
  TreeConnectSt& t = TreeConnect[slot];
  t.Tid = TreeID;
  t.Flg = kSlotBound;
  t.Guessed = 1;
  t.Login_Name[0] = '\0';  // a new tree: no user of another carries over
  QVX_TreeSlotTaken(slot);
  const NetWkShareInfoSt& share = NetWkShareInfo[hit];
  std::snprintf(t.ShareLocalPath, sizeof t.ShareLocalPath, "%s%s", share.path,
                (sBuffer && sBuffer[0] == '\\') ? "" : std::string(1, kPathSep).c_str());
  QVX_FrameSrcAddr(recvData, t.src_addr, sizeof t.src_addr);
  QVX_FrameDstAddr(recvData, t.dst_addr, sizeof t.dst_addr);
  QVX_FrameSrcPort(recvData, t.src_port, sizeof t.src_port);
  QVX_FrameDstPort(recvData, t.dst_port, sizeof t.dst_port);
  std::snprintf(t.SharePath, sizeof t.SharePath, "\\\\%s\\%s", t.dst_addr, share.netname);
  CopyText(t.src_mac, data->ClientMac);
  CopyText(t.dst_mac, data->ServerMac);
  if (nTreeID_Connect) *nTreeID_Connect = slot;
  if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = kTreeGuessed;
  QVX_DBG();
  return 0;
}

int QVXTreeIDGetInfo(uint32_t TreeID, uint32_t Pid, uint32_t Uid, uint32_t Mid,
                     const unsigned char* recvData, const char* sBuffer, int* nTreeID_Connect,
                     int* QVXTreeConnectInfoChkRet, DATA* data) {
  QVX_DBG();
  const LocalTime now = platform().Now();
  if (sBuffer == nullptr) sBuffer = "";
  char client[32], server[32];
  QVX_FrameSrcAddr(recvData, client, sizeof client);
  QVX_FrameDstAddr(recvData, server, sizeof server);

  if (QVXTreeConnectInfoChk(client, TreeID, Pid, Uid, Mid, nTreeID_Connect,
                            OptionInfo.TreeConnectCnt) == kTreeFound) {
    if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = kTreeFound;
    return 0;
  }
  int slot = 0;
  int how = 0;
  if (QVXUnKnownRelated(TreeID, recvData, sBuffer, &slot, &how, data, OptionInfo.TreeConnectCnt) ==
      0) {
    if (nTreeID_Connect) *nTreeID_Connect = slot;
    if (QVXTreeConnectInfoChkRet) *QVXTreeConnectInfoChkRet = how;
    QVX_TreeUserNameSet(&TreeConnect[slot], Uid);
    return 0;
  }

  // The tree stays unknown: say so once per repeated access.
  if (Level(2))
    QVX_KLOG(
        "QVX_E06-001 QVXTreeIDGetInfo[%d][%ld] : TreeIDと一致するデータがありません。TreeID = "
        "%d\r\n",
        static_cast<int>(TreeID));
  QVX_UnknownRecord(TreeID, recvData, sBuffer, CommandName(data), CommandInfo(data), now, data,
                    "QVXTreeIDGetInfo");
  QVX_DBG();
  return 10;
}

bool QVX_UnknownRecord(uint32_t TreeID, const unsigned char* recvData, const char* path,
                       const char* cmd, const char* info, const LocalTime& now, DATA* data,
                       const char* routine) {
  // A name that would leave the share is shown as sent, marked.
  static char resolved[kAccessPathSize], marked[kAccessPathSize];
  if (!QVX_ResolveRequestName(path, resolved, sizeof resolved)) {
    std::snprintf(marked, sizeof marked, "%s%s", kOutsideShareMark, path);
    path = marked;
  }
  if (QVX_ExclusionInfoChk(path, 0) != 0) return false;
  char client[32], server[32];
  QVX_FrameSrcAddr(recvData, client, sizeof client);
  QVX_FrameDstAddr(recvData, server, sizeof server);
  char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
  AddHostName(client, client_text, OptionInfo.HostName, 0);
  AddHostName(server, server_text, OptionInfo.HostName, 0);
  SameAccessKey key;
  key.tid = static_cast<int>(TreeID);
  key.client = client_text;
  key.server = server_text;
  key.path = path;
  key.caller = routine;
  if (QVX_SameAccessFound(key)) return false;

  char tid_text[16];
  std::snprintf(tid_text, sizeof tid_text, "%d", static_cast<int>(TreeID));
  AccessEvent e;
  e.when = now;
  e.action = "unknown";
  e.tree = tid_text;
  e.client = client_text;
  e.server = server_text;
  e.client_mac = data->ClientMac;
  e.server_mac = data->ServerMac;
  e.command = cmd;
  e.info = info;
  e.path = path;
  QVX_Emit(e);
  return true;
}

int QVXAccessChkToTreeIDPathChg(char* sAccessFullPath, const char* sBuffer, time_t ZLocaTimeLW,
                                int nTreeID_Connect, DATA*, int) {
  time_t file_time = 0;
  int r = FileNotifyInfo(sAccessFullPath, ZLocaTimeLW, &file_time, 0);
  if (r == 0) r = kTimeUnreadable;
  if (r == kTimeUnreadable && NetWkShareInfo && TreeConnect && nTreeID_Connect >= 0 &&
      nTreeID_Connect < static_cast<int>(TreeCount()) && TreeConnect[nTreeID_Connect].Guessed) {
    static char candidate[kAccessPathSize];
    const int net = OptionInfo.NetWkInfoCnt > 0 ? OptionInfo.NetWkInfoCnt : 0;
    const int shares = NetShareInfoDataNo < net ? NetShareInfoDataNo : net;
    for (int i = 0; i < shares; ++i) {
      const NetWkShareInfoSt& share = NetWkShareInfo[i];
      if (share.path[0] == '\0') continue;
      if (!QVX_JoinSharePath(share.path, sBuffer, candidate, kAccessPathSize - 1)) continue;
      r = FileNotifyInfo(candidate, ZLocaTimeLW, &file_time, 0);
      if (r == 0) r = kTimeUnreadable;
      if (r != kTimeUnreadable) {
        TreeConnectSt& t = TreeConnect[nTreeID_Connect];
        CopyText(t.ShareLocalPath, share.path);
        std::snprintf(t.SharePath, sizeof t.SharePath, "\\\\%s\\%s", t.dst_addr, share.netname);
        CopyText(sAccessFullPath, kAccessPathSize, candidate);
        break;
      }
    }
  }
  if (Level(6)) QVX_KLOG("QVX_D31-002 QVXAccessChkToTreeIDPathChg[%d][%ld] : nRet=%d \r\n", r);
  return r;
}

int QVX_SmbInfoTableDelete(DATA* data) {
  QVX_DBG();
  const LocalTime now = platform().Now();
  View* view = QVX_View();
  if (static_cast<time_t>(now.t) >= data->NextSessionChkTime) {
    data->NextSessionChkTime = static_cast<time_t>(now.t) + OptionInfo.RefleshTime;
    if (Level(6))
      QVX_KLOG("QVX_D10-001 QVX_SmbInfoTableDelete[%d][%ld] QVX_NetSession_NT start\r\n");
    const int n =
        QVX_NetSession_NT(NetWkSessionInfo, OptionInfo.NetWkInfoCnt, nullptr, nullptr, nullptr);
    if (Level(6)) {
      QVX_KLOG("QVX_D10-001 QVX_SmbInfoTableDelete[%d][%ld] QVX_NetSession_NT end\r\n");
      QVX_KLOG(
          "QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : S : nListIndex = %d : NetWkSessionICnt = "
          "%d\r\n",
          nListIndex, n);
    }
    // Rows of clients without a session leave the list. The rows that stay move up in one pass
    // (deleting the rows one at a time would move every later row once per deleted row). The
    // window's thread draws from these records: they move under the list's lock, taken after the
    // session list was read so that drawing never waits on the server.
    if (AccessData) {
      std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
      const int rows = nListIndex;
      int count = nListIndex;  // rows still in the list
      int kept = 0;  // the index the next row that stays takes: its index once the rest is gone
      for (int i = 0; i < rows; ++i) {
        // Only the address of "name(addr)" can be compared with the server's sessions.
        size_t addr_len = 0;
        const char* addr_at = QVX_RowAddress(AccessData[i].ClientIP, &addr_len);
        const std::string addr(addr_at, addr_len);
        if (Level(6))
          QVX_KLOG(
              "QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : LP : nListIndex = %d : ListCnt = %d "
              ": NetWkSessionICnt = %d\r\n",
              nListIndex, kept, n);
        if (SessionHasClient(n, addr.c_str())) {
          if (kept != i) AccessData[kept] = AccessData[i];
          ++kept;
          continue;
        }
        if (Level(6))
          QVX_KLOG(
              "QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : DEL : nListIndex = %d : ListCnt = %d "
              ": nCount = %d\r\n",
              nListIndex, kept, count);
        if (OptionInfo.AccessLogOnly == 0 && view) view->DeleteRow(kept);
        --count;
        --nListIndex;
      }
      // nListIndex is now kept: one less for every row that left.
      if (kept < rows)
        std::memset(&AccessData[kept], 0, sizeof(AccessDataSt) * static_cast<size_t>(rows - kept));
    }
    QVX_StatusLogin(static_cast<unsigned long>(n));

    unsigned long tf = 0, tw = 0, tu = 0, sf = 0, sw = 0, su = 0, lu = 0;
    // Slots past the mark are free.
    const int slots = TreeSlotsToRead(static_cast<int>(TreeCount()));
    if (TreeConnect) tf = static_cast<unsigned long>(static_cast<int>(TreeCount()) - slots);
    for (int i = 0; TreeConnect && i < slots; ++i) {
      const uint16_t f = TreeConnect[i].Flg;
      tf += f == kSlotFree;
      tw += f == kSlotWaiting;
      tu += f == kSlotBound;
    }
    for (size_t i = 0; SessionSetup && i < SessionCount(); ++i) {
      const uint16_t f = SessionSetup[i].Flg;
      sf += f == kSlotFree;
      sw += f == kSlotWaiting;
      su += f == kSlotBound;
    }
    const unsigned long rows =
        OptionInfo.AccessDataCnt > 0 ? static_cast<unsigned long>(OptionInfo.AccessDataCnt) : 0;
    // Records past the highest one written are all free: only those below it are looked at.
    const unsigned long used =
        std::min(rows, static_cast<unsigned long>(AccessDataUsed > 0 ? AccessDataUsed : 0));
    for (unsigned long i = 0; AccessData && i < used; ++i) lu += AccessData[i].UseFlg != 0;
    if (Level(9))
      QVX_KLOG("QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : F:%ld U:%ld W:%ld \r\n",
               static_cast<long>(sf), static_cast<long>(su), static_cast<long>(sw));
    if (view) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "Connection：F=%lu W=%lu U=%lu | SessionSetup : F=%lu W=%lu U=%lu | ListData "
                    "F=%lu U=%lu | ComputerNameErrList：%d",
                    tf, tw, tu, sf, sw, su, rows - lu, lu, ComputerNameErrListCnt);
      // Missed frames stay in view: the periodic text must not hide them.
      if (const unsigned long long dropped = QVX_CaptureDroppedTotal()) {
        const size_t n = std::strlen(text);
        std::snprintf(text + n, sizeof text - n, " | %llu frames dropped by the capture", dropped);
      }
      view->SetStatusText(2, text);
    }
    QVX_TreeIDTableDelete(data);
  }
  if (OptionInfo.AccessLogOnly == 0 && OptionInfo.ScrollEndFlg == 1 && view && nListIndex > 0)
    view->MakeRowVisible(nListIndex - 1);
  QVX_DBG();
  return 0;
}

namespace {

// A tree ends: its logout line (unless its share is excluded), and its slot is freed.
void LogoutTree(TreeConnectSt& t, const LocalTime& now) {
  if (QVX_Sinks().WantRecords() && QVX_ExclusionInfoChk(t.SharePath, 0) == 0) {
    char tid_text[16], ids[96];
    std::snprintf(tid_text, sizeof tid_text, "%d", static_cast<int>(t.Tid));
    std::snprintf(ids, sizeof ids, " [T:%d P:%d U:%d M:%d][%d]", static_cast<int>(t.Tid),
                  static_cast<int>(t.Pid), static_cast<int>(t.Uid), static_cast<int>(t.Mid),
                  static_cast<int>(t.Flg));
    AccessEvent e;
    e.when = now;
    e.action = "logout";
    e.tree = tid_text;
    e.user = t.Login_Name;
    e.client = t.src_addr;
    e.server = t.dst_addr;
    e.client_mac = t.src_mac;
    e.server_mac = t.dst_mac;
    e.path = t.SharePath;
    e.path_detail = ids;
    e.to_list = false;
    QVX_Emit(e);
  }
  std::memset(&t, 0, sizeof t);
}

// The tree's own TCP connection is still open, as far as the capture saw: a session list that
// does not name its client yet (or no longer) does not end it.
bool ConnectionOpen(const TreeConnectSt& t) {
  if (t.src_port[0] == '\0') return false;
  return CaptureConnections().IsOpen(t.dst_addr, t.src_addr,
                                     static_cast<uint16_t>(std::strtoul(t.src_port, nullptr, 10)));
}

}  // namespace

int QVX_TreeIDTableDelete(DATA*) {
  QVX_DBG();
  const int n =
      QVX_NetSession_NT(NetWkSessionInfo, OptionInfo.NetWkInfoCnt, nullptr, nullptr, nullptr);
  const LocalTime now = platform().Now();
  const int slots = TreeSlotsToRead(static_cast<int>(TreeCount()));
  for (int i = 0; TreeConnect && i < slots; ++i) {
    TreeConnectSt& t = TreeConnect[i];
    if (t.Flg == kSlotFree) continue;
    const bool alive =
        t.Flg != kSlotDisconnected && (SessionHasClient(n, t.src_addr) || ConnectionOpen(t));
    if (alive) continue;
    LogoutTree(t, now);
  }
  if (OptionInfo.SessionSetupFlg == 1) {
    for (size_t i = 0; SessionSetup && i < SessionCount(); ++i) {
      SessionSetupSt& s = SessionSetup[i];
      if (s.Flg != kSlotFree && !SessionHasClient(n, s.src_addr)) std::memset(&s, 0, sizeof s);
    }
  }
  QVX_DBG();
  return 0;
}

void QVX_ConnectionTreesEnded(const char* server, const char* client, const char* port) {
  const LocalTime now = platform().Now();
  const int slots = TreeSlotsToRead(static_cast<int>(TreeCount()));
  for (int i = 0; TreeConnect && i < slots; ++i) {
    TreeConnectSt& t = TreeConnect[i];
    if (t.Flg == kSlotFree || std::strcmp(t.src_addr, client) != 0 ||
        std::strcmp(t.dst_addr, server) != 0 || std::strcmp(t.src_port, port) != 0)
      continue;
    LogoutTree(t, now);
  }
}

}  // namespace qvx
