// A capture connector that serves frames from memory and records the calls made to it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "base/data.h"
#include "capture/capture_connector.h"

namespace qvx::test {

struct FakeFrame {
  std::vector<unsigned char> bytes;
  unsigned long reported;  // the length the connector claims
  int rc = 0;              // receive result
  int64_t time_us = 0;     // capture time
};

struct FakeConnectorState {
  // Adapter list.
  std::vector<std::pair<IpAddress, std::string>> adapters;
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
  int wait_calls = 0;
  // The capture clock: the last frame's time unless a test moves it on.
  int64_t clock_us = 0;
  int64_t frame_us = 0;  // the last frame's
  // While idle, each wait moves the clock on by idle_step_us; once the frames are gone, the
  // run stops (stop_when_empty) when the clock has reached stop_at_us.
  int64_t idle_step_us = 0;
  int64_t stop_at_us = 0;
  std::vector<int> waits;  // the time each wait was asked for
  // A stop may read what is queued first (Drainable answers drainable), as on a live adapter;
  // after the close every receive fails. Each frame served takes frame_ms of real time to come.
  int drainable = 0;
  int wait_ends = 0;  // EndWaits calls
  bool closed = false;
  int frame_ms = 0;
  // Drop counters; stats_rc -1 means the connector keeps none.
  int stats_rc = 0;
  uint64_t received = 0;
  uint64_t dropped = 0;
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
// The TCP ports are those of a client (sport) talking to port 445, unless given. Frames made one
// after the other follow each other in their TCP stream (sequence numbers count the payloads);
// each FakeConnectorGuard starts the count again.
std::vector<unsigned char> MakeFrame(const char* src, const char* dst,
                                     const std::vector<unsigned char>& payload,
                                     uint16_t sport = 0xC000, uint16_t dport = 445);
void ResetFrameSequences();
// NBSS + SMB1 header with the command (and padding bytes after the header), MID and PIDLow.
std::vector<unsigned char> Smb1Payload(unsigned char command, size_t body = 8, uint16_t mid = 0,
                                       uint16_t pid = 0);
// NBSS + SMB2 header with the command, MessageId and Status.
std::vector<unsigned char> Smb2Payload(unsigned short command, size_t body = 8,
                                       uint64_t message_id = 0, uint32_t status = 0);

}  // namespace qvx::test
