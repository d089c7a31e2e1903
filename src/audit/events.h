// Where the audit step sends its access events: the outputs of the capture run, in order.
#pragma once

#include "base/access_event.h"

namespace qvx {

// The outputs every event goes to (the access log and the list are added at start-up; further
// outputs such as JSON Lines or syslog are added by the shell that configures them).
EventSinks& QVX_Sinks();

// Hands one event to every output.
void QVX_Emit(const AccessEvent& e);

}  // namespace qvx
