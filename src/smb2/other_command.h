// SMB2 requests that no specific handler took, and the body shared with the SMB1 twin.
#pragma once

#include <cstdint>

#include "capture/smb_header.h"

namespace qvx {

// Any other SMB2 request toward the server.
int QVX_Smb2OtherCmd(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data);

// The first UTF-16LE path of recvData[start, Len) that begins with a backslash followed by a
// non-zero unit, copied into wide (wide_size bytes, zeroed by the caller) up to its zero unit or
// the end of the frame, and cut so that it always ends with a zero unit. False when there is none.
bool QVX_FindBodyPath(const unsigned char* recvData, unsigned long Len, unsigned long start,
                      unsigned char* wide, unsigned long wide_size);

// One request for the other-command road of either version.
struct OtherCmdFrame {
  int version = 2;           // 1 SMB1, 2 SMB2
  const char* routine = "";  // names the traces
  unsigned long Len = 0;
  const unsigned char* recvData = nullptr;
  unsigned long body = 0;  // index of the first byte searched
  uint32_t tid = 0, pid = 0, uid = 0, mid = 0;
  bool set_info = false;  // an SMB2 SET_INFO: a rename names its target whole
  DATA* data = nullptr;
};
// The target of an SMB2 SET_INFO FileRenameInformation whose body starts at index body, as
// "\\" followed by the whole name relative to the share (UTF-16LE, terminated); false when the
// request is no rename or its name does not lie inside the frame.
bool QVX_Smb2RenameTarget(const unsigned char* recvData, unsigned long Len, unsigned long body,
                          unsigned char* wide, unsigned long wide_size);
// Logs the object a request names: 0 processed (or a repeat), 10 dropped.
int QVX_OtherCmdAccess(const OtherCmdFrame& f);

}  // namespace qvx
