// SMB1 tree connect and disconnect.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// Tree Connect AndX request.
int QVX_SmbTreeConnectAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data);

// Tree Connect AndX response: binds the tree to its TID.
int QVX_SmbTreeConnectAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                               unsigned char* recvData, long SMB_Total_Packet_Size,
                               int TreeConnectMax, DATA* data);

// Whether a Tree Connect AndX answer's Service names a named-pipe tree ("IPC").
bool QVX_Smb1AnswerServiceIsPipe(const SMB_HEADER_ST& h, unsigned long Len,
                                 const unsigned char* recvData, long SMB_Total_Packet_Size);

// Tree Disconnect request.
int QVX_SmbTreeDisConnectReq(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                             long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data);

}  // namespace qvx
