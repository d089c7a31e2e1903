#include "smb1/rename.h"

namespace qvx {

// Decoding joins here; until then every frame is ignored.

int QVX_SmbComRename(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                     long SMB_Total_Packet_Size, DATA* data) {
  return 0;
}

int QVX_ComDeleteDirectory(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                           long SMB_Total_Packet_Size, DATA* data) {
  return 0;
}

}  // namespace qvx
