// The state of one capture run, handed down to every handler through DATA::ctx instead of being
// reached through globals: the handles the clients hold open, the ports the run talks through
// (the platform, whose clock is the run's clock; the connection tracker fed by the capture; the
// outputs of access events) and the options as they stood when the run started.
#pragma once

#include "audit/answer.h"
#include "audit/open_files.h"
#include "base/access_event.h"
#include "base/option.h"
#include "platform/platform.h"

namespace qvx {

class ConnectionTracker;

struct CaptureContext {
  // Not owned: each outlives the run.
  Platform* platform = nullptr;
  ConnectionTracker* tracker = nullptr;
  EventSinks* sinks = nullptr;
  // Taken at the start of the run: the options, and the access-kind mode derived from them
  // (nAccessKindFlg).
  OptionInfoSt options{};
  int access_kind = 0;
  // The answer paired with the request being handled now, set by the capture loop around its
  // handling; nullptr when none was seen (lost frames, a capture that started after the request,
  // an answer later than the wait allows) and between requests.
  const AnswerFacts* answer = nullptr;
  // Owned: the run's handles, none at its start.
  OpenFiles open_files;
};

}  // namespace qvx
