// SMB2 requests that no specific handler took: the object they name goes the other-command road.
#pragma once

#include <cstdint>

#include "audit/other_access.h"
#include "wire/smb_header.h"

namespace qvx {

// Any other SMB2 request toward the server. Only the names a request carries are looked at: a
// rename's or hard link's target (SET_INFO) and a directory search's pattern (QUERY_DIRECTORY);
// other requests name no object and are dropped (10).
int QVX_Smb2OtherCmd(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data);

// The target of an SMB2 SET_INFO FileRenameInformation or FileLinkInformation whose body starts at
// index body, as
// "\\" followed by the whole name relative to the share (UTF-16LE, terminated); false when the
// request is no rename or link, or its name does not lie inside the frame.
bool QVX_Smb2RenameTarget(const unsigned char* recvData, unsigned long Len, unsigned long body,
                          unsigned char* wide, unsigned long wide_size);
}  // namespace qvx
