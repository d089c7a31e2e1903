#include "connector/capture_file.h"

#include <cstring>

#include "platform/platform.h"
#include "wire/frame.h"

namespace qvx {

namespace {
constexpr uint32_t kPcapMagicMicro = 0xA1B2C3D4u;
constexpr uint32_t kPcapMagicNano = 0xA1B23C4Du;
constexpr uint32_t kPcapngSection = 0x0A0D0D0Au;
constexpr uint32_t kPcapngByteOrder = 0x1A2B3C4Du;
// Larger records are not frames of any adapter; refusing them keeps a damaged length from
// allocating gigabytes.
constexpr uint32_t kMaxRecord = 256 * 1024;

uint32_t Swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// A stamp of `units` per second as seconds and microseconds. A damaged or scrambled stamp gives
// the last second a calendar can show, never one whose count of microseconds overflows.
void SplitStamp(uint64_t ts, uint64_t units, int64_t* sec, long* usec) {
  uint64_t s = ts / units;
  uint64_t us = static_cast<uint64_t>(static_cast<unsigned __int128>(ts % units) * 1000000 / units);
  if (s > static_cast<uint64_t>(kMaxFrameSecond)) {
    s = static_cast<uint64_t>(kMaxFrameSecond);
    us = 999999;
  }
  *sec = static_cast<int64_t>(s);
  *usec = static_cast<long>(us);
}
}  // namespace

CaptureFileReader::~CaptureFileReader() = default;

// The records are read through a window of the file that is refilled with large reads straight
// from the file (no stream buffer between): a frame is then looked at where it lies, and the
// window stays small enough to be in the cache when the frame is used.
const unsigned char* CaptureFileReader::Peek(size_t n) {
  if (win_len_ - win_pos_ >= n) return win_.get() + win_pos_;
  if (win_size_ < n + kWindow) {
    // Grows (for a record larger than the window) without zero-filling what the file overwrites.
    auto bigger = std::make_unique_for_overwrite<unsigned char[]>(n + kWindow);
    if (win_) std::memcpy(bigger.get(), win_.get() + win_pos_, win_len_ - win_pos_);
    win_ = std::move(bigger);
    win_size_ = n + kWindow;
  } else {
    std::memmove(win_.get(), win_.get() + win_pos_, win_len_ - win_pos_);
  }
  win_len_ -= win_pos_;
  win_pos_ = 0;
  while (win_len_ < n && !eof_) {
    const size_t got = f_->Read(win_.get() + win_len_, win_size_ - win_len_);
    if (got == 0) eof_ = true;
    win_len_ += got;
  }
  return win_len_ >= n ? win_.get() : nullptr;
}

size_t CaptureFileReader::ReadSome(void* buf, size_t n) {
  if (Peek(n) == nullptr) n = win_len_ - win_pos_;
  std::memcpy(buf, win_.get() + win_pos_, n);
  win_pos_ += n;
  return n;
}

bool CaptureFileReader::ReadExact(void* buf, size_t n) { return ReadSome(buf, n) == n; }

uint32_t CaptureFileReader::U32(const unsigned char* p) const {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return swapped_ ? Swap32(v) : v;
}

uint16_t CaptureFileReader::U16(const unsigned char* p) const {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return swapped_ ? static_cast<uint16_t>(v >> 8 | v << 8) : v;
}

bool CaptureFileReader::Open(const char* path, std::string* error) {
  // Looked at before it is opened: opening a FIFO waits for a writer, for ever if none comes. The
  // real file system is asked (not a platform swapped in for a test or a replay): fopen reads it.
  FileInfo info;
  if (NativePlatform().GetFileInfo(path, &info).ok() && info.kind != FileKind::kRegular) {
    *error = std::string(path) + ": not a regular file (" +
             (info.kind == FileKind::kDirectory ? "a directory"
              : info.kind == FileKind::kFifo    ? "a FIFO"
              : info.kind == FileKind::kDevice  ? "a device"
                                                : "a special file") +
             ")";
    return false;
  }
  std::string why;
  f_ = StdioFile::Open(path, "rb", &why);
  if (!f_) {
    *error = std::string(path) + ": cannot open the file (" + why + ")";
    return false;
  }
  // The window is the buffer: reads go from the file into it directly.
  f_->Unbuffered();
  unsigned char head[24];
  if (!ReadExact(head, 8)) {
    *error = std::string(path) + ": not a capture file (too short)";
    return false;
  }
  uint32_t magic;
  std::memcpy(&magic, head, 4);
  if (magic == kPcapngSection) {
    pcapng_ = true;
    if (!ReadSectionHeader(head, error)) {
      *error = std::string(path) + ": " + *error;
      return false;
    }
    return true;
  }
  if (magic == kPcapMagicMicro || magic == kPcapMagicNano) {
    swapped_ = false;
  } else if (Swap32(magic) == kPcapMagicMicro || Swap32(magic) == kPcapMagicNano) {
    swapped_ = true;
  } else {
    *error = std::string(path) + ": not a pcap or pcapng capture file";
    return false;
  }
  nanos_ = (swapped_ ? Swap32(magic) : magic) == kPcapMagicNano;
  if (!ReadExact(head + 8, 16)) {
    *error = std::string(path) + ": truncated file header";
    return false;
  }
  // The upper bits tell of frame check sequences, not of the link.
  link_type_ = static_cast<int>(U32(head + 20) & 0x0FFFFFFFu);
  if (wire::LinkTypeName(link_type_) == nullptr) {
    *error = std::string(path) + ": its frames are of link type " + std::to_string(link_type_) +
             ", which this program cannot read (it reads Ethernet, Linux cooked v1 and v2, BSD "
             "loopback and raw IP captures)";
    return false;
  }
  return true;
}

// The section header's first 8 bytes are read; checks its byte order and skips the rest.
bool CaptureFileReader::ReadSectionHeader(const unsigned char* first8, std::string* error) {
  unsigned char bom[4];
  if (!ReadExact(bom, 4)) {
    *error = "truncated section header";
    return false;
  }
  uint32_t order;
  std::memcpy(&order, bom, 4);
  if (order == kPcapngByteOrder) {
    swapped_ = false;
  } else if (Swap32(order) == kPcapngByteOrder) {
    swapped_ = true;
  } else {
    *error = "bad pcapng byte-order magic";
    return false;
  }
  const uint32_t len = U32(first8 + 4);
  if (len < 28 || len > kMaxRecord || len % 4 != 0) {
    *error = "bad pcapng section header length";
    return false;
  }
  // The rest of the block (options and the trailing length) is skipped.
  if (Peek(len - 12) == nullptr) {
    win_pos_ = win_len_;
    *error = "truncated section header";
    return false;
  }
  win_pos_ += len - 12;
  interfaces_.clear();
  return true;
}

int CaptureFileReader::Next(const unsigned char** data, uint32_t* caplen, int64_t* sec, long* usec,
                            std::string* error) {
  if (!f_) return 0;
  return pcapng_ ? NextPcapng(data, caplen, sec, usec, error)
                 : NextPcap(data, caplen, sec, usec, error);
}

int CaptureFileReader::NextPcap(const unsigned char** data, uint32_t* caplen, int64_t* sec,
                                long* usec, std::string* error) {
  const unsigned char* h = Peek(16);
  if (h == nullptr) {
    const size_t got = win_len_ - win_pos_;
    if (got == 0) return 0;
    *error = "truncated dump file; tried to read 16 header bytes, only got " + std::to_string(got);
    win_pos_ = win_len_;
    return -1;
  }
  const uint32_t n = U32(h + 8);
  if (n > kMaxRecord) {
    *error = "bogus record length " + std::to_string(n);
    return -1;
  }
  const unsigned char* r = Peek(16 + static_cast<size_t>(n));
  if (r == nullptr) {
    const size_t got = win_len_ - win_pos_ - 16;
    *error = "truncated dump file; tried to read " + std::to_string(n) +
             " captured bytes, only got " + std::to_string(got);
    win_pos_ = win_len_;
    return -1;
  }
  // In place: the frame stays where it is until the next call moves the window.
  win_pos_ += 16 + static_cast<size_t>(n);
  *data = r + 16;
  *caplen = n;
  // The fraction may be scrambled beyond a second; it then carries into the seconds.
  const uint64_t units = nanos_ ? 1000000000u : 1000000u;
  SplitStamp(U32(r) * units + U32(r + 4), units, sec, usec);
  return 1;
}

int CaptureFileReader::NextPcapng(const unsigned char** data, uint32_t* caplen, int64_t* sec,
                                  long* usec, std::string* error) {
  for (;;) {
    unsigned char h[8];
    size_t got = ReadSome(h, sizeof h);
    if (got == 0) return 0;
    if (got < sizeof h) {
      *error = "truncated pcapng block header";
      return -1;
    }
    uint32_t type;
    std::memcpy(&type, h, 4);
    if (type == kPcapngSection) {
      if (!ReadSectionHeader(h, error)) return -1;
      continue;
    }
    type = U32(h);
    const uint32_t len = U32(h + 4);
    if (len < 12 || len > kMaxRecord || len % 4 != 0) {
      *error = "bogus pcapng block length " + std::to_string(len);
      return -1;
    }
    // In place, like a pcap record: valid until the next call moves the window.
    const unsigned char* b = Peek(len - 8);
    if (b == nullptr) {
      got = win_len_ - win_pos_;
      win_pos_ = win_len_;
      *error = "truncated pcapng block; tried to read " + std::to_string(len) +
               " bytes, only got " + std::to_string(got + 8);
      return -1;
    }
    win_pos_ += len - 8;
    const size_t body = len - 8 - 4;  // without the trailing length
    if (type == 1) {                  // interface description
      if (body < 8) {
        *error = "short interface description block";
        return -1;
      }
      uint64_t units = 1000000;
      // Options: look for if_tsresol (9).
      for (size_t o = 8; o + 4 <= body;) {
        const uint16_t code = U16(b + o);
        const uint16_t olen = U16(b + o + 2);
        if (code == 0) break;
        if (code == 9 && olen >= 1 && o + 4 < body) {
          // A power of 10, or of 2 with the top bit; held to what 64 bits can count.
          const unsigned char r = b[o + 4];
          const int exponent = r & 0x7F;
          const int most = (r & 0x80) ? 63 : 19;
          units = 1;
          for (int i = 0; i < exponent && i < most; ++i) units *= (r & 0x80) ? 2 : 10;
        }
        o += 4 + ((olen + 3u) & ~3u);
      }
      interfaces_.emplace_back(U16(b), units);
      continue;
    }
    if (type == 6) {  // enhanced packet
      if (body < 20) {
        *error = "short enhanced packet block";
        return -1;
      }
      const uint32_t ifc = U32(b);
      const uint32_t n = U32(b + 12);
      if (ifc >= interfaces_.size() || n > body - 20) {
        *error = "enhanced packet block of an unknown interface or with a bad length";
        return -1;
      }
      if (wire::LinkTypeName(interfaces_[ifc].first) == nullptr) {
        ++other_link_frames_;
        other_link_type_ = interfaces_[ifc].first;
        continue;
      }
      link_type_ = interfaces_[ifc].first;
      const uint64_t ts = static_cast<uint64_t>(U32(b + 4)) << 32 | U32(b + 8);
      SplitStamp(ts, interfaces_[ifc].second, sec, usec);
      *data = b + 20;
      *caplen = n;
      return 1;
    }
    if (type == 3) {  // simple packet: no time stamp
      if (body < 4 || interfaces_.empty()) continue;
      if (wire::LinkTypeName(interfaces_[0].first) == nullptr) {
        ++other_link_frames_;
        other_link_type_ = interfaces_[0].first;
        continue;
      }
      link_type_ = interfaces_[0].first;
      *sec = 0;
      *usec = 0;
      *data = b + 4;
      *caplen = static_cast<uint32_t>(body - 4);
      return 1;
    }
    // Any other block (statistics, name resolution, custom) carries no frame.
  }
}

}  // namespace qvx
