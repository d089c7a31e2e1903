// SMB2 tree connect and disconnect.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// TREE_CONNECT request.
int QVX_Smb2TreeConnectAndx(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data);

// TREE_CONNECT response: binds the tree to its TreeId.
int QVX_Smb2TreeConnectAndxRecv(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int TreeConnectMax, DATA* data);

// TREE_DISCONNECT request.
int QVX_Smb2TreeDisConnectReq(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                              unsigned char* recvData, long SMB_Total_Packet_Size,
                              int TreeConnectMax, DATA* data);

}  // namespace qvx
