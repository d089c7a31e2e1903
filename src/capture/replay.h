// Replay of a capture file: the whole program runs on recorded frames, with the clock at each
// frame's capture time and the server's sessions taken from smbstatus output or from the capture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_connector.h"
#include "platform/platform.h"
#include "tracking/connection_tracker.h"

namespace qvx {

// Where a replay starts: the first frame's capture time and the server (the first address that
// receives TCP 445). Reads the file only as far as that frame. False with error set when the
// file cannot be opened; a damaged file gives what was read before the damage.
struct ReplayStart {
  std::string server;
  int64_t first_us = 0;
};
bool ReplayFindStart(const std::string& path, ReplayStart* start, std::string* error);

// The platform of a replay: the clock is the capture time of the frame being handled (the first
// frame's before any), sleeps return at once, the machine's address is the file's server, and
// sessions come from sessions_file (smbstatus -j output; Linux only) or from the tracker (the
// capture's connections). No server is there to name the files its clients held open.
class ReplayPlatform : public PlatformWrapper {
 public:
  ReplayPlatform(Platform* target, ReplayStart start, const ConnectionTracker* tracker,
                 std::string sessions_file, bool shares_from_config);
  LocalTime Now() override;
  void SleepMs(int) override {}
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override;
  bool ListSessions(std::vector<ServerSession>* out) override;
  bool ListShares(std::vector<ServerShare>* out) override;
  OpenFilesSnapshot ListOpenFiles() override { return {}; }
  void AskOpenFiles() override {}

 private:
  ReplayStart start_;
  const ConnectionTracker* tracker_;
  std::string sessions_file_;
  bool shares_from_config_;
};

// The connector of a replay: one adapter, the file, carrying the configured server address;
// opening it opens the file from its start and follows every frame read into
// CaptureConnections().
const CaptureConnector& ReplayConnector(const std::string& path);

}  // namespace qvx
