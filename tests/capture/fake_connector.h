// A capture connector that serves frames from memory and records the calls made to it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/data.h"
#include "capture/capture_connector.h"

namespace qvx::test {

struct FakeFrame {
  std::vector<unsigned char> bytes;
  unsigned long reported;  // the length the connector claims
  int rc = 0;              // receive result
};

struct FakeConnectorState {
  // Adapter list.
  std::vector<std::pair<unsigned long, std::string>> adapters;
  int enum_rc = 0;
  int open_rc = 0;
  int buffer_rc = 0;
  int filter_rc = 0;
  int close_rc = 0;
  // Frames served in order; when they run out, data->LoggingFlg is cleared (if stop_when_empty)
  // and every receive reports no frame.
  std::deque<FakeFrame> frames;
  DATA* data = nullptr;
  bool stop_when_empty = true;
  // What was asked.
  std::vector<std::string> calls;
  std::string opened;
  int buffer_size = -1;
  std::string filter;
  unsigned int mask = 0;
  int recv_calls = 0;
};

// The one fake; Install puts it in place for the life of the guard.
FakeConnectorState& Fake();
class FakeConnectorGuard {
 public:
  FakeConnectorGuard();
  ~FakeConnectorGuard();
};

// A frame: Ethernet (server MAC 02:00:00:00:00:01, client MAC 02:00:00:00:00:02), IPv4 from src
// to dst, a TCP header and payload. The IPv4 header is 20 bytes, TCP 20.
std::vector<unsigned char> MakeFrame(const char* src, const char* dst,
                                     const std::vector<unsigned char>& payload);
// NBSS + SMB1 header with the command (and padding bytes after the header).
std::vector<unsigned char> Smb1Payload(unsigned char command, size_t body = 8);
// NBSS + SMB2 header with the command.
std::vector<unsigned char> Smb2Payload(unsigned short command, size_t body = 8);

}  // namespace qvx::test
