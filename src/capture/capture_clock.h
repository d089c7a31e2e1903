// The time of a line is the time of its request. Live, the capture thread may handle a request
// a moment after it crossed the wire (held for its answer, or behind a burst): this platform
// answers Now() on the capture thread with the capture time of the frame being handled, and
// passes every other call, and Now() on any other thread, to the platform it wraps.
#pragma once

#include "platform/platform.h"

namespace qvx {

class CaptureClockPlatform : public PlatformWrapper {
 public:
  explicit CaptureClockPlatform(Platform* target) : PlatformWrapper(target) {}
  LocalTime Now() override;
};

}  // namespace qvx
