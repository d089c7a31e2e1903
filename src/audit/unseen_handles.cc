#include "audit/unseen_handles.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "audit/file_access.h"
#include "audit/tree_lookup.h"
#include "audit/tree_records.h"
#include "audit/verdict.h"
#include "base/dbglog.h"
#include "base/text.h"
#include "filters/exclusion.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/session_tree.h"

namespace qvx {

namespace {

bool AllOnes(const OpenFileKey& k) { return k.id[0] == ~uint64_t{0} && k.id[1] == ~uint64_t{0}; }

// The server's entry for the handle: SMB2 by its FileId (as much of it as the server gives),
// SMB1 by the FID on the same connection.
const ServerOpenFile* Named(const ServerOpenFiles& list, const OpenFileKey& k) {
  for (const ServerOpenFile& o : list.files) {
    if (k.version == 2) {
      if ((k.id[0] & o.persistent_mask) != o.persistent) continue;
      if (o.volatile_known && o.volatile_id != k.id[1]) continue;
      return &o;
    }
    IpAddress client;
    if (!o.volatile_known || o.volatile_id != k.id[1] || o.client_port != k.client_port ||
        !ParseIpAddress(o.client.c_str(), &client) || !(client == k.client))
      continue;
    return &o;
  }
  return nullptr;
}

// The server's share of an SMB2 tree; nullptr when it does not tell.
const ServerTree* TreeOf(const ServerOpenFiles& list, const OpenFileKey& k, uint32_t tree_id) {
  if (k.version != 2) return nullptr;
  for (const ServerTree& t : list.trees)
    if (t.tree_id == tree_id) return &t;
  return nullptr;
}

bool IpcShare(const std::string& share) { return QVX_TextEqualNoCase(share.c_str(), "IPC$"); }

// A folder without the separators it may end with.
std::string Folder(std::string p) {
  while (p.size() > 1 && p.back() == kPathSep) p.pop_back();
  return p;
}

// The listed share the server says the handle or its tree is on: by the tree's share name, else
// the first share of the open's folder (as a guess counts each folder under its first share).
const NetWkShareInfoSt* ShareOf(const CaptureContext& ctx, const ServerOpenFile* named,
                                const ServerTree* tree) {
  const ShareList& list = *ctx.shares;
  if (list.rows == nullptr) return nullptr;
  const int rows = list.Valid();
  for (int i = 0; tree != nullptr && i < rows; ++i)
    if (QVX_TextEqualNoCase(list.rows[i].netname, tree->share.c_str())) return &list.rows[i];
  if (named == nullptr || named->share_path.empty()) return nullptr;
  const std::string folder = Folder(named->share_path);
  for (int i = 0; i < rows; ++i)
    if (list.rows[i].path[0] != '\0' && Folder(list.rows[i].path) == folder) return &list.rows[i];
  return nullptr;
}

// The path column of a handle no list names.
void Mark(const OpenFileKey& k, char* out, size_t size) {
  if (k.version == 2)
    std::snprintf(out, size, "%sFileId 0x%016llx:0x%016llx", kOpenedBeforeCaptureMark,
                  static_cast<unsigned long long>(k.id[0]),
                  static_cast<unsigned long long>(k.id[1]));
  else
    std::snprintf(out, size, "%sFID 0x%04x", kOpenedBeforeCaptureMark,
                  static_cast<unsigned>(k.id[1]));
}

// Whether the server's list of open files could not be read when last needed: told once per run
// of failures, and again when it can be read.
std::atomic<bool> g_list_failing{false};

void TellListState(const OpenFilesSnapshot& server) {
  if (!server.served) return;
  if (server.failed && !g_list_failing.exchange(true)) {
    QVX_KLOG(
        "QVX_E09-017 QVX_AdoptHandle[%d][%ld] : the server's list of open files cannot be read "
        "(smbstatus, testparm, tdbdump): handles opened before capture are logged with their "
        "FileIds\r\n");
    std::fprintf(stderr,
                 "quorvix: the server's list of open files cannot be read; handles opened before "
                 "capture are logged with their FileIds until it can\n");
  } else if (!server.failed && server.list && g_list_failing.exchange(false)) {
    QVX_KLOG(
        "QVX_I09-017 QVX_AdoptHandle[%d][%ld] : the server's list of open files can be read "
        "again\r\n");
  }
}

OpenFile* Adopt(const HandleRequest& r, DATA* data) {
  CaptureContext& ctx = *data->ctx;
  OpenFiles& files = ctx.open_files;
  const OpenFilesSnapshot server = ctx.platform->ListOpenFiles();
  TellListState(server);
  const ServerOpenFile* named = server.list ? Named(*server.list, r.key) : nullptr;
  const ServerTree* tree = server.list ? TreeOf(*server.list, r.key, r.tree_id) : nullptr;
  char mark[96];
  Mark(r.key, mark, sizeof mark);

  FileAccessCall c;
  c.routine = r.routine;
  c.tree_id = r.tree_id;
  c.uid = r.uid;
  c.recvData = r.frame;
  c.name = mark;
  c.cmd = r.cmd;
  c.info = r.info;
  c.now = ctx.platform->Now();
  c.data = data;

  // The tree: known, else bound to the share the server names.
  int slot = -1;
  const EndsText ends(ctx.ends);
  if (ctx.tables->trees() != nullptr &&
      ctx.tables->FindTree(ends.client, r.tree_id, &slot) != kTreeFound)
    slot = -1;
  if (slot < 0 && ctx.tables->trees() != nullptr && (tree == nullptr || !IpcShare(tree->share))) {
    if (const NetWkShareInfoSt* share = ShareOf(ctx, named, tree)) {
      slot = QVX_BindGuessedTree(r.tree_id, *share, "", 0, data, ctx.options.TreeConnectCnt);
      QVX_CompleteWaitRow(c, slot, false);
    }
  }
  // A pipe is no file.
  if ((slot >= 0 && QVX_TreeIsIpc(ctx, slot)) || (tree != nullptr && IpcShare(tree->share))) {
    files.NoteGranted(r.key);
    return nullptr;
  }

  char full[kAccessPathSize];
  if (named != nullptr)
    CopyText(full, sizeof full, named->path.c_str());
  else if (slot < 0 || !QVX_MapTreeShare(c, slot, full, sizeof full, LocalPathForm::kWithSeparator))
    CopyText(full, sizeof full, mark);
  if (QVX_TraceLevel(4))
    DiagLogLine(DiagLog::kKernel, 1, "QVX_D31-030 %s[%d][%ld] : %s, %s by the server : %s\r\n",
                r.routine, __LINE__, ctx.platform->LastError(), mark,
                named != nullptr ? "listed" : "not listed", full);
  if (QVX_ExclusionInfoChk(full, 0) != 0) {
    files.NoteGranted(r.key);
    return nullptr;
  }

  OpenFile f;
  f.key = r.key;
  f.client = ctx.ends.client;
  f.client_port = ctx.ends.client_port;
  f.facts = slot >= 0 ? QVX_AccessFactsOf(c, slot, full, 0)
                      : QVX_AccessFactsOfConnection(c, r.key.session, full);
  f.verdict = kVerdictRead;
  f.adopted = true;
  OpenFile evicted;
  if (files.Add(std::move(f), &evicted)) QVX_EndOpen(ctx, evicted, evicted.facts.now);
  return files.Find(r.key);
}

}  // namespace

OpenFile* QVX_HandleOf(const HandleRequest& r, DATA* data) {
  OpenFiles& files = data->ctx->open_files;
  if (OpenFile* f = files.Find(r.key)) return f;
  if (AllOnes(r.key) || files.Granted(r.key)) return nullptr;
  return Adopt(r, data);
}

bool QVX_UnseenHandleWaits(CaptureContext& ctx, const ConnectionEnds& ends, const OpenFileKey& key,
                           uint32_t tree_id, uint64_t* reads_wanted) {
  // A related request of a compound chain names the open before it, whose answer is on its way.
  if (AllOnes(key) || ctx.open_files.Find(key) != nullptr || ctx.open_files.Granted(key))
    return false;
  int slot = -1;
  const EndsText text(ends);
  if (ctx.tables->trees() != nullptr &&
      ctx.tables->FindTree(text.client, tree_id, &slot) == kTreeFound && QVX_TreeIsIpc(ctx, slot))
    return false;
  const OpenFilesSnapshot server = ctx.platform->ListOpenFiles();
  if (!server.served || server.failed) return false;
  if (server.list) {
    if (Named(*server.list, key) != nullptr) return false;
    const ServerTree* tree = TreeOf(*server.list, key, tree_id);
    if (tree != nullptr && IpcShare(tree->share)) return false;
  }
  ctx.platform->AskOpenFiles();
  *reads_wanted = server.reads + 1;
  return true;
}

uint64_t QVX_ServerOpenFilesRead(CaptureContext& ctx) {
  const OpenFilesSnapshot server = ctx.platform->ListOpenFiles();
  return !server.served || server.failed ? UINT64_MAX : server.reads;
}

}  // namespace qvx
