// QvxWPcapCon: the capture connector. Delivers raw frames (Ethernet, Linux cooked, loopback or
// raw IP, as the link type says) from one adapter (or from a capture file, for replay). It holds
// one open capture at a time; every call acts on it.
//
// Linux: libpcap. Windows: wpcap.dll (Npcap, or Wine's own) loaded at run time, so the program
// builds without a capture SDK and starts without one installed.
#pragma once

#include <cstdint>

#include "base/ip_address.h"

namespace qvx {

// Each address of an adapter is an entry: with IPv6 an adapter often carries three or more.
inline constexpr int kQvxAdapterMax = 32;
inline constexpr int kQvxAdapterNameSize = 1024;
inline constexpr int kQvxErrBufSize = 256;
inline constexpr int kQvxFrameBufSize = 65535;
// The kernel buffer when none is configured: a burst of opens at full speed must fit while the
// capture thread catches up (libpcap's own default is 2 MB, Npcap's 1 MB).
inline constexpr int kQvxDefaultBufferBytes = 64 << 20;

// Fills up to kQvxAdapterMax adapters that carry an IPv4 or IPv6 address: the address and the name
// to open. An adapter with several addresses is listed once per address, its IPv4 ones first.
// -1 with errbuf set on failure.
int QvxWPcapConEnumAdapter(IpAddress* addrs, char (*names)[kQvxAdapterNameSize], int* count,
                           char* errbuf);
// Opens the adapter with kQvxDefaultBufferBytes of kernel buffer; a receive then waits at most
// wait_ms for a frame. -1 on failure.
int QvxWPcapConOpen(const char* name, int wait_ms, char* errbuf);
// Kernel buffer in bytes. -1 on failure.
int QvxWPcapBufferSet(int size, char* errbuf);
// Compiles and installs a filter (libpcap syntax); mask is the netmask for broadcast tests.
int QvxWPcapFilterSet(const char* filter, unsigned int mask, char* errbuf);
// 0 with *len 0 when no frame came within the wait, 0 with one frame (at most 65535 bytes, *len =
// bytes captured) otherwise. -1 at once when nothing is open (after a close).
int QvxWPcapConRecv(unsigned char* buf, unsigned long* len);
// Closes the open capture; safe while another thread is inside QvxWPcapConRecv or
// QvxWPcapConWait, which it ends at once. -1 when there was nothing to close.
int QvxWPcapConClose();
// Waits until a frame may be ready, at most ms: 1 when one may be, 0 when the time ran out, -1
// when nothing is open or the capture was closed meanwhile.
int QvxWPcapConWait(int ms);
// 1 while a live adapter is open whose receive returns at once when no frame is waiting (libpcap;
// Npcap): what it holds at a stop can be read before the close. 0 otherwise (nothing open, a
// capture file, a receive that may block as Wine's wpcap can).
int QvxWPcapConDrainable();
// Ends every wait on the adapter now and makes later ones return at once, until the close: a
// stop is coming. -1 when no adapter is open.
int QvxWPcapConEndWaits();
// Frames the capture library received and dropped (its buffer was full) since the open. -1 when
// it keeps no such counts (a capture file).
int QvxWPcapConStats(uint64_t* received, uint64_t* dropped);
// The capture clock in microseconds since 1970: the time of the last frame read from a file, or
// the current time on an adapter (the time base of live frames).
int64_t QvxWPcapConClockUs();
// Capture time of the last frame delivered (microseconds since 1970), 0 before any.
int64_t QvxWPcapConFrameTimeUs();
// The link type of the last frame delivered (a pcapng file may hold several); before any, that of
// the open adapter, or Ethernet.
int QvxWPcapConLinkType();

// ---- replay ----

// Opens a capture file (pcap or pcapng) in place of an adapter. -1 on failure, also for a link
// type the frame decoder does not read.
int QvxWPcapConOpenFile(const char* path, char* errbuf);

enum QvxFileState : int {
  kQvxFileNone = 0,     // no file open (live capture or nothing)
  kQvxFileReading = 1,  // frames left
  kQvxFileEnd = 2,      // every frame was delivered
  kQvxFileDamaged = 3,  // the file ended in a damaged or truncated record
};
// State of the open file; with kQvxFileDamaged, errbuf (may be null) gets the reason.
int QvxWPcapConFileState(char* errbuf);
// Frames delivered since the last open, and the capture time of the last one.
uint64_t QvxWPcapConFrameCount();
bool QvxWPcapConLastFrameTime(int64_t* sec, long* usec);
// Sees every frame on the receiving thread just before it is delivered: every record of an open
// file, in file order and before the filter; every frame of a live capture the adapter's filter
// passed. Null removes it; it stays set across opens.
using QvxFrameObserver = void (*)(void* ctx, int link_type, const unsigned char* frame,
                                  uint32_t caplen, int64_t sec, long usec);
void QvxWPcapConSetFrameObserver(QvxFrameObserver observer, void* ctx);

// A capture file read frame by frame, independently of the open capture (for scanning a file
// before it is replayed).
class QvxPcapFileReader {
 public:
  QvxPcapFileReader() = default;
  ~QvxPcapFileReader();
  QvxPcapFileReader(const QvxPcapFileReader&) = delete;
  QvxPcapFileReader& operator=(const QvxPcapFileReader&) = delete;

  bool Open(const char* path, char* errbuf);
  // 1 a frame (data valid until the next call), 0 end of file, -1 damaged (errbuf set).
  int Next(const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec, char* errbuf);
  // The link type of the last frame given.
  int LinkType() const;
  // Frames passed over as of a link type the frame decoder does not read, and the link type of
  // the last of them.
  uint64_t OtherLinkFrames(uint16_t* link_type) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace qvx
