#include "smb1/other_command.h"

#include "audit/other_access.h"

namespace qvx {

int QVX_SmbOtherCmd(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                    long SMB_Total_Packet_Size, DATA* data) {
  if (SMB_Total_Packet_Size < 1 || Len < static_cast<unsigned long>(SMB_Total_Packet_Size))
    return 10;
  OtherCmdFrame f;
  f.version = 1;
  f.routine = "QVX_SmbOtherCmd";
  f.Len = Len;
  f.recvData = recvData;
  // From the WordCount byte on: parameter words and data alike.
  f.body = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  f.tid = SMB_HEADER->TID;
  f.pid = SMB_HEADER->PIDLow;
  f.uid = SMB_HEADER->UID;
  f.mid = SMB_HEADER->MID;
  f.data = data;
  return QVX_OtherCmdAccess(f);
}

}  // namespace qvx
