#include "audit/file_access.h"

#include <atomic>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "audit/events.h"
#include "audit/tree_lookup.h"
#include "audit/tree_records.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "names/hosts.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/request_path.h"
#include "tracking/session_tree.h"
#include "tracking/tree_id.h"
#include "wire/le.h"

namespace qvx {

const char DollarName[kDollarNameCnt][32] = {"*", "PIPE"};
const char PipeName[kPipeNameCnt][32] = {"\\spoolss", "\\browser", "\\wkssvc",  "\\srvsvc",
                                         "\\winreg",  "\\",        "\\D ",      "\\lsarpc",
                                         "\\samr",    "\\mdssvc",  "\\netlogon"};

bool QVX_NameFiltered(const CaptureContext& ctx, const char* name, bool pipes) {
  if (ctx.options.AllPacketGet != 0) return false;
  for (const char* d : DollarName)
    if (std::strstr(name, d) != nullptr) return true;
  // A stream names a file's stream in the last component only ("host.txt:hidden"); a colon in a
  // folder's name is no stream of any file.
  // A share's name holds no colon at all.
  const char* colon = std::strchr(name, ':');
  if (colon != nullptr && (!pipes || std::strchr(colon, '\\') != nullptr)) return true;
  if (pipes) {
    // SMB1 names a pipe "\srvsvc", SMB2 "srvsvc".
    const char* bare = name[0] == '\\' ? name + 1 : name;
    for (const char* p : PipeName)
      if (QVX_TextEqualNoCase(bare, p + 1)) return true;
  }
  return false;
}

const char* QVX_TreePathShare(const char* share_path) {
  int seps = 0;
  for (const char* p = share_path; *p; ++p)
    if (*p == '\\' && ++seps == 3) return p + 1;
  return "";
}

namespace {
const char* TreeShareName(const TreeConnectSt& t) { return QVX_TreePathShare(t.SharePath); }
}  // namespace

bool QVX_TreeIsIpc(const CaptureContext& ctx, int slot) {
  if (ctx.tables->trees() == nullptr || slot < 0) return false;
  const TreeConnectSt& t = ctx.tables->tree(slot);
  return t.Pipe != 0 || QVX_TextEqualNoCase(TreeShareName(t), "IPC$");
}

void QVX_StreamName(char* name) {
  char* last = std::strrchr(name, '\\');
  char* colon = std::strchr(last != nullptr ? last : name, ':');
  if (colon == nullptr) return;
  // "file:stream:$DATA" is the stream "file:stream"; "file::$DATA" the file's own data.
  const size_t n = std::strlen(colon);
  constexpr char kData[] = ":$DATA";
  constexpr size_t kDataLen = sizeof kData - 1;
  if (n >= kDataLen && QVX_TextEqualNoCase(colon + n - kDataLen, kData)) colon[n - kDataLen] = '\0';
  if (colon[0] == ':' && colon[1] == '\0') colon[0] = '\0';
}

bool QVX_ResolveAccessName(char* name, size_t size) {
  char resolved[kAccessNameSize];
  const bool inside = QVX_ResolveRequestName(name, resolved, sizeof resolved);
  if (inside) CopyText(name, size, resolved);
  QVX_StreamName(name);
  return inside;
}

int QVX_ConvertWideName(const unsigned char* wide, char* out, size_t size) {
  return QVX_WideToAnsi(wide, kWideNameSize / 2, out, size);
}

uint32_t QVX_Smb2TreeId(const void* smb2_header) {
  const unsigned char* h = static_cast<const unsigned char*>(smb2_header);
  return static_cast<uint32_t>(h[36]) | static_cast<uint32_t>(h[37]) << 8 |
         static_cast<uint32_t>(h[38]) << 16 | static_cast<uint32_t>(h[39]) << 24;
}

uint64_t QVX_Smb2SessionId(const void* smb2_header) {
  return wire::LoadLe64(static_cast<const unsigned char*>(smb2_header) + 40);
}

bool QVX_ShowTreeBound(CaptureContext& ctx, int slot, const char* trace_fmt) {
  const TreeConnectSt& t = ctx.tables->tree(slot);
  char wait[32];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  return ctx.sinks->TreeBound(wait, TreeIdText(t.Tid).c_str(), t.Login_Name, trace_fmt);
}

int QVX_CompleteWaitRow(const FileAccessCall& c, int slot, bool exclusion_check) {
  QVX_DBG();
  TreeConnectSt& t = c.ctx().tables->tree(slot);
  QVX_TreeUserNameSet(QVX_UserSources(c.ctx()), &t, c.uid, *c.ctx().tracker);
  if (!QVX_ShowTreeBound(c.ctx(), slot, nullptr)) return 0;
  if (exclusion_check && QVX_ExclusionInfoChk(t.SharePath, 0) != 0) return 10;
  char ids[96], wait[32];
  std::snprintf(wait, sizeof wait, "WAIT%d", slot);
  QVX_TreeIdsText(t, ids, sizeof ids);
  QVX_TreeLine(c.ctx(), c.now, "connect", TreeIdText(t.Tid).c_str(), t, c.data->ClientMac,
               c.data->ServerMac, c.cmd, c.info, ids, wait);
  return 0;
}

void QVX_SpellAsOnDisk(CaptureContext& ctx, const char* root, char* full, size_t size) {
  std::string path = full;
  ctx.spelling.Correct(*ctx.platform, root, &path, ctx.platform->Now().t * 1000000);
  CopyText(full, size, path.c_str());
}

bool QVX_MapTreeShare(const FileAccessCall& c, int slot, char* full, size_t full_size,
                      LocalPathForm form) {
  TreeConnectSt& t = c.ctx().tables->tree(slot);
  const char* share = TreeShareName(t);
  const ShareList& list = *c.ctx().shares;
  if (list.rows == nullptr) return false;
  const int rows = list.Valid();
  const NetWkShareInfoSt* row = nullptr;
  for (int i = 0; i < rows && row == nullptr; ++i) {
    if (c.share_trace && QVX_TraceLevel(6))
      DiagLogLine(DiagLog::kKernel, 1,
                  "QVX_D51-001 %s[%d][%ld] : >> NetWkShareInfo[%d].netname=%s : "
                  "szSharePathName=%s\r\n",
                  c.routine, __LINE__, c.ctx().platform->LastError(), i, list.rows[i].netname,
                  share);
    if (QVX_TextEqualNoCase(list.rows[i].netname, share)) row = &list.rows[i];
  }
  if (row == nullptr) return false;

  // A path too long for the buffer is kept cut.
  // A caller that did not resolve the name gets the mark all the same.
  char resolved[kAccessNameSize];
  if (c.outside || !QVX_ResolveRequestName(c.name, resolved, sizeof resolved))
    std::snprintf(full, full_size, "%s%s", kOutsideShareMark, c.name);
  else if (QVX_JoinSharePath(row->path, c.name, full, full_size))
    QVX_SpellAsOnDisk(c.ctx(), row->path, full, full_size);
  const size_t len = std::strlen(row->path);
  const bool ends_sep = len > 0 && row->path[len - 1] == kPathSep;
  switch (form) {
    case LocalPathForm::kWithSeparator:
      if (CopyText(t.ShareLocalPath, row->path) < sizeof t.ShareLocalPath - 1 && !ends_sep) {
        const size_t n = std::strlen(t.ShareLocalPath);
        t.ShareLocalPath[n] = kPathSep;
        t.ShareLocalPath[n + 1] = '\0';
      }
      break;
    case LocalPathForm::kAsListed:
      CopyText(t.ShareLocalPath, row->path);
      break;
    case LocalPathForm::kWithoutSeparator:
      CopyTextN(t.ShareLocalPath, sizeof t.ShareLocalPath, row->path, ends_sep ? len - 1 : len);
      break;
  }
  return true;
}

int QVX_UnknownShareRecord(const FileAccessCall& c) {
  QVX_DBG();
  if (QVX_TraceLevel(2))
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D31-010 %s[%d][%ld] : TreeIDと一致するデータがありません。TreeID = %u\r\n",
                c.routine, __LINE__, c.ctx().platform->LastError(),
                static_cast<unsigned>(c.tree_id));
  return QVX_UnknownRecord(c.tree_id, c.recvData, c.name, c.cmd, c.info, c.now, c.data, c.routine)
             ? 0
             : 10;
}

