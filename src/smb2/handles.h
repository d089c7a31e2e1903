// What a client does to a file it holds open, told by the server's answers: the first write to
// a file whose open was logged as a read, a delete that takes effect at the close, a rename.
#pragma once

#include "base/data.h"
#include "wire/smb_header.h"

namespace qvx {

// CLOSE: a handle whose line was kept back gets it now ("Del" when its delete took effect).
int QVX_Smb2Close(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data);
// WRITE: the first successful write on a handle logged "Rd" gives one "Wt" line.
int QVX_Smb2Write(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data);
// True for a SET_INFO of a file whose class changes what its handle does: a rename, a delete
// disposition, a new end of file or allocation. Other classes go to the catch-all handler.
bool QVX_Smb2SetInfoOwned(unsigned long Len, const unsigned char* recvData, long cursor);
// SET_INFO of one of those classes: a rename ("ReNm", old >> new), a delete disposition set or
// cleared, a new end of file (a write). A rename on a handle whose open was not seen goes the
// catch-all road; 10 for a request of another class.
// IOCTL: the server's resume key of a handle (the source of server-side copies) is kept with it;
// a server-side copy into a handle (FSCTL_SRV_COPYCHUNK, _WRITE) that the server carried out is a
// write of the destination and one "Copy" line "source >> destination" per destination handle.
int QVX_Smb2Ioctl(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data);
int QVX_Smb2SetInfo(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
