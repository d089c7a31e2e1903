// Where the audit step sends its access events: the outputs of the capture run, in order.
#pragma once

#include "base/access_event.h"

namespace qvx {

struct CaptureContext;

// The program's outputs, which each capture run takes as its own (the access log and the list
// are added at start-up; further outputs such as JSON Lines or syslog are added by the shell that
// configures them). Only the shells and the start of a run use it.
EventSinks& QVX_Sinks();

// Hands one event to every output of the run.
void QVX_Emit(const CaptureContext& ctx, const AccessEvent& e);

}  // namespace qvx
