// What a client does to a file it holds open, told by the server's answers: the first write to
// a file whose open was logged as a read, a delete that takes effect at the close, a rename.
#pragma once

#include "audit/open_files.h"
#include "base/data.h"
#include "base/ip_address.h"
#include "wire/smb_header.h"

namespace qvx {

// Requests on handles the run never saw opened are first adopted (audit/unseen_handles.h).

// The handle a CLOSE, READ, WRITE or SET_INFO (of the classes below) names, as sent, on the
// connection ends; false for another request or a body too short.
bool QVX_Smb2RequestHandle(const ConnectionEnds& ends, const unsigned char* smb2_header,
                           unsigned long Len, const unsigned char* recvData, long cursor,
                           OpenFileKey* key);
// CLOSE: a handle whose line was kept back gets it now ("Del" when its delete took effect).
int QVX_Smb2Close(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data);
// READ: a handle the run never saw opened gets its "Rd" line at its first read; any other
// handle's open said it already.
int QVX_Smb2Read(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                 long SMB_Total_Packet_Size, DATA* data);
// WRITE: the first successful write on a handle logged "Rd" gives one "Wt" line. A read or write
// refused for the user's rights is a "denied" line of the handle's file.
int QVX_Smb2Write(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data);
// True for a SET_INFO of a file whose class changes what its handle does: a rename, a delete
// disposition, a new end of file or allocation. Other classes go to the catch-all handler.
bool QVX_Smb2SetInfoOwned(unsigned long Len, const unsigned char* recvData, long cursor);
// SET_INFO of one of those classes: a rename ("ReNm", old >> new), a delete disposition set or
// cleared, a new end of file (a write); 10 for a request of another class.
// IOCTL: the server's resume key of a handle (the source of server-side copies) is kept with it;
// a server-side copy into a handle (FSCTL_SRV_COPYCHUNK, _WRITE) that the server carried out is a
// write of the destination and one "Copy" line "source >> destination" per destination handle.
int QVX_Smb2Ioctl(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                  long SMB_Total_Packet_Size, DATA* data);
int QVX_Smb2SetInfo(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