OpenVerdict QVX_JudgeOpen(const FileAccessCall& c, int slot, char* full, uint32_t desired,
                          uint32_t options, uint64_t* size, int* kind) {
  *size = 0;
  *kind = kKindNone;
  if (c.outside) {
    OpenVerdict v;
    v.verdict = QVX_MaskOnlyVerdict(c.ctx().access_kind, desired);
    return v;
  }
  if (QVX_CheckExistFileOrFolder(full, kind) == 1 && *kind != kKindFolder) FileSizeInfo(full, size);
  const int time_class =
      QVX_TimeStampsJudge(c.ctx().access_kind)
          ? QVXAccessChkToTreeIDPathChg(full, c.name, static_cast<time_t>(c.now.t), slot, c.data,
                                        c.ctx().options.TreeConnectCnt)
          : 0;
  return QVX_OpenVerdict(c.ctx().access_kind, desired, options, *kind, time_class);
}

namespace {

// The facts of an access line of tree t, its user looked up now.
AccessFacts FactsOfTree(const FileAccessCall& c, TreeConnectSt& t, const char* full,
                        uint64_t size) {
  QVX_TreeUserNameSet(QVX_UserSources(c.ctx()), &t, c.uid, *c.ctx().tracker);
  AccessFacts a;
  a.now = c.now;
  a.tid = t.Tid;
  a.login = t.Login_Name;
  a.client = t.src_addr;
  a.server = t.dst_addr;
  a.client_mac = c.data->ClientMac;
  a.server_mac = c.data->ServerMac;
  a.cmd = c.cmd;
  a.info = c.info;
  a.routine = c.routine;
  a.path = full;
  a.size = size;
  return a;
}

}  // namespace

