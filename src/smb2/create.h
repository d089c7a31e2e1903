// SMB2 CREATE: file and folder access.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// CREATE request.
int QVX_Smb2FileStandardInfo(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                             unsigned char* recvData, long SMB_Total_Packet_Size,
                             int TreeConnectMax, DATA* data);

}  // namespace qvx
