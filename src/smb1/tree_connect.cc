#include "smb1/tree_connect.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_SmbTreeConnectAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  return 0;
}

int QVX_SmbTreeConnectAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                               unsigned char* recvData, long SMB_Total_Packet_Size,
                               int TreeConnectMax, DATA* data) {
  return 0;
}

int QVX_SmbTreeDisConnectReq(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                             long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  return 0;
}

}  // namespace qvx
