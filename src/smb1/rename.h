// SMB1 requests that name the objects they act on: rename, delete, make and remove a folder.
#pragma once

#include "wire/smb_header.h"

namespace qvx {

// SMB_COM_RENAME request.
int QVX_SmbComRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data);

// NT_RENAME (a rename "ReNm", a hard link "Link" or a copy "Copy" by its information level),
// COPY ("Copy", the destination in the tree its Tid2 names) and MOVE ("ReNm"): one "old >> new"
// line each time, by the answer.
int QVX_SmbNtRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data);

// SMB_COM_DELETE_DIRECTORY, SMB_COM_CREATE_DIRECTORY (and TRANSACTION2 CREATE_DIRECTORY) and
// SMB_COM_DELETE requests: one line each time, "Del" or "New"; an answer that refuses gives a
// "denied" line (rights) or none.
int QVX_ComDeleteDirectory(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data);
int QVX_SmbCreateDirectory(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data);
int QVX_SmbComDelete(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
