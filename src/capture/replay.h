// Replay of a capture file: the whole program runs on recorded frames, with the clock at each
// frame's capture time and the server's sessions taken from smbstatus output or from the capture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_connector.h"
#include "platform/platform.h"

namespace qvx {

// The server's TCP 445 connections as a replay learns them, frame by frame while the file is
// read: the sessions at a frame are the ones the frames before it (and it) opened and did not
// close, as the server itself would list them at that moment.
class ReplayTracker {
 public:
  // One TCP connection to port 445.
  struct Connection {
    std::string server;  // address that receives TCP 445
    std::string client;
    uint16_t client_port = 0;
    int64_t opened_us = 0;   // first frame seen (capture time, microseconds)
    int64_t closed_us = -1;  // FIN or RST; -1 while open
    std::string user;        // from the NTLMSSP AUTHENTICATE message, if one was seen
    int64_t user_us = 0;     // when it was seen
  };

  ReplayTracker();
  ~ReplayTracker();
  ReplayTracker(const ReplayTracker&) = delete;
  ReplayTracker& operator=(const ReplayTracker&) = delete;

  // Takes the next frame of the file (Ethernet), in file order. Called by one thread only.
  void Observe(const unsigned char* frame, uint32_t size, int64_t time_us);
  // Forgets everything (the file is read again from its start).
  void Reset();

  // The sessions open after the frames taken so far: one per open connection to server, in the
  // order they were opened, named by its user once the log-on was seen. Any thread.
  std::vector<ServerSession> Sessions(const std::string& server, int64_t now_us) const;
  // Every connection seen so far, open or closed, in the order they were opened. Any thread.
  std::vector<Connection> Connections() const;
  // The first address that received TCP 445; empty before such a frame.
  std::string Server() const;
  uint64_t Frames() const;

 private:
  struct State;
  State* state_;
};

// Where a replay starts: the first frame's capture time and the server (the first address that
// receives TCP 445). Reads the file only as far as that frame. False with error set when the
// file cannot be opened; a damaged file gives what was read before the damage.
struct ReplayStart {
  std::string server;
  int64_t first_us = 0;
};
bool ReplayFindStart(const std::string& path, ReplayStart* start, std::string* error);

// The user name of an NTLMSSP AUTHENTICATE message somewhere in payload (UTF-8); empty when there
// is none or it does not lie inside the payload.
std::string ReplayNtlmUser(const unsigned char* payload, size_t size);

// The platform of a replay: the clock is the capture time of the frame being handled (the first
// frame's before any), sleeps return at once, the machine's address is the file's server, and
// sessions come from sessions_file (smbstatus -j output; Linux only) or from the tracker.
class ReplayPlatform : public PlatformWrapper {
 public:
  ReplayPlatform(Platform* target, ReplayStart start, const ReplayTracker* tracker,
                 std::string sessions_file, bool shares_from_config);
  LocalTime Now() override;
  void SleepMs(int) override {}
  bool LocalIPv4Addresses(std::vector<std::string>* out) override;
  bool ListSessions(std::vector<ServerSession>* out) override;
  bool ListShares(std::vector<ServerShare>* out) override;

 private:
  ReplayStart start_;
  const ReplayTracker* tracker_;
  std::string sessions_file_;
  bool shares_from_config_;
};

// The connector of a replay: one adapter, the file, carrying the configured server address;
// opening it opens the file from its start and lets tracker follow every frame read.
const CaptureConnector& ReplayConnector(const std::string& path, ReplayTracker* tracker);

}  // namespace qvx
