#include "smb1/strings.h"

#include "audit/file_access.h"
#include "platform/platform.h"

namespace qvx {

Smb1Text QVX_Smb1TextOf(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
                        long SMB_Total_Packet_Size) {
  Smb1Text t;
  t.frame = recvData;
  t.len = Len;
  // The cursor is one past the WordCount byte's index, which follows the 32-byte header.
  t.header =
      SMB_Total_Packet_Size > 33 ? static_cast<unsigned long>(SMB_Total_Packet_Size - 33) : 0;
  t.unicode = (h.Flags2 & kFlags2Unicode) != 0;
  return t;
}

unsigned long QVX_Smb1StringStart(const Smb1Text& t, unsigned long at) {
  return t.unicode && at >= t.header && (at - t.header) % 2 != 0 ? at + 1 : at;
}

unsigned long QVX_Smb1ReadString(const Smb1Text& t, unsigned long at, unsigned long end,
                                 unsigned char* wide) {
  return QVX_Smb1ReadString(t, at, end, wide, t.unicode);
}

unsigned long QVX_Smb1ReadString(const Smb1Text& t, unsigned long at, unsigned long end,
                                 unsigned char* wide, bool unicode) {
  if (end > t.len) end = t.len;
  constexpr size_t kUnits = kWideNameSize / 2 - 1;  // one unit stays for the terminator
  if (unicode) {
    if (at >= t.header && (at - t.header) % 2 != 0) ++at;  // QVX_Smb1StringStart
    size_t kept = 0;
    for (; at + 1 < end; at += 2) {
      if (t.frame[at] == 0 && t.frame[at + 1] == 0) return at + 2;
      if (kept < kUnits) {
        wide[2 * kept] = t.frame[at];
        wide[2 * kept + 1] = t.frame[at + 1];
        ++kept;
      }
    }
    return end > at ? end : at;
  }
  unsigned long stop = at;
  while (stop < end && t.frame[stop] != 0) ++stop;
  const unsigned long n = stop > at ? stop - at : 0;
  QVX_OemToWide(t.frame + at, n < kUnits ? n : kUnits, wide, kUnits);
  return stop < end ? stop + 1 : end;
}

}  // namespace qvx