AccessFacts QVX_AccessFactsOf(const FileAccessCall& c, int slot, const char* full, uint64_t size) {
  return FactsOfTree(c, c.ctx().tables->tree(slot), full, size);
}

AccessFacts QVX_AccessFactsOfConnection(const FileAccessCall& c, uint64_t session,
                                        const char* full) {
  // The user is looked up as for a tree of this connection and session.
  TreeConnectSt t{};
  t.Tid = c.tree_id;
  t.Uid = c.uid;
  QVX_TreeEnds(t, c.ctx().ends);
  for (int i = 0; i < 8; ++i) t.SessionId[i] = static_cast<unsigned char>(session >> (8 * i));
  return FactsOfTree(c, t, full, 0);
}

int QVX_WriteAccess(CaptureContext& ctx, const AccessFacts& a, const char* action,
                    const char* operation, bool every_time) {
  QVX_DBG();
  SameAccessKey key;
  key.tid = a.tid;
  key.operation = operation;
  key.client = a.client.c_str();
  key.server = a.server.c_str();
  key.path = a.path.c_str();
  key.caller = a.routine.c_str();
  if (!every_time && QVX_SameAccessFound(key, QVX_SameAccessLines(ctx.options))) return 0;

  char client_text[kHostDisplaySize], server_text[kHostDisplaySize];
  AddHostName(a.client.c_str(), client_text, ctx.options.HostName, 0);
  AddHostName(a.server.c_str(), server_text, ctx.options.HostName, 0);
  char size_text[24];
  // The whole 64-bit size: a file over 2 GiB must not show a negative or wrapped size.
  *std::to_chars(size_text, size_text + sizeof size_text - 1, a.size).ptr = '\0';
  const TreeIdText tid_text(a.tid);
  AccessEvent e;
  e.when = a.now;
  e.action = action;
  e.tree = tid_text.c_str();
  e.user = a.login;
  e.client = client_text;
  e.server = server_text;
  e.client_mac = a.client_mac;
  e.server_mac = a.server_mac;
  e.command = a.cmd;
  e.info = a.info;
  e.size = size_text;
  e.operation = operation;
  e.path = a.path;
  e.acl = a.acl;
  QVX_Emit(ctx, e);
  return 0;
}

