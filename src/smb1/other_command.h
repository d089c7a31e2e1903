// SMB1 requests that no specific handler took.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// Any other SMB1 request toward the server.
int QVX_SmbOtherCmd(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
