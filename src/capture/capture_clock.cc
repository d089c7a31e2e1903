#include "capture/capture_clock.h"

#include <cstdint>

#include "capture/capture_loop.h"

namespace qvx {

LocalTime CaptureClockPlatform::Now() {
  const int64_t frame_us = QVX_CaptureThreadFrameUs();
  if (frame_us <= 0) return PlatformWrapper::Now();
  // Many frames share a second: each second is converted to local time once.
  thread_local int64_t cached_sec = INT64_MIN;
  thread_local LocalTime cached;
  const int64_t sec = frame_us / 1000000;
  if (sec != cached_sec) {
    cached = LocalTimeFromTimeT(sec);
    cached_sec = sec;
  }
  return cached;
}

}  // namespace qvx
