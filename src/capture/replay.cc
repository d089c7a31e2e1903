#include "capture/replay.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/option.h"
#include "base/text.h"
#include "capture/capture_control.h"
#include "capture/capture_loop.h"
#include "connector/qvx_wpcap_con.h"
#include "platform/smbstatus.h"

namespace qvx {

namespace {

int64_t Micros(int64_t sec, long usec) { return sec * 1000000 + usec; }

// ---- the replay connector ----
std::string g_replay_path;

int ReplayEnum(IpAddress* addrs, char (*names)[kQvxAdapterNameSize], int* count, char*) {
  addrs[0] = QVX_IpTextToAddr(OptionInfo.IpAddress);
  std::snprintf(names[0], kQvxAdapterNameSize, "%s", g_replay_path.c_str());
  *count = 1;
  return 0;
}
int ReplayOpen(const char* name, int, char* errbuf) {
  // Every open reads the file from its start: the connections are followed anew with it.
  FollowCaptureConnections(true);
  return QvxWPcapConOpenFile(name, errbuf);
}
int ReplayBuffer(int, char*) { return 0; }
int ReplayClose() {
  const int rc = QvxWPcapConClose();
  FollowCaptureConnections(false);
  return rc;
}

const CaptureConnector kReplayConnector = {
    ReplayEnum,  ReplayOpen,      ReplayBuffer,        QvxWPcapFilterSet,  QvxWPcapConRecv,
    ReplayClose, QvxWPcapConWait, QvxWPcapConStats,    QvxWPcapConClockUs, QvxWPcapConFrameTimeUs,
    nullptr,     nullptr,         QvxWPcapConLinkType,
};

}  // namespace

bool ReplayFindStart(const std::string& path, ReplayStart* start, std::string* error) {
  *start = ReplayStart();
  QvxPcapFileReader reader;
  char err[kQvxErrBufSize] = {};
  if (!reader.Open(path.c_str(), err)) {
    *error = err;
    return false;
  }
  ConnectionTracker tracker;
  for (;;) {
    const unsigned char* d = nullptr;
    uint32_t n = 0;
    int64_t sec = 0;
    long usec = 0;
    if (reader.Next(&d, &n, &sec, &usec, err) <= 0) break;
    if (tracker.Frames() == 0) start->first_us = Micros(sec, usec);
    tracker.Observe(d, n, Micros(sec, usec), reader.LinkType());
    start->server = tracker.Server();
    if (!start->server.empty()) break;
  }
  uint16_t link = 0;
  const uint64_t other = reader.OtherLinkFrames(&link);
  if (tracker.Frames() == 0 && other > 0) {
    // Nothing would be replayed, and the empty log would look like a quiet server.
    *error = "its " + std::to_string(other) + " frames are of link type " + std::to_string(link) +
             ", which this program cannot read (it reads Ethernet, Linux cooked v1 and v2, BSD "
             "loopback and raw IP captures)";
    return false;
  }
  return true;
}

ReplayPlatform::ReplayPlatform(Platform* target, ReplayStart start,
                               const ConnectionTracker* tracker, std::string sessions_file,
                               bool shares_from_config)
    : PlatformWrapper(target),
      start_(std::move(start)),
      tracker_(tracker),
      sessions_file_(std::move(sessions_file)),
      shares_from_config_(shares_from_config) {}

LocalTime ReplayPlatform::Now() {
  // The time of the frame being handled: a request decided after its answer was read keeps its
  // own time.
  const int64_t handled = QVX_CaptureHandledTimeUs();
  int64_t sec = handled > 0 ? handled / 1000000 : start_.first_us / 1000000;
  // Many frames share a second: convert each second to local time once (per thread).
  thread_local int64_t cached_sec = INT64_MIN;
  thread_local LocalTime cached;
  if (sec != cached_sec) {
    cached = LocalTimeFromTimeT(sec);
    cached_sec = sec;
  }
  return cached;
}

AddressListResult ReplayPlatform::LocalIPv4Addresses(std::vector<std::string>* out) {
  out->clear();
  if (!start_.server.empty()) out->push_back(start_.server);
  return AddressListResult::kOk;
}

bool ReplayPlatform::ListSessions(std::vector<ServerSession>* out) {
  out->clear();
  int64_t sec = 0;
  long usec = 0;
  int64_t now_us = start_.first_us;
  if (QvxWPcapConLastFrameTime(&sec, &usec)) now_us = Micros(sec, usec);
  if (!sessions_file_.empty()) {
    std::string text;
    if (!target()->ReadWholeFile(sessions_file_, &text)) return false;
    return ParseSmbstatusJson(text, now_us / 1000000, out);
  }
  *out = tracker_->Sessions(OptionInfo.IpAddress, now_us);
  return true;
}

bool ReplayPlatform::ListShares(std::vector<ServerShare>* out) {
  if (!shares_from_config_) {
    out->clear();
    return true;
  }
  return target()->ListShares(out);
}

const CaptureConnector& ReplayConnector(const std::string& path) {
  g_replay_path = path;
  return kReplayConnector;
}

}  // namespace qvx
