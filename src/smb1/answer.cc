#include "smb1/answer.h"

#include "audit/file_access.h"
#include "platform/platform.h"
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

namespace {

using wire::LoadLe16;
using wire::LoadLe32;
using wire::LoadLe64;

constexpr uint16_t kFlags2NtStatus = 0x4000;
// Legacy opens say what they did in two bits: opened 1, created 2, truncated 3 (the numbers of
// an NT create action).
constexpr uint16_t kOpenActionMask = 0x0003;

// The words of an answer (w[0] is WordCount) hold at least n parameter bytes.
bool HasWords(const unsigned char* w, const unsigned char* h, size_t size, unsigned n) {
  return w[0] * 2u >= n && size >= static_cast<size_t>(w - h) + 1 + n;
}

// An NT open's answer (NT_CREATE_ANDX's words, NT_TRANSACT CREATE's parameters): the FID and
// the action after it at fid, and from times on the four times, attributes, allocation size,
// end of file, the resource type (1 and 2 are byte- and message-mode pipes), the pipe state and
// the folder flag.
void NtOpenFacts(const unsigned char* fid, const unsigned char* times, AnswerFacts* a) {
  a->open = true;
  a->file_id[1] = LoadLe16(fid);
  a->create_action = LoadLe32(fid + 2);
  a->creation_time = LoadLe64(times);
  a->last_write_time = LoadLe64(times + 16);
  a->change_time = LoadLe64(times + 24);
  a->attributes = LoadLe32(times + 32);
  a->end_of_file = LoadLe64(times + 44);
  a->directory = times[56] != 0 || (a->attributes & kAttributeDirectory) != 0;
  const uint16_t resource = LoadLe16(times + 52);
  a->pipe = resource == 1 || resource == 2;
}

// The legacy open answers: FID, attributes, size and resource type where they carry them.
void LegacyOpenFacts(uint16_t fid, uint16_t attributes, uint32_t size, uint16_t resource,
                     uint32_t action, AnswerFacts* a) {
  a->open = true;
  a->file_id[1] = fid;
  a->attributes = attributes;
  a->end_of_file = size;
  a->directory = (attributes & kAttributeDirectory) != 0;
  a->pipe = resource == 1 || resource == 2;
  a->create_action = action;
}

// A transaction answer's parameter block (TRANSACTION2: 16-bit counts and offsets at 6 and 8;
// NT_TRANSACT: 32-bit ones at 11 and 15), when it lies whole inside the answer.
const unsigned char* TransParams(const unsigned char* h, size_t size, bool nt, size_t need) {
  const unsigned char* w = h + 32;
  if (!HasWords(w, h, size, nt ? 36 : 20)) return nullptr;
  const size_t count = nt ? LoadLe32(w + 1 + 11) : LoadLe16(w + 1 + 6);
  const size_t offset = nt ? LoadLe32(w + 1 + 15) : LoadLe16(w + 1 + 8);
  if (count < need || offset < 32 || offset > size || size - offset < need) return nullptr;
  return h + offset;
}

}  // namespace

int QVX_Smb1TransactionSub(const unsigned char* h, size_t size) {
  if (size < 33) return -1;
  const unsigned char* w = h + 32;
  if (h[4] == 0x32 && HasWords(w, h, size, 30)) return LoadLe16(w + 1 + 28);
  if (h[4] == 0xA0 && HasWords(w, h, size, 38)) return LoadLe16(w + 1 + 36);
  return -1;
}

bool QVX_Smb1AnswerFacts(const unsigned char* h, size_t size, AnswerFacts* out, int sub) {
  if (size < 33) return false;
  AnswerFacts a;
  if (LoadLe16(h + 10) & kFlags2NtStatus)
    a.status = LoadLe32(h + 5);
  else
    a.status = QVX_DosErrorStatus(h[5], LoadLe16(h + 7));
  const unsigned char* w = h + 32;  // WordCount, then the words from w + 1
  const unsigned char* p = w + 1;
  if (!a.Ok()) {
    *out = a;
    return true;
  }
  switch (h[4]) {
    case 0xA2:  // NT_CREATE_ANDX: 34 words (42 or 50 in the extended form): the AndX block,
                // OplockLevel, FID, CreateAction, then the times
      if (w[0] >= 34 && HasWords(w, h, size, 68)) NtOpenFacts(p + 5, p + 11, &a);
      break;
    case 0x2D:  // OPEN_ANDX: AndX block, FID, attributes, last write, size, access, resource
                // type, pipe state, the action
      if (HasWords(w, h, size, 24))
        LegacyOpenFacts(LoadLe16(p + 4), LoadLe16(p + 6), LoadLe32(p + 12), LoadLe16(p + 18),
                        LoadLe16(p + 22) & kOpenActionMask, &a);
      break;
    case 0x02:  // OPEN: FID, attributes, last write, size, access mode; it opens what exists
      if (HasWords(w, h, size, 12))
        LegacyOpenFacts(LoadLe16(p), LoadLe16(p + 2), LoadLe32(p + 8), 0, kCreateOpened, &a);
      break;
    case 0x03:  // CREATE: the FID only; it creates the file or truncates the one there
    case 0x0F:  // CREATE_NEW: the FID; it made the file
      if (HasWords(w, h, size, 2))
        LegacyOpenFacts(LoadLe16(p), 0, 0, 0, h[4] == 0x0F ? kCreateCreated : kCreateOverwritten,
                        &a);
      break;
    case 0x0E:  // CREATE_TEMPORARY: the FID, then the name the server gave the file (ASCII; the
                // core protocol's answer put a buffer format byte before it)
      if (HasWords(w, h, size, 2)) {
        LegacyOpenFacts(LoadLe16(p), 0, 0, 0, kCreateCreated, &a);
        const size_t bytes = static_cast<size_t>(p + 2 - h) + 2;
        if (bytes <= size) {
          const size_t count = LoadLe16(p + 2);
          const size_t stop = count < size - bytes ? bytes + count : size;
          size_t at = bytes;
          if (at < stop && h[at] == 0x04) ++at;
          size_t end = at;
          while (end < stop && h[end] != 0) ++end;
          unsigned char wide[kWideNameSize] = {};
          QVX_OemToWide(h + at, end - at < kMaxWideName / 2 ? end - at : kMaxWideName / 2, wide,
                        kWideNameSize / 2 - 1);
          char name[kAccessNameSize] = {};
          if (QVX_ConvertWideName(wide, name, sizeof name) != 0) a.temporary_name = name;
        }
      }
      break;
    case 0x32:  // TRANSACTION2 OPEN2: FID, attributes, date, size, access, type, state, action
      if (sub == 0) {
        if (const unsigned char* q = TransParams(h, size, false, 20))
          LegacyOpenFacts(LoadLe16(q), LoadLe16(q + 2), LoadLe32(q + 8), LoadLe16(q + 14),
                          LoadLe16(q + 18) & kOpenActionMask, &a);
      }
      break;
    case 0xA0:  // NT_TRANSACT CREATE: OplockLevel, a reserved byte, FID, CreateAction,
                // EAErrorOffset, then the times
      if (sub == 1) {
        if (const unsigned char* q = TransParams(h, size, true, 69)) NtOpenFacts(q + 2, q + 12, &a);
      }
      break;
    default:
      break;
  }
  *out = a;
  return true;
}

}  // namespace qvx
