#include "smb1/message.h"

#include "audit/file_access.h"
#include "wire/le.h"

namespace qvx {

uint16_t Smb1Message::Word16(unsigned at) const {
  return wire::LoadLe16(text.frame + words_at + at);
}
uint32_t Smb1Message::Word32(unsigned at) const {
  return wire::LoadLe32(text.frame + words_at + at);
}

bool QVX_Smb1MessageOf(const SMB_HEADER_ST& h, unsigned long Len, const unsigned char* recvData,
                       long cursor, Smb1Message* out) {
  if (cursor < 33) return false;
  const unsigned long wc = static_cast<unsigned long>(cursor - 1);
  if (!wire::Fits(Len, wc, 1)) return false;
  Smb1Message m;
  m.text = QVX_Smb1TextOf(h, Len, recvData, cursor);
  m.command = h.Command;
  m.tid = h.TID;
  m.pid = h.PIDLow;
  m.uid = h.UID;
  m.mid = h.MID;
  m.word_count = recvData[wc];
  m.words_at = wc + 1;
  const unsigned long byte_count_at = m.words_at + 2ul * m.word_count;
  if (!wire::Fits(Len, byte_count_at, 2)) return false;
  m.bytes_at = byte_count_at + 2;
  const unsigned long count = wire::LoadLe16(recvData + byte_count_at);
  m.bytes_end = count <= Len - m.bytes_at ? m.bytes_at + count : Len;
  *out = m;
  return true;
}

namespace {

// A block of count bytes at offset (from the header), cut to the frame: a block that starts past
// the bytes kept of a long message is empty. False for an offset inside the header.
bool Block(const Smb1Message& m, unsigned long offset, unsigned long count, unsigned long* at,
           unsigned long* size) {
  *at = m.text.len;
  *size = 0;
  if (count == 0) return true;
  if (offset < 32) return false;
  const unsigned long start = m.text.header + offset;
  if (start >= m.text.len) return true;
  *at = start;
  *size = count <= m.text.len - start ? count : m.text.len - start;
  return true;
}

}  // namespace

bool QVX_Smb1Trans2Blocks(const Smb1Message& m, Smb1TransBlocks* out) {
  // TotalParameterCount, TotalDataCount, MaxParameterCount, MaxDataCount, MaxSetupCount and a
  // reserved byte, Flags, Timeout, Reserved2, ParameterCount (18), ParameterOffset, DataCount,
  // DataOffset, SetupCount (26), Reserved3, then the setup words.
  if (m.word_count < 15) return false;
  Smb1TransBlocks b;
  b.sub = m.Word16(28);
  if (!Block(m, m.Word16(20), m.Word16(18), &b.params_at, &b.params_size) ||
      !Block(m, m.Word16(24), m.Word16(22), &b.data_at, &b.data_size))
    return false;
  *out = b;
  return true;
}

bool QVX_Smb1NtTransBlocks(const Smb1Message& m, Smb1TransBlocks* out) {
  // MaxSetupCount, Reserved1, TotalParameterCount (3), TotalDataCount, MaxParameterCount,
  // MaxDataCount, ParameterCount (19), ParameterOffset, DataCount, DataOffset, SetupCount (35),
  // Function (36), then the setup words.
  if (m.word_count < 19) return false;
  Smb1TransBlocks b;
  b.sub = m.Word16(36);
  if (!Block(m, m.Word32(23), m.Word32(19), &b.params_at, &b.params_size) ||
      !Block(m, m.Word32(31), m.Word32(27), &b.data_at, &b.data_size))
    return false;
  *out = b;
  return true;
}

bool QVX_Smb1ReadName(const Smb1Text& t, unsigned long at, unsigned long end, std::string* name,
                      unsigned long* after) {
  unsigned char wide[kWideNameSize] = {};
  const unsigned long past = QVX_Smb1ReadString(t, at, end, wide);
  if (after) *after = past;
  char text[kAccessNameSize] = {};
  if (QVX_ConvertWideName(wide, text, sizeof text) == 0) return false;
  *name = text;
  return true;
}

}  // namespace qvx
