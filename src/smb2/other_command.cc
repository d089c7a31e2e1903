#include "smb2/other_command.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_Smb2OtherCmd(SMB2_HEADER_ST* SMB2_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  return 0;
}

}  // namespace qvx
