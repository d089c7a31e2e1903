// SMB1 session set-up: the user name of a log-on and its binding to the UID.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// Session Setup AndX request: keeps the NTLMSSP user name.
int QVX_SmbSessionSetupAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, DATA* data);

// The answer that binds a pending session row to its UID.
int QVX_SmbSessionSetupAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int SetupSessionMax, DATA* data);

}  // namespace qvx
