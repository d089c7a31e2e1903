#include "smb2/create.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_Smb2FileStandardInfo(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len,
                             unsigned char* recvData, long SMB_Total_Packet_Size,
                             int TreeConnectMax, DATA* data) {
  return 0;
}

}  // namespace qvx
