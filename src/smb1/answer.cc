#include "smb1/answer.h"

#include "wire/le.h"

namespace qvx {

uint32_t QVX_DosErrorStatus(uint8_t error_class, uint16_t code) {
  constexpr uint8_t kErrDos = 1, kErrSrv = 2, kErrHrd = 3;
  if (error_class == 0) return kStatusSuccess;
  if (error_class == kErrDos) {
    switch (code) {
      case 2:
        return 0xC0000034;  // no such file
      case 3:
        return 0xC000003A;  // no such path
      case 5:
        return 0xC0000022;  // no access
      case 32:
        return 0xC0000043;  // sharing violation
      case 80:
        return 0xC0000035;  // file exists
      case 145:
        return 0xC0000101;  // directory not empty
    }
  }
  if (error_class == kErrSrv && code == 4) return 0xC0000022;   // ERRaccess
  if (error_class == kErrHrd && code == 19) return 0xC00000A2;  // ERRnowrite
  return 0xC0000001;
}

bool QVX_Smb1AnswerFacts(const unsigned char* h, size_t size, AnswerFacts* out) {
  using wire::LoadLe16;
  using wire::LoadLe32;
  using wire::LoadLe64;
  if (size < 33) return false;
  AnswerFacts a;
  constexpr uint16_t kFlags2NtStatus = 0x4000;
  if (LoadLe16(h + 10) & kFlags2NtStatus)
    a.status = LoadLe32(h + 5);
  else
    a.status = QVX_DosErrorStatus(h[5], LoadLe16(h + 7));
  // NT_CREATE_ANDX answer: 34 words (42 or 50 in the extended form), FID at 6, the action at 8,
  // the times from 12, attributes at 44, end of file at 56, the resource type at 64 (1 and 2 are
  // byte- and message-mode pipes), the folder flag at 68.
  const unsigned char* w = h + 32;
  if (a.Ok() && h[4] == 0xA2 && w[0] >= 34 && size >= 32 + 69) {
    a.open = true;
    a.file_id[1] = LoadLe16(w + 6);
    a.create_action = LoadLe32(w + 8);
    a.creation_time = LoadLe64(w + 12);
    a.last_write_time = LoadLe64(w + 28);
    a.change_time = LoadLe64(w + 36);
    a.attributes = LoadLe32(w + 44);
    a.end_of_file = LoadLe64(w + 56);
    a.directory = w[68] != 0 || (a.attributes & kAttributeDirectory) != 0;
    const uint16_t resource = LoadLe16(w + 64);
    a.pipe = resource == 1 || resource == 2;
  }
  *out = a;
  return true;
}

bool QVX_Smb1OpenAnswerFid(const unsigned char* h, size_t size, uint16_t* fid) {
  AnswerFacts a;
  if (!QVX_Smb1AnswerFacts(h, size, &a) || !a.Ok()) return false;
  // The parameter block: WordCount, then the words. NT_CREATE_ANDX: AndX (4 bytes), OplockLevel,
  // FID; OPEN_ANDX: AndX, FID; OPEN, CREATE, CREATE_TEMPORARY, CREATE_NEW: FID first.
  const unsigned char* w = h + 32;
  unsigned words = 0, at = 0;
  switch (h[4]) {
    case 0xA2:
      words = 34, at = 6;
      break;
    case 0x2D:
      words = 15, at = 5;
      break;
    case 0x02:
      words = 7, at = 1;
      break;
    case 0x03:
    case 0x0E:
    case 0x0F:
      words = 1, at = 1;
      break;
    default:
      return false;
  }
  if (w[0] < words || size < 32 + at + 2) return false;
  *fid = wire::LoadLe16(w + at);
  return true;
}

}  // namespace qvx
