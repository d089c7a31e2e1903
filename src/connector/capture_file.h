// A reader of capture files (pcap and pcapng, of the link types the frame decoder reads) that needs
// no capture library: the Windows connector replays files with it, since wpcap.dll cannot be relied
// on for files (Wine's has no pcap_open_offline, and replay should not need Npcap installed).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/stdio_file.h"

namespace qvx {

// The latest frame time a reader gives (9999-12-31 23:59:59 UTC): later stamps are damaged, and
// a time in microseconds stays far from overflowing.
inline constexpr int64_t kMaxFrameSecond = 253402300799;

class CaptureFileReader {
 public:
  CaptureFileReader() = default;
  ~CaptureFileReader();
  CaptureFileReader(const CaptureFileReader&) = delete;
  CaptureFileReader& operator=(const CaptureFileReader&) = delete;

  // False with error set when the file cannot be read or its link type is none the frame decoder
  // reads (the error names it).
  bool Open(const char* path, std::string* error);
  // 1 a frame (valid until the next call), 0 end of file, -1 damaged or truncated (error set).
  // The time is 0 to kMaxFrameSecond seconds and 0 to 999999 microseconds.
  int Next(const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec,
           std::string* error);
  // The link type of the last frame given.
  int link_type() const { return link_type_; }
  // Frames of a pcapng interface of a link type the frame decoder does not read, passed over so
  // far, and the link type of the last of them.
  uint64_t other_link_frames() const { return other_link_frames_; }
  uint16_t other_link_type() const { return other_link_type_; }

 private:
  // The next n bytes of the file, in the window (valid until the next read); null when the file
  // ends before them.
  const unsigned char* Peek(size_t n);
  bool ReadExact(void* buf, size_t n);
  size_t ReadSome(void* buf, size_t n);
  uint32_t U32(const unsigned char* p) const;
  uint16_t U16(const unsigned char* p) const;
  int NextPcap(const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec,
               std::string* error);
  int NextPcapng(const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec,
                 std::string* error);
  bool ReadSectionHeader(const unsigned char* first8, std::string* error);

  // Large enough for many frames, small enough to stay in the cache.
  static constexpr size_t kWindow = 256 * 1024;
  std::unique_ptr<StdioFile> f_;
  std::unique_ptr<unsigned char[]> win_;
  size_t win_size_ = 0;
  size_t win_pos_ = 0;  // next unread byte
  size_t win_len_ = 0;  // bytes held
  bool eof_ = false;
  bool pcapng_ = false;
  bool swapped_ = false;
  bool nanos_ = false;  // pcap: nanosecond time stamps
  // pcapng: per interface, link type and time-stamp units per second.
  std::vector<std::pair<uint16_t, uint64_t>> interfaces_;
  int link_type_ = 1;
  uint64_t other_link_frames_ = 0;
  uint16_t other_link_type_ = 0;
};

}  // namespace qvx
