// What an SMB1 client does to a file it holds open by FID, told by the server's answers.
#pragma once

#include "base/data.h"
#include "wire/smb_header.h"

namespace qvx {

// SMB_COM_CLOSE: a handle whose line was kept back gets it now ("Del" when its delete-on-close
// took effect).
int QVX_SmbClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data);
// SMB_COM_WRITE and SMB_COM_WRITE_ANDX: the first successful write on a handle logged "Rd" gives
// one "Wt" line.
int QVX_SmbWrite(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data);
// SMB_COM_WRITE_AND_CLOSE: the write, as a WRITE's, then the close.
int QVX_SmbWriteAndClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                         long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
