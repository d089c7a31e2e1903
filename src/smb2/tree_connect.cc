#include "smb2/tree_connect.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_Smb2TreeConnectAndx(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, int TreeConnectMax, DATA* data) {
  return 0;
}

int QVX_Smb2TreeConnectAndxRecv(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int TreeConnectMax, DATA* data) {
  return 0;
}

int QVX_Smb2TreeDisConnectReq(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                              unsigned char* recvData, long SMB_Total_Packet_Size,
                              int TreeConnectMax, DATA* data) {
  return 0;
}

}  // namespace qvx
