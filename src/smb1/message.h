// One SMB1 request as the decoders read it: the ids of its header, its parameter words and its
// data bytes, and the parameter and data blocks of a transaction, each checked to lie inside the
// bytes received. Decoders read from here into their request records; nothing of the frame is
// kept beyond the call.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "smb1/strings.h"
#include "wire/smb_header.h"

namespace qvx {

struct Smb1Message {
  Smb1Text text;  // the frame, its extent, the header's index, the client's strings
  uint8_t command = 0;
  uint16_t tid = 0, pid = 0, uid = 0, mid = 0;
  unsigned long words_at = 0;   // the first parameter byte (after WordCount)
  unsigned word_count = 0;      // WordCount: parameter bytes are twice this many
  unsigned long bytes_at = 0;   // the first data byte (after ByteCount)
  unsigned long bytes_end = 0;  // just past the data bytes, cut at the frame's end

  // Parameter bytes at byte offset at of the words; the caller has checked word_count.
  uint16_t Word16(unsigned at) const;
  uint32_t Word32(unsigned at) const;
};

// Copies the command and the ids of a message's header (or of a header) into a request record.
template <class Source, class Record>
void QVX_Smb1TakeIds(const Source& m, Record* r) {
  if constexpr (std::is_same_v<Source, SMB_HEADER_ST>) {
    r->command = m.Command;
    r->tid = m.TID;
    r->pid = m.PIDLow;
    r->uid = m.UID;
    r->mid = m.MID;
  } else {
    r->command = m.command;
    r->tid = m.tid;
    r->pid = m.pid;
    r->uid = m.uid;
    r->mid = m.mid;
  }
}

// The message of a handler's frame (the cursor as the handler contract has it). False when the
// parameter block or ByteCount does not lie inside the frame.
bool QVX_Smb1MessageOf(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
                       long cursor, Smb1Message* out);

// A transaction's parameter and data blocks at the offsets (from the header) its words give, each
// cut to the bytes received, and its subcommand (TRANSACTION2's first setup word, NT_TRANSACT's
// Function).
struct Smb1TransBlocks {
  uint16_t sub = 0;
  unsigned long params_at = 0, params_size = 0;
  unsigned long data_at = 0, data_size = 0;
};
// TRANSACTION2 (14 words and at least one setup word) and NT_TRANSACT (19 words and the setup
// words). False when the words are too few or a block starts outside the frame.
bool QVX_Smb1Trans2Blocks(const Smb1Message& m, Smb1TransBlocks* out);
bool QVX_Smb1NtTransBlocks(const Smb1Message& m, Smb1TransBlocks* out);

// Reads the string whose field starts at index at (a Unicode one after its pad, as t aligns it)
// and ends before end at the latest, converted into *name. after (when given) is the index just
// past its terminator. False when the conversion fails.
bool QVX_Smb1ReadName(const Smb1Text& t, unsigned long at, unsigned long end, std::string* name,
                      unsigned long* after = nullptr);

}  // namespace qvx
