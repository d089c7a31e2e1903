// The frame fuzz target: one Ethernet frame through the running program's capture loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx {

// Hands one frame to the capture loop and returns once it has been handled. The first call
// starts the program in a fresh temporary home.
void FrameFuzzFrame(const uint8_t* frame, size_t size);

}  // namespace qvx
