// RELP, the acknowledged syslog transport of rsyslog (imrelp): each frame is
// "TXNR SP COMMAND SP DATALEN [SP DATA] LF". The client opens with "open" (its offers), sends
// each record as "syslog", and the collector answers every frame with "rsp" carrying the same
// transaction number and "200 OK" once it has taken the record; "serverclose" says it is going.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvx {

// Transaction numbers run 1..999999999 and then start at 1 again.
constexpr uint32_t kRelpTxnrMax = 999999999;

std::string QVX_RelpFrame(uint32_t txnr, std::string_view command, std::string_view data);

// The offers of our "open": protocol version 0, the one command we use.
std::string QVX_RelpOpenOffers();

struct RelpFrame {
  uint32_t txnr = 0;
  std::string command;
  std::string data;
  // An answer ("rsp") that takes the frame: its data begins with the code 200.
  bool Ok() const { return command == "rsp" && data.compare(0, 3, "200") == 0; }
};

// Collects what the collector sends and cuts it into frames.
class RelpReader {
 public:
  void Feed(const char* data, size_t size) { buf_.append(data, size); }
  // 1: *out holds the next frame; 0: more bytes are needed; -1: the stream is not RELP (the
  // connection must be dropped).
  int Next(RelpFrame* out);

 private:
  std::string buf_;
};

}  // namespace qvx
