// The capture connector as the capture side sees it: a table of its six calls, so that tests can
// put a fake in its place and replay can run the same start-up on a file.
#pragma once

#include "connector/qvx_wpcap_con.h"

namespace qvx {

struct CaptureConnector {
  int (*EnumAdapter)(IpAddress* addrs, char (*names)[kQvxAdapterNameSize], int* count,
                     char* errbuf);
  int (*Open)(const char* name, int wait_ms, char* errbuf);
  int (*BufferSet)(int size, char* errbuf);
  int (*FilterSet)(const char* filter, unsigned int mask, char* errbuf);
  int (*Recv)(unsigned char* buf, unsigned long* len);
  int (*Close)();
  // Waiting for a frame, the drop counters and the capture clock (see qvx_wpcap_con.h).
  int (*Wait)(int ms);
  int (*Stats)(uint64_t* received, uint64_t* dropped);
  int64_t (*ClockUs)();
  // Capture time of the last frame received, in microseconds since 1970.
  int64_t (*FrameTimeUs)();
  // Whether a stop may first read what the adapter holds, and the end of the idle waits for it
  // (see qvx_wpcap_con.h). Null: the capture is closed at once (a file is read to its end anyway).
  int (*Drainable)() = nullptr;
  int (*EndWaits)() = nullptr;
  // The link type of the last frame received (see qvx_wpcap_con.h). Null: Ethernet.
  int (*LinkType)() = nullptr;
};

// The real connector (QvxWPcapCon).
extern const CaptureConnector kQvxWPcapConnector;

// The connector in use; the real one unless replaced.
const CaptureConnector& CaptureConnectorInUse();
// Replaces it (null: back to the real one) and returns the previous one. Only while no capture
// runs.
const CaptureConnector* SetCaptureConnector(const CaptureConnector* c);

}  // namespace qvx
