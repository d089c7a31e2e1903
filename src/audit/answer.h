// What the server answered to the request being handled: its status and, for an open, what the
// open did. The capture loop pairs each request with its answer (same connection and message
// number) before the request reaches its handler, so a verdict can follow the server's own word
// rather than a guess from the file on disk afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvx {

// NT status values the verdicts look at.
inline constexpr uint32_t kStatusSuccess = 0x00000000;
inline constexpr uint32_t kStatusPendingValue = 0x00000103;

// The create action of an open's answer.
enum : uint32_t {
  kCreateSuperseded = 0,
  kCreateOpened = 1,
  kCreateCreated = 2,
  kCreateOverwritten = 3,
};

inline constexpr uint32_t kAttributeDirectory = 0x00000010;
// CreateOptions bit of an open that deletes its object when the last handle closes.
inline constexpr uint32_t kDeleteOnClose = 0x00001000;

struct AnswerFacts {
  uint32_t status = kStatusSuccess;  // NT status (SMB1 DOS errors mapped to it)
  // Filled from a successful open's answer only.
  bool open = false;
  uint32_t create_action = kCreateOpened;
  uint64_t creation_time = 0;  // FILETIME
  uint64_t last_write_time = 0;
  uint64_t change_time = 0;
  uint64_t end_of_file = 0;
  uint32_t attributes = 0;
  bool directory = false;
  // The open is of a named pipe (SMB1 NT_CREATE_ANDX answer's ResourceType), never a file.
  bool pipe = false;
  // SMB2: persistent and volatile halves; SMB1: the FID in file_id[1].
  uint64_t file_id[2] = {0, 0};
  // The file an SMB1 CREATE_TEMPORARY made, named by the server within the folder the request
  // gave (converted text).
  std::string temporary_name;
  // The key of a source handle for server-side copies (SMB2 FSCTL_SRV_REQUEST_RESUME_KEY).
  bool resume_key_set = false;
  uint8_t resume_key[24] = {};

  bool Ok() const { return status == kStatusSuccess; }
};

// A refusal on the grounds of the user's rights (as opposed to a missing name, a name collision,
// a sharing violation, ...): such an attempt is worth a line of its own.
bool QVX_StatusIsDenial(uint32_t status);
// The status's name ("STATUS_ACCESS_DENIED"), or "STATUS_0xC00000XX" for one without a name here.
// out must hold at least 32 bytes.
const char* QVX_StatusName(uint32_t status, char* out, size_t size);

}  // namespace qvx
