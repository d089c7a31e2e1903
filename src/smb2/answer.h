// The facts of an SMB2 answer that the verdicts need.
#pragma once

#include <cstddef>

#include "audit/answer.h"

namespace qvx {

// From the first byte of the answer's SMB2 header (size bytes there). A CREATE answer that
// succeeded also gives the open's action, times, size, attributes and file id. False when the
// header is not all there.
bool QVX_Smb2AnswerFacts(const unsigned char* smb2, size_t size, AnswerFacts* out);

}  // namespace qvx
