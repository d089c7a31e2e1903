// SMB1 frames as the capture loop hands them to a handler: IPv4 + TCP + NetBIOS length + the
// 32-byte SMB header + the parameter block from its WordCount byte on.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "smb2/handler_fixture.h"

namespace qvx::test {

struct Smb1Ids {
  uint16_t tid = 2049;
  uint16_t pid = 0xFEFF;
  uint16_t uid = 100;
  uint16_t mid = 3;
};

// A request from client:port to the server, or with response the answer back to it.
inline Frame Smb1(uint8_t command, const Smb1Ids& ids, const std::vector<unsigned char>& body,
                  bool response = false, const char* client = kClient, int port = kClientPort) {
  Frame fr;
  fr.bytes = response ? IpTcp(kServer, client, 445, port) : IpTcp(client, kServer, port, 445);
  fr.ends = Ends(client, port);
  const size_t h = fr.bytes.size();
  fr.bytes.resize(h + 32, 0);
  fr.bytes[h] = 0xFF, fr.bytes[h + 1] = 'S', fr.bytes[h + 2] = 'M', fr.bytes[h + 3] = 'B';
  fr.bytes[h + 4] = command;
  if (response) fr.bytes[h + 9] = 0x80;
  Put16(fr.bytes, h + 10, 0xC807);  // Unicode, NT status, long names
  Put16(fr.bytes, h + 24, ids.tid);
  Put16(fr.bytes, h + 26, ids.pid);
  Put16(fr.bytes, h + 28, ids.uid);
  Put16(fr.bytes, h + 30, ids.mid);
  std::memcpy(&fr.smb1, fr.bytes.data() + h, 32);
  fr.bytes.insert(fr.bytes.end(), body.begin(), body.end());
  fr.Len = fr.bytes.size();
  fr.cursor = static_cast<long>(h + 32 + 1);
  return fr;
}

inline Frame Smb1(uint8_t command, uint16_t tid, uint16_t uid,
                  const std::vector<unsigned char>& body) {
  Smb1Ids ids;
  ids.tid = tid;
  ids.uid = uid;
  return Smb1(command, ids, body);
}

// An SMB1 message as a capture holds it (the hex of its header and what follows, the NetBIOS
// session header left out), sent by the client or, with response, by the server.
inline Frame Captured(const std::string& hex, bool response = false) {
  Frame fr;
  fr.bytes = response ? IpTcp(kServer, kClient, 445, kClientPort)
                      : IpTcp(kClient, kServer, kClientPort, 445);
  fr.ends = Ends();
  const size_t h = fr.bytes.size();
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    fr.bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  std::memcpy(&fr.smb1, fr.bytes.data() + h, 32);
  fr.Len = fr.bytes.size();
  fr.cursor = static_cast<long>(h + 32 + 1);
  return fr;
}

// The frame as a client that sends OEM strings has it: Flags2 without SMB_FLAGS2_UNICODE.
inline Frame Oem(Frame f) {
  const size_t flags2 = static_cast<size_t>(f.cursor) - 1 - 32 + 10;
  f.bytes[flags2 + 1] &= 0x7F;
  f.smb1.Flags2 &= 0x7FFF;
  return f;
}

// The frame cut after its first len bytes, with nothing of the rest left in memory (an over-read
// then leaves the buffer, which the address sanitizer reports).
inline Frame Cut(Frame f, unsigned long len) {
  f.Len = len;
  f.bytes.resize(len);
  f.bytes.shrink_to_fit();
  return f;
}

// The handler fixture with SMB1 frames, and a log-on of the client bound to a UID.
class Smb1HandlerTest : public HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    data.SMBVersion = 1;
  }
  void BoundSession(int row, uint16_t uid, const char* user) {
    SessionSetupSt& s = SessionSetup[row];
    s.Flg = kSlotBound;
    s.Uid = uid;
    std::snprintf(s.src_addr, sizeof s.src_addr, "%s", kClient);
    std::snprintf(s.Login_Name, sizeof s.Login_Name, "%s", user);
  }
};

}  // namespace qvx::test
