// Replay of a capture file: the whole program runs on recorded frames, with the clock at each
// frame's capture time and the server's sessions taken from smbstatus output or from the capture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_connector.h"
#include "platform/platform.h"

namespace qvx {

// What a first pass over a capture file learns.
struct ReplayScan {
  // One TCP connection to port 445.
  struct Connection {
    std::string server;  // address that receives TCP 445
    std::string client;
    uint16_t client_port = 0;
    int64_t opened_us = 0;   // first frame seen (capture time, microseconds)
    int64_t closed_us = -1;  // FIN or RST; -1 while open at the end of the file
    std::string user;        // from the NTLMSSP AUTHENTICATE message, if one was seen
    int64_t user_us = 0;     // when it was seen
  };
  std::string server;  // the first address that receives TCP 445
  uint64_t frames = 0;
  int64_t first_us = 0;
  std::vector<Connection> connections;
  bool damaged = false;
  std::string error;
};

// Reads the whole file. False only when it cannot be opened (error says why); a damaged record
// ends the scan with what was read and damaged set.
bool ReplayScanFile(const std::string& path, ReplayScan* scan, std::string* error);

// The user name of an NTLMSSP AUTHENTICATE message somewhere in payload (UTF-8); empty when there
// is none or it does not lie inside the payload.
std::string ReplayNtlmUser(const unsigned char* payload, size_t size);

// The sessions open at time now_us: one per connection to server that is open, named by its user.
std::vector<ServerSession> ReplaySessionsAt(const ReplayScan& scan, const std::string& server,
                                            int64_t now_us);

// The platform of a replay: the clock is the capture time of the frame being handled (the first
// frame's before any), sleeps return at once, the machine's address is the file's server, and
// sessions come from sessions_file (smbstatus -j output; Linux only) or from the capture.
class ReplayPlatform : public PlatformWrapper {
 public:
  ReplayPlatform(Platform* target, const ReplayScan* scan, std::string sessions_file,
                 bool shares_from_config);
  LocalTime Now() override;
  void SleepMs(int) override {}
  bool LocalIPv4Addresses(std::vector<std::string>* out) override;
  bool ListSessions(std::vector<ServerSession>* out) override;
  bool ListShares(std::vector<ServerShare>* out) override;

 private:
  const ReplayScan* scan_;
  std::string sessions_file_;
  bool shares_from_config_;
};

// The connector of a replay: one adapter, the file, carrying the configured server address;
// opening it opens the file.
const CaptureConnector& ReplayConnector(const std::string& path);

}  // namespace qvx
