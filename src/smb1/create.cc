#include "smb1/create.h"

#include <cstring>

#include "audit/context.h"
#include "audit/file_access.h"
#include "base/dbglog.h"
#include "smb1/open.h"
#include "smb1/strings.h"

namespace qvx {

namespace {

// The parameter block, WordCount to ByteCount and the first data byte (a Unicode name's pad).
inline constexpr unsigned long kNtCreateBlock = 52;
inline constexpr unsigned kNtCreateWords = 24;

uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

int QVX_SmbNtCreateAndx(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                        long SMB_Total_Packet_Size, DATA* data) {
  QVX_DBG();
  // 1. The name and the request. The block starts at index cursor - 1; every length is compared
  // with the bytes really received, so a name that ends on the frame's last byte is taken and
  // nothing past the frame is read.
  if (SMB_Total_Packet_Size < 1) return 10;
  const unsigned long at = static_cast<unsigned long>(SMB_Total_Packet_Size - 1);
  if (Len < at || Len - at < kNtCreateBlock) return 10;
  const unsigned char* block = recvData + at;
  if (block[0] != kNtCreateWords) return 10;
  const unsigned long name_length = block[6] | block[7] << 8;
  const uint32_t desired = Get32(block + 16);
  const uint32_t disposition = Get32(block + 36);
  const uint32_t options = Get32(block + 40);
  if (name_length > kMaxWideName) {
    QVX_KLOG(
        "QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : NT_CREATE_ANDHEADER.NameLengthサイズエラー "
        "NameLength=%d\r\n",
        static_cast<int>(name_length));
    return 10;
  }
  // The name follows ByteCount: NameLength bytes in the client's strings (Unicode after a pad to
  // an even offset from the header).
  const Smb1Text text = QVX_Smb1TextOf(*SMB_HEADER, Len, recvData, SMB_Total_Packet_Size);
  const unsigned long name_at = QVX_Smb1StringStart(text, at + kNtCreateBlock - 1);
  if (name_at > Len || name_length > Len - name_at) return 10;
  unsigned char wide[kWideNameSize] = {};
  QVX_Smb1ReadString(text, name_at, name_at + name_length, wide);
  char name[kAccessNameSize] = {};
  const int rc = QVX_ConvertWideName(wide, name, sizeof name);
  if (rc == 0) {
    QVX_KLOG("QVX_D41-001 QVX_SmbNtCreateAndx[%d][%ld] : WideCharToMultiByte sBuffer %s \r\n",
             name);
    return 10;
  }
  if (QVX_TraceLevel(6))
    QVX_KLOG("QVX_D51-001 QVX_SmbNtCreateAndx[%d][%ld] : WideCharToMultiByte rc=%d\r\n", rc);

  // 2. The request record; the audit step takes it from here.
  Smb1OpenRecord r;
  QVX_Smb1TakeIds(*SMB_HEADER, &r);
  r.routine = "QVX_SmbNtCreateAndx";
  r.name = name;
  r.desired = desired;
  r.disposition = disposition;
  r.options = options;
  return QVX_Smb1AuditOpen(r, data);
}

}  // namespace qvx
