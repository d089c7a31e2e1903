#include "smb1/create.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_SmbNtCreateAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                        long SMB_Total_Packet_Size, DATA* data) {
  return 0;
}

}  // namespace qvx
