// What an SMB1 client does to a file it holds open by FID, told by the server's answers. A FID
// the run never saw opened is first adopted (audit/unseen_handles.h).
#pragma once

#include "audit/open_files.h"
#include "base/data.h"
#include "base/ip_address.h"
#include "wire/smb_header.h"

namespace qvx {

// The handle a CLOSE, READ, READ_ANDX, WRITE, WRITE_ANDX or WRITE_AND_CLOSE names, on the
// connection ends; false for another request or a parameter block too short.
bool QVX_Smb1RequestHandle(const ConnectionEnds& ends, const unsigned char* smb_header,
                           unsigned long Len, const unsigned char* recvData, long cursor,
                           OpenFileKey* key);
// SMB_COM_CLOSE: a handle whose line was kept back gets it now ("Del" when its delete-on-close
// took effect).
int QVX_SmbClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data);
// SMB_COM_READ and SMB_COM_READ_ANDX: a handle the run never saw opened gets its "Rd" line at
// its first read.
int QVX_SmbRead(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                long SMB_Total_Packet_Size, DATA* data);
// SMB_COM_WRITE and SMB_COM_WRITE_ANDX: the first successful write on a handle logged "Rd" gives
// one "Wt" line. A read or write refused for the user's rights is a "denied" line of its file.
int QVX_SmbWrite(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data);
// SMB_COM_WRITE_AND_CLOSE: the write, as a WRITE's, then the close.
int QVX_SmbWriteAndClose(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                         long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
