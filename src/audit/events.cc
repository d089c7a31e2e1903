#include "audit/events.h"

namespace qvx {

EventSinks& QVX_Sinks() {
  static EventSinks sinks;
  return sinks;
}

void QVX_Emit(const AccessEvent& e) { QVX_Sinks().Write(e); }

}  // namespace qvx
