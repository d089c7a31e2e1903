#include "serverinfo/server_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/dbglog.h"
#include "base/ip_address.h"
#include "base/option.h"
#include "base/text.h"
#include "names/hosts.h"
#include "names/nbt.h"
#include "platform/platform.h"

namespace qvx {

ShareList& QVX_ProgramShares() {
  static ShareList shares;
  return shares;
}
NetWkShareInfoSt*& NetWkShareInfo = QVX_ProgramShares().rows;
NetWkShareInfoSt*& NetWkShareInfoBuf = QVX_ProgramShares().scratch;
int& NetShareInfoDataNo = QVX_ProgramShares().count;
NetWkSessionInfoStSt* NetWkSessionInfo = nullptr;

void ShareList::Refresh() {
  if (rows == nullptr) return;
  // Only the records the last read filled (and the one a failed conversion may have left half
  // written) can hold anything: clearing them is clearing the list, without touching all of it
  // for every frame.
  int used = count + 1;
  if (used < 1 || used > capacity) used = capacity;
  std::memset(rows, 0, sizeof(NetWkShareInfoSt) * static_cast<size_t>(used));
  count = QVX_NetShare_NT(rows, capacity, nullptr);
}

int QVX_NetShare_NT(NetWkShareInfoSt* out, int max, const char* /*szServerName*/) {
  int index = 0;
  std::vector<ServerShare> shares;
  QVX_DBG();
  bool ok = platform().ListShares(&shares);
  QVX_DBG();
  if (!ok || out == nullptr) return 0;
  for (const ServerShare& s : shares) {
    if (index >= max) return index;
    NetWkShareInfoSt& r = out[index];
    r.type = s.type;
    r.permissions = s.permissions;
    r.max_uses = s.max_uses;
    r.current_uses = s.current_uses;
    CopyText(r.netname, s.name.c_str());
    CopyText(r.path, s.path.c_str());
    CopyText(r.remark, s.remark.c_str());
    ++index;
  }
  return index;
}

namespace {

// Turns the client name of record i into an address, or "Not Find".
void ResolveClient(NetWkSessionInfoStSt& r, int i) {
  char name[sizeof r.sesi502_cname];
  CopyText(name, r.sesi502_cname);
  // An IPv6 client is named by its address, bracketed or not: in the form the lines show it.
  char standard[kIpTextSize];
  if (std::strchr(name, ':')) {
    std::string bare = name;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
      bare = bare.substr(1, bare.size() - 2);
    if (NormalizeIpText(bare.c_str(), standard, sizeof standard)) CopyText(name, standard);
  }
  char address[sizeof r.sesi502_cname];
  CopyText(address, name);
  bool failed = false;
  bool known_failure = false;
  const int level = OptionInfo.ErrorLevel;
  const bool hosts_on = OptionInfo.QVXHosts == 1;

  char from_hosts[sizeof r.sesi502_cname];
  if (hosts_on && QVXHostsChk(name, from_hosts, 0) == 0) {
    CopyText(address, from_hosts);
    if (level >= 3)
      QVX_KLOG(
          "QVX_E09-005 QVX_NetSession_NT[%d][%ld] : QVX "
          "Hosts変換。NetWkSessionInfo[%d].sesi502_cname "
          "= %s  szHostIp = %s\r\n",
          i, name, address);
  } else if (QVX_IpAddrChk(name) == 0) {
    // Already an address.
  } else if (OptionInfo.HostNameChg == 1 && ComputerNameErrListContains(name)) {
    if (level >= 6) QVX_KLOG("QVX_D09-004 QVX_NetSession_NT[%d][%ld] :  変換失敗コンピュータ\r\n");
    failed = true;
    known_failure = true;
  } else {
    int rc = 0;
    if (OptionInfo.NbtstatChgOn == 1) {
      if (NbtCacheFindByName(name, address, sizeof address)) {
        if (level >= 6)
          QVX_KLOG("QVX_D09-004 QVX_NetSession_NT[%d][%ld] :  NbtSessionTable変換\r\n");
      } else {
        rc = NameFromSessionTable(name, address, sizeof address);
        if (rc == kNameQueryRunFailed) {
          if (hosts_on)
            QVX_KLOG(
                "QVX_E09-014 QVX_NetSession_NT[%d][%ld] : IPアドレス変換失敗。GetCUIAppMsg "
                "NetWkSessionInfo[%d].sesi502_cname = %s\r\n",
                i, name);
          else
            QVX_KLOG(
                "QVX_E09-014 QVX_NetSession_NT[%d][%ld] : IPアドレス変換。GetCUIAppMsg "
                "NetWkSessionInfo[%d].sesi502_cname = %s\r\n",
                i, name);
        } else if (rc == kNameQueryRun2Failed) {
          QVX_KLOG(
              "QVX_E09-015 QVX_NetSession_NT[%d][%ld] : IPアドレス変換失敗。GetCUIAppMsg "
              "NetWkSessionInfo[%d].sesi502_cname = %s\r\n",
              i, name);
        }
      }
    } else {
      rc = GetIp(name, address, sizeof address, 0);
      if (rc != 0)
        QVX_KLOG("QVX_E09-004 QVX_NetSession_NT[%d][%ld] :  GetIp変換失敗 rc=%d\r\n", rc);
    }
    failed = rc != 0;
    if (level >= 3) {
      if (hosts_on)
        QVX_KLOG(
            "QVX_E09-004 QVX_NetSession_NT[%d][%ld] : IPアドレス変換。GetIp rc = %d  "
            "NetWkSessionInfo[%d].sesi502_cname = %s  szHostIp = %s\r\n",
            rc, i, name, address);
      else
        QVX_KLOG(
            "QVX_E09-006 QVX_NetSession_NT[%d][%ld] : IPアドレス変換。GetIp rc = %d  "
            "NetWkSessionInfo[%d].sesi502_cname = %s  szHostIp = %s\r\n",
            rc, i, name, address);
    }
  }

  if (failed) {
    // A name already listed is not listed again: duplicates would fill the list and keep new
    // failures from being remembered.
    if (!known_failure) ComputerNameErrListAppend(name);
    QVX_KLOG(
        "QVX_E09-003 QVX_NetSession_NT[%d][%ld] : IPアドレス変換失敗。NetWkSessionInfo[%d].sesi502_"
        "cname = %s\r\n",
        i, name);
    CopyText(r.sesi502_cname, kSessionNotFound);
  } else {
    CopyText(r.sesi502_cname, address);
  }
}

// The records of the last list the server gave, and whether its last read failed.
std::vector<NetWkSessionInfoStSt> g_last_sessions;
bool g_sessions_known = false;
bool g_sessions_failing = false;

// The last good list again, in place of one that could not be read.
int LastSessions(NetWkSessionInfoStSt* out, int max) {
  const int n = static_cast<int>(std::min(g_last_sessions.size(), static_cast<size_t>(max)));
  if (n > 0) std::memcpy(out, g_last_sessions.data(), sizeof(NetWkSessionInfoStSt) * n);
  return n;
}

}  // namespace

bool QVX_NetSessionKnown() { return g_sessions_known; }

void QVX_NetSessionForget() {
  g_last_sessions.clear();
  g_sessions_known = false;
  g_sessions_failing = false;
}

int QVX_NetSession_NT(NetWkSessionInfoStSt* out, int max, const char* /*szServerName*/,
                      const char* /*szClientName*/, const char* /*szUserName*/) {
  if (out == nullptr || max <= 0) return 0;
  // This runs for every logged access: only the records the last call filled can hold anything,
  // so only they are cleared (the whole array is some 100 KB).
  static const NetWkSessionInfoStSt* last_out = nullptr;
  static int last_filled = 0;
  const int dirty = out == last_out && last_filled < max ? last_filled : max;
  std::memset(out, 0, sizeof(NetWkSessionInfoStSt) * static_cast<size_t>(dirty));
  last_out = out;
  last_filled = max;  // until this call knows better
  std::vector<ServerSession> sessions;
  if (!platform().ListSessions(&sessions)) {
    // Said once per run of failures: the callers ask for every logged access. A first list still
    // on its way is no failure.
    const bool pending = platform().SessionListPending();
    if (!g_sessions_failing && !pending) {
      QVX_KLOG(
          "QVX_E09-016 QVX_NetSession_NT[%d][%ld] : セッション一覧の取得に失敗しました。"
          "前回の一覧 (%d 件) を使います。\r\n",
          static_cast<int>(g_last_sessions.size()));
      std::fprintf(stderr,
                   "quorvix: the server's session list cannot be read; the last one (%d "
                   "sessions) is used until it can\n",
                   static_cast<int>(g_last_sessions.size()));
    }
    if (!pending) g_sessions_failing = true;
    // A rare path: the whole array is cleared, whatever was left in it.
    std::memset(out, 0, sizeof(NetWkSessionInfoStSt) * static_cast<size_t>(max));
    last_filled = LastSessions(out, max);
    return last_filled;
  }
  if (g_sessions_failing) {
    QVX_KLOG("QVX_I09-016 QVX_NetSession_NT[%d][%ld] : セッション一覧を再び取得できました。\r\n");
    std::fprintf(stderr, "quorvix: the server's session list can be read again\n");
  }
  g_sessions_failing = false;
  int index = 0;
  for (const ServerSession& s : sessions) {
    if (s.user.empty()) continue;  // takes no record
    if (index >= max) break;
    last_filled = index + 1;
    NetWkSessionInfoStSt& r = out[index];
    CopyText(r.sesi502_cltype_name, s.cltype_name.c_str());
    CopyText(r.sesi502_cname, s.client.c_str());
    CopyText(r.sesi502_transport, s.transport.c_str());
    CopyText(r.sesi502_username, s.user.c_str());
    r.sesi502_idle_time = static_cast<uint32_t>(s.idle_sec);
    r.sesi502_num_opens = s.num_opens;
    r.sesi502_time = static_cast<uint32_t>(s.time_sec);
    r.sesi502_user_flags = s.user_flags;
    ResolveClient(r, index);
    ++index;
  }
  g_last_sessions.assign(out, out + index);
  g_sessions_known = true;
  last_filled = index;
  if (OptionInfo.ErrorLevel >= 6) QVX_KLOG("QVX_D09-004 QVX_NetSession_NT[%d][%ld] : END\r\n");
  return index;
}

namespace {

// The last facts read inside a FileFactsScope.
struct FactsCache {
  int depth = 0;
  bool valid = false;
  std::string path;
  Status result;
  FileInfo info;
};
thread_local FactsCache t_facts;

Status Facts(const char* path, FileInfo* out) {
  FactsCache& c = t_facts;
  if (c.depth == 0) return platform().GetFileInfo(path, out);
  if (!c.valid || c.path != path) {
    c.path = path;
    c.result = platform().GetFileInfo(path, &c.info);
    c.valid = true;
  }
  *out = c.info;
  return c.result;
}

}  // namespace

FileFactsScope::FileFactsScope() { ++t_facts.depth; }

FileFactsScope::~FileFactsScope() {
  if (--t_facts.depth == 0) t_facts.valid = false;
}

int QVX_CheckExistFileOrFolder(const char* szTargetPath, int* nOutFileOrFolder) {
  if (nOutFileOrFolder) *nOutFileOrFolder = kKindNone;
  if (szTargetPath == nullptr) return 0;
  QVX_DBG();
  FileInfo fi;
  if (!Facts(szTargetPath, &fi).ok()) return 0;
  if (nOutFileOrFolder) *nOutFileOrFolder = fi.is_directory ? kKindFolder : kKindFile;
  return 1;
}

int FileSizeInfo(const char* filename, uint64_t* out_fileSize) {
  QVX_DBG();
  FileInfo fi;
  const Status r = filename ? Facts(filename, &fi) : Status::IoError("", 0);
  if (r.IsNotFound()) return kSizeNotFound;  // the output stays as it was
  if (!r.ok()) {
    if (out_fileSize) *out_fileSize = 0;
    return 1;
  }
  if (out_fileSize) *out_fileSize = fi.size;
  return kSizeOk;
}

namespace {
void TraceStamp(const char* what, int64_t t) {
  LocalTime lt = LocalTimeFromTimeT(t);
  DiagLogLine(DiagLog::kKernel, 1,
              "QVX_D31-001 FileNotifyInfo[%d][%ld] : %s tm_year=%d tm_mon=%d tm_mday=%d "
              "tm_hour=%d tm_min=%d tm_sec=%d \r\n",
              __LINE__, platform().LastError(), what, lt.year - 1900, lt.month - 1, lt.day, lt.hour,
              lt.minute, lt.second);
}
}  // namespace

int FileNotifyInfo(const char* PathName, time_t in_time, time_t* Filetime, int Flg) {
  FileInfo fi;
  const Status st = PathName ? Facts(PathName, &fi) : Status::NotFound("", 0);
  if (!st.ok()) {
    if (Filetime) *Filetime = in_time;
    if (st.IsNotFound()) return kTimeUnreadable;
    // An object that cannot be looked at (no rights, a failing disk) is not a deleted one.
    if (OptionInfo.ErrorLevel >= 2)
      QVX_KLOG(
          "QVX_E31-002 FileNotifyInfo[%d][%ld] : %s: its time stamps cannot be read; the "
          "request alone judges the access\r\n",
          st.ToString().c_str());
    return kTimeRefused;
  }
  const bool trace = OptionInfo.ErrorLevel >= 6;
  const time_t lw = static_cast<time_t>(fi.last_write);
  if (trace) TraceStamp("ファイル更新時間", fi.last_write);
  if (Flg == kTimeChanged) {
    if (Filetime) *Filetime = lw;
    return 0;
  }
  const time_t cr = static_cast<time_t>(fi.creation);
  if (trace) TraceStamp("ファイル作成時間", fi.creation);
  if (Flg == kTimeCreated) {
    if (Filetime) *Filetime = cr;
    return 0;
  }
  if (Flg == kTimeNotChanged) {
    if (Filetime) *Filetime = static_cast<time_t>(fi.last_access);
    return 0;
  }
  if (trace)
    QVX_KLOG(
        "QVX_D31-001 FileNotifyInfo[%d][%ld] : ZLocaTimeLW=%ld ZLocaTimeCR=%ld in_time=%ld \r\n",
        static_cast<long>(lw), static_cast<long>(cr), static_cast<long>(in_time));
  int rtn = 0;
  if (lw < in_time) {
    if (Filetime) *Filetime = lw;
    rtn = kTimeNotChanged;
  } else if (cr < in_time) {
    if (Filetime) *Filetime = lw;
    rtn = kTimeChanged;
  }
  if (cr >= in_time - kCreatedWindowSec) {
    if (Filetime) *Filetime = cr;
    rtn = kTimeCreated;
  }
  if (trace) QVX_KLOG("QVX_D31-001 FileNotifyInfo[%d][%ld] : Rtn=%d \r\n", rtn);
  return rtn;
}

}  // namespace qvx
