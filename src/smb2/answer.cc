#include "smb2/answer.h"

#include <cstring>

#include "wire/le.h"

namespace qvx {

bool QVX_Smb2AnswerFacts(const unsigned char* h, size_t size, AnswerFacts* out) {
  using wire::LoadLe16;
  using wire::LoadLe32;
  using wire::LoadLe64;
  if (size < 64) return false;
  AnswerFacts a;
  a.status = LoadLe32(h + 8);
  const unsigned command = LoadLe16(h + 12);
  // CREATE answer: StructureSize 89, then the action at 4, the times from 8, the end of file at
  // 48, attributes at 56 and the file id at 64.
  constexpr size_t kCreateBody = 88;
  if (a.Ok() && command == 5 && size >= 64 + kCreateBody && LoadLe16(h + 64) == 89) {
    const unsigned char* b = h + 64;
    a.open = true;
    a.create_action = LoadLe32(b + 4);
    a.creation_time = LoadLe64(b + 8);
    a.last_write_time = LoadLe64(b + 24);
    a.change_time = LoadLe64(b + 32);
    a.end_of_file = LoadLe64(b + 48);
    a.attributes = LoadLe32(b + 56);
    a.directory = (a.attributes & kAttributeDirectory) != 0;
    a.file_id[0] = LoadLe64(b + 64);
    a.file_id[1] = LoadLe64(b + 72);
  }
  // IOCTL answer: StructureSize 49, CtlCode at 4, OutputOffset (from the header) at 32 and
  // OutputCount at 36; a resume key's output starts with the 24-byte key.
  constexpr uint32_t kRequestResumeKey = 0x00140078;
  if (a.Ok() && command == 0x0B && size >= 64 + 48 && LoadLe16(h + 64) == 49 &&
      LoadLe32(h + 68) == kRequestResumeKey) {
    const size_t out = LoadLe32(h + 96), count = LoadLe32(h + 100);
    if (count >= 24 && wire::Fits(size, out, 24)) {
      a.resume_key_set = true;
      std::memcpy(a.resume_key, h + out, 24);
    }
  }
  *out = a;
  return true;
}

}  // namespace qvx
