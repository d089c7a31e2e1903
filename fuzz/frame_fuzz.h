// The frame fuzz target: one frame through the running program's capture loop. An input is a
// byte that chooses the frame's link type (FrameFuzzLinkType) followed by the frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx {

// The link types an input may choose, by its first byte modulo their number: Ethernet first.
int FrameFuzzLinkType(uint8_t selector);
// The selector byte of a link type (0, Ethernet, for one not chosen by any).
uint8_t FrameFuzzSelector(int link_type);

// Hands one frame of the link type to the capture loop and returns once it has been handled. The
// first call starts the program in a fresh temporary home.
void FrameFuzzFrame(int link_type, const uint8_t* frame, size_t size);
// One input: its selector byte, then the frame.
void FrameFuzzInput(const uint8_t* input, size_t size);

}  // namespace qvx
