// SMB1 rename and delete directory.
#pragma once

#include "capture/smb_header.h"

namespace qvx {

// SMB_COM_RENAME request.
int QVX_SmbComRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data);

// SMB_COM_DELETE_DIRECTORY request.
int QVX_ComDeleteDirectory(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
