// An NTLMSSP AUTHENTICATE message as a client sends it inside a session set-up (behind a few
// bytes of SPNEGO wrapping), naming user in UTF-16LE right after the 72-byte head.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qvx::test {

// offset_shift moves the name's recorded offset past where it really lies.
inline std::vector<unsigned char> NtlmAuthenticate(const std::u16string& user,
                                                   uint32_t offset_shift = 0) {
  std::vector<unsigned char> m(72, 0);
  std::memcpy(m.data(), "NTLMSSP", 8);
  m[8] = 3;
  const size_t len = user.size() * 2;
  m[36] = static_cast<unsigned char>(len);
  const uint32_t offset = 72 + offset_shift;
  std::memcpy(&m[40], &offset, 4);
  m[60] = 0x01;  // Unicode
  for (char16_t c : user) {
    m.push_back(static_cast<unsigned char>(c & 0xFF));
    m.push_back(static_cast<unsigned char>(c >> 8));
  }
  const unsigned char wrap[4] = {0x60, 0x82, 0x01, 0x00};  // some SPNEGO wrapping before it
  m.insert(m.begin(), wrap, wrap + 4);
  return m;
}

}  // namespace qvx::test
