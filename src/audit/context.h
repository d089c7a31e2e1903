// The state of one capture run, handed down to every handler through DATA::ctx instead of being
// reached through globals: the handles the clients hold open, the ports the run talks through
// (the platform, whose clock is the run's clock; the connection tracker fed by the capture; the
// outputs of access events) and the options as they stood when the run started.
#pragma once

#include "audit/answer.h"
#include "audit/open_files.h"
#include "base/access_event.h"
#include "base/ip_address.h"
#include "base/option.h"
#include "platform/platform.h"
#include "serverinfo/disk_spelling.h"
#include "serverinfo/server_info.h"
#include "tracking/session_tree.h"

namespace qvx {

class ConnectionTracker;

struct CaptureContext {
  // Not owned: each outlives the run.
  Platform* platform = nullptr;
  ConnectionTracker* tracker = nullptr;
  EventSinks* sinks = nullptr;
  // The session and tree tables the run fills (the program's, emptied at the run's start).
  LogonTables* tables = nullptr;
  // The server's shares as the run last read them (the program's list).
  ShareList* shares = nullptr;
  // Taken at the start of the run: the options, and the access-kind mode derived from them
  // (nAccessKindFlg).
  OptionInfoSt options{};
  int access_kind = 0;
  // The answer paired with the request being handled now, set by the capture loop around its
  // handling; nullptr when none was seen (lost frames, a capture that started after the request,
  // an answer later than the wait allows) and between requests.
  const AnswerFacts* answer = nullptr;
  // The connection of the message being handled, set by the capture loop around its handling.
  ConnectionEnds ends;
  // Owned: the run's handles, none at its start, and the folders read for paths' spelling.
  OpenFiles open_files;
  DiskSpelling spelling;
};

// What a user look-up of the run reads: its tables, platform and options.
inline UserSources QVX_UserSources(const CaptureContext& ctx) {
  return UserSources{*ctx.tables, *ctx.platform, ctx.options.SessionSetupFlg == 1,
                     ctx.options.NetWkInfoCnt};
}

}  // namespace qvx