int QVX_AccessRecord(const FileAccessCall& c, int slot, const char* full, uint64_t size,
                     const char* operation) {
  const TreeConnectSt& t = c.ctx().tables->tree(slot);
  SameAccessKey key;
  key.tid = t.Tid;
  key.operation = operation;
  key.client = t.src_addr;
  key.server = t.dst_addr;
  key.path = full;
  key.caller = c.routine;
  // A repeat is found before the user is looked up.
  if (!c.every_time && QVX_SameAccessFound(key, QVX_SameAccessLines(c.ctx().options))) return 0;
  return QVX_WriteAccess(c.ctx(), QVX_AccessFactsOf(c, slot, full, size), "access", operation,
                         true);
}

OpenFileKey QVX_OpenFileKeyOf(const ConnectionEnds& ends, int version, uint64_t session,
                              uint64_t id0, uint64_t id1) {
  OpenFileKey k;
  k.server = ends.server;
  k.client = ends.client;
  k.version = static_cast<uint8_t>(version);
  if (version == 2)
    k.session = session;
  else
    k.client_port = ends.client_port;
  k.id[0] = id0;
  k.id[1] = id1;
  return k;
}

namespace {
std::atomic<uint64_t> g_silent_refusals{0};
}  // namespace

uint64_t QVX_SilentRefusals() { return g_silent_refusals.load(); }

bool QVX_RefusalSilent(const char* routine, const char* name, uint32_t status) {
  if (QVX_StatusIsDenial(status)) return false;
  const uint64_t n = g_silent_refusals.fetch_add(1) + 1;
  if (QVX_TraceLevel(4)) {
    char status_name[40];
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D31-020 %s[%d][%ld] : refused by the server, no line (%s, %llu so far) : "
                "%s\r\n",
                routine, __LINE__, platform().LastError(),
                QVX_StatusName(status, status_name, sizeof status_name),
                static_cast<unsigned long long>(n), name);
  }
  return true;
}

int QVX_DeniedRecord(const FileAccessCall& c, int slot, const char* full, int verdict,
                     uint32_t status) {
  char name[40];
  FileAccessCall told = c;
  told.info = QVX_StatusName(status, name, sizeof name);
  // A refused attempt is told every time: it is no repeat of an access that succeeded.
  return QVX_WriteAccess(c.ctx(), QVX_AccessFactsOf(told, slot, full, 0), "denied",
                         QVX_OperationText(verdict), true);
}

int QVX_RefusedOpenRecord(const FileAccessCall& c, int slot, const char* full, uint32_t desired,
                          uint32_t disposition, uint32_t status) {
  return QVX_DeniedRecord(c, slot, full, QVX_AttemptVerdict(desired, disposition), status);
}

