// SMB1 NT Create AndX: file and folder access.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// NT Create AndX request.
int QVX_SmbNtCreateAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                        long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
