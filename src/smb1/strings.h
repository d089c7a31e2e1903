// The strings of an SMB1 request as its client sent them: UTF-16LE when the header's Flags2 has
// SMB_FLAGS2_UNICODE, else single bytes of the OEM code page. A Unicode string starts at an even
// offset from the SMB header: a pad byte stands before it when the field before ends odd.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

inline constexpr uint16_t kFlags2Unicode = 0x8000;

// Where a message's strings are read from: the frame, its extent and the SMB header's index.
struct Smb1Text {
  const unsigned char* frame = nullptr;
  unsigned long len = 0;
  unsigned long header = 0;
  bool unicode = false;
};
// The text context of a handler's frame (cursor as the handler contract has it).
Smb1Text QVX_Smb1TextOf(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
                        long SMB_Total_Packet_Size);

// Where the string whose field starts at index at begins: one byte on for a Unicode string at an
// odd offset from the header.
unsigned long QVX_Smb1StringStart(const Smb1Text& t, unsigned long at);

// Reads the string whose field starts at index at (before any pad) and ends, at the latest,
// before index end (the frame's end when greater): up to its terminator, as UTF-16LE into wide
// (kWideNameSize bytes, zeroed by the caller; the first units that fit are kept and a zero unit
// always follows them). With unicode false (a string that is OEM whatever Flags2 says, such as a
// tree connect's Service) single bytes are read. Returns the index just past the terminator, or
// end when the string ran to it.
unsigned long QVX_Smb1ReadString(const Smb1Text& t, unsigned long at, unsigned long end,
                                 unsigned char* wide);
unsigned long QVX_Smb1ReadString(const Smb1Text& t, unsigned long at, unsigned long end,
                                 unsigned char* wide, bool unicode);

}  // namespace qvx
