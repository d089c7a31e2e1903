// The facts of an SMB1 answer that the verdicts need.
#pragma once

#include <cstddef>

#include "audit/answer.h"

namespace qvx {

// From the first byte of the answer's SMB1 header (size bytes there). The status is the NT status
// when the answer carries one, else its DOS error class and code mapped to the NT status of the
// same meaning. A successful open's answer also gives the FID and what the open did, and where
// it carries them its size, attributes, times and resource type: NT_CREATE_ANDX, OPEN_ANDX,
// OPEN, CREATE (taken as a truncation, since its answer says no more), CREATE_NEW,
// CREATE_TEMPORARY (with the name of the file made) and, by the request's subcommand sub,
// TRANSACTION2 OPEN2 and NT_TRANSACT CREATE. False when the header is not all there.
bool QVX_Smb1AnswerFacts(const unsigned char* smb1, size_t size, AnswerFacts* out, int sub = -1);

// The subcommand of an SMB1 transaction request (TRANSACTION2's first setup word, NT_TRANSACT's
// Function), which its answer does not repeat although it says what the answer holds; -1 for
// any other request or one too short.
int QVX_Smb1TransactionSub(const unsigned char* smb1, size_t size);

// The NT status of a DOS error class and code.
uint32_t QVX_DosErrorStatus(uint8_t error_class, uint16_t code);

}  // namespace qvx
