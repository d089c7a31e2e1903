#include "smb1/session_setup.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_SmbSessionSetupAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                            long SMB_Total_Packet_Size, DATA* data) {
  return 0;
}

int QVX_SmbSessionSetupAndxRecv(SMB_HEADER_ST* SMB_HEADER, unsigned long Len,
                                unsigned char* recvData, long SMB_Total_Packet_Size,
                                int SetupSessionMax, DATA* data) {
  return 0;
}

}  // namespace qvx
