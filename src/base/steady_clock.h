// The monotonic clock the program's own threads time their waits by (never set back, unlike
// the wall clock the platform gives).
#pragma once

// Not <chrono>: Windows-built files cannot include it (their execution character set); the
// clock comes with <condition_variable>.
#include <condition_variable>
#include <cstdint>

namespace qvx {

inline int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace qvx
