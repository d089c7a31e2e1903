#include "audit/events.h"

#include "audit/context.h"

namespace qvx {

EventSinks& QVX_Sinks() {
  static EventSinks sinks;
  return sinks;
}

void QVX_Emit(const CaptureContext& ctx, const AccessEvent& e) { ctx.sinks->Write(e); }

}  // namespace qvx
