// The facts of an SMB1 answer that the verdicts need.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audit/answer.h"

namespace qvx {

// From the first byte of the answer's SMB1 header (size bytes there). The status is the NT status
// when the answer carries one, else its DOS error class and code mapped to the NT status of the
// same meaning. An NT_CREATE_ANDX answer that succeeded also gives the open's action, times,
// size, attributes and FID. False when the header is not all there.
bool QVX_Smb1AnswerFacts(const unsigned char* smb1, size_t size, AnswerFacts* out);

// The FID a successful open's answer grants: NT_CREATE_ANDX, OPEN_ANDX, OPEN, CREATE,
// CREATE_TEMPORARY, CREATE_NEW. False for any other answer, a refusal, or a block too short.
bool QVX_Smb1OpenAnswerFid(const unsigned char* smb1, size_t size, uint16_t* fid);

// The NT status of a DOS error class and code.
uint32_t QVX_DosErrorStatus(uint8_t error_class, uint16_t code);

}  // namespace qvx