int QVX_AnsweredOpenRecord(const FileAccessCall& c, int slot, const char* full, uint32_t desired,
                           uint32_t options, const OpenFileKey& key, const AnswerFacts& a) {
  const uint64_t size = a.directory ? 0 : a.end_of_file;
  const int verdict = QVX_AnswerVerdict(a);
  const bool doc = (options & kDeleteOnClose) != 0;
  const bool may_delete = doc || (desired & (kAccessDelete | kMaximumAllowed | kGenericAll)) != 0;
  if (!may_delete) QVX_AccessRecord(c, slot, full, size, QVX_OperationText(verdict));
  // Every handle is kept, also one whose line is written: a later change of its permissions,
  // attributes or name is told with its facts, and a request on a handle never seen opened is
  // told apart from one on a handle opened in the run.
  OpenFile f;
  f.key = key;
  f.client = c.ctx().ends.client;
  f.client_port = c.ctx().ends.client_port;
  f.facts = QVX_AccessFactsOf(c, slot, full, size);
  f.verdict = verdict;
  f.parked = may_delete;
  f.delete_pending = doc;
  OpenFile evicted;
  if (c.ctx().open_files.Add(std::move(f), &evicted))
    QVX_EndOpen(c.ctx(), evicted, evicted.facts.now);
  return 0;
}

void QVX_HandleWritten(CaptureContext& ctx, OpenFile* f, const char* cmd, const char* info) {
  if (f->written) return;
  f->written = true;
  if (f->parked || f->verdict != kVerdictRead) return;
  f->told = true;
  QVX_HandleChanged(ctx, *f, kVerdictWritten, cmd, info);
}

bool QVX_HandleAnswerTells(const AnswerFacts* a) {
  return a != nullptr && (a->Ok() || QVX_StatusIsDenial(a->status));
}

void QVX_HandleReadOrWritten(CaptureContext& ctx, OpenFile* f, bool write, const AnswerFacts& a,
                             const char* cmd, const char* info) {
  if (!a.Ok()) {
    QVX_HandleRefused(ctx, *f, write ? kVerdictWritten : kVerdictRead, cmd, a.status);
  } else if (write) {
    QVX_HandleWritten(ctx, f, cmd, info);
  } else if (f->adopted && !f->told) {
    f->told = true;
    QVX_HandleChanged(ctx, *f, kVerdictRead, cmd, info);
  }
}

void QVX_HandleChanged(CaptureContext& ctx, const OpenFile& f, int verdict, const char* cmd,
                       const char* info, const std::string& acl) {
  AccessFacts a = f.facts;
  a.now = ctx.platform->Now();
  a.cmd = cmd;
  a.info = info;
  a.acl = acl;
  QVX_WriteAccess(ctx, a, "access", QVX_OperationText(verdict), true);
}

void QVX_HandleRefused(CaptureContext& ctx, const OpenFile& f, int verdict, const char* cmd,
                       uint32_t status) {
  if (QVX_RefusalSilent(f.facts.routine.c_str(), f.facts.path.c_str(), status)) return;
  char name[40];
  AccessFacts a = f.facts;
  a.now = ctx.platform->Now();
  a.cmd = cmd;
  a.info = QVX_StatusName(status, name, sizeof name);
  a.size = 0;
  QVX_WriteAccess(ctx, a, "denied", QVX_OperationText(verdict), true);
}

void QVX_EndOpen(CaptureContext& ctx, const OpenFile& f, const LocalTime& when) {
  if (!f.parked && !f.adopted) return;
  if (f.delete_pending) {
    AccessFacts a = f.facts;
    a.now = when;
    QVX_WriteAccess(ctx, a, "access", QVX_OperationText(kVerdictGone), true);
    return;
  }
  if (f.adopted) {
    // It told its reads, writes and renames as they came; one that did nothing the capture
    // could see was still open on its file.
    if (f.told) return;
    AccessFacts a = f.facts;
    a.now = when;
    QVX_WriteAccess(ctx, a, "access", QVX_OperationText(kVerdictRead), false);
    return;
  }
  // After a rename only a write since is still untold.
  if (f.renamed) {
    if (f.written)
      QVX_WriteAccess(ctx, f.facts, "access", QVX_OperationText(kVerdictWritten), true);
    return;
  }
  const int verdict = f.written && f.verdict == kVerdictRead ? kVerdictWritten : f.verdict;
  QVX_WriteAccess(ctx, f.facts, "access", QVX_OperationText(verdict), false);
}

}  // namespace qvx
