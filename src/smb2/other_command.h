// SMB2 requests that no specific handler took.
#pragma once

#include "capture/smb_header.h"

namespace qvx {

// Any other SMB2 request toward the server.
int QVX_Smb2OtherCmd(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
