// The monotonic clock the program's own threads time their waits by (never set back, unlike
// the wall clock the platform gives).
#pragma once

#include <chrono>
#include <cstdint>

namespace qvx {

inline int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace qvx
