#include "capture/replay.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "app/option.h"
#include "capture/capture_control.h"
#include "connector/qvx_wpcap_con.h"
#ifndef _WIN32
#include "platform/posix/samba.h"
#endif

namespace qvx {

namespace {

uint16_t Be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string Dotted(const unsigned char* p) {
  char t[32];
  std::snprintf(t, sizeof t, "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
  return t;
}

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf16LeToUtf8(const unsigned char* p, size_t bytes) {
  std::string out;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    uint32_t c = Le16(p + i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes) {
      uint32_t lo = Le16(p + i + 2);
      if (lo >= 0xDC00 && lo < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(&out, c);
  }
  return out;
}

// A TCP connection to port 445: server address, client address, client port.
struct ConnKey {
  uint32_t server;
  uint32_t client;
  uint16_t port;
  bool operator==(const ConnKey& o) const {
    return server == o.server && client == o.client && port == o.port;
  }
};
struct ConnKeyHash {
  size_t operator()(const ConnKey& k) const {
    uint64_t v = (static_cast<uint64_t>(k.server) << 32 | k.client) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(v ^ (v >> 29) ^ k.port);
  }
};

int64_t Micros(int64_t sec, long usec) { return sec * 1000000 + usec; }

// ---- the replay connector ----
std::string g_replay_path;

int ReplayEnum(unsigned long* addrs, char (*names)[kQvxAdapterNameSize], int* count, char*) {
  addrs[0] = QVX_IpTextToAddr(OptionInfo.IpAddress);
  std::snprintf(names[0], kQvxAdapterNameSize, "%s", g_replay_path.c_str());
  *count = 1;
  return 0;
}
int ReplayOpen(const char* name, int, char* errbuf) { return QvxWPcapConOpenFile(name, errbuf); }
int ReplayBuffer(int, char*) { return 0; }

const CaptureConnector kReplayConnector = {
    ReplayEnum, ReplayOpen, ReplayBuffer, QvxWPcapFilterSet, QvxWPcapConRecv, QvxWPcapConClose,
};

}  // namespace

std::string ReplayNtlmUser(const unsigned char* payload, size_t size) {
  static const unsigned char kSig[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
  for (size_t i = 0; i + 64 <= size; ++i) {
    if (std::memcmp(payload + i, kSig, 8) != 0) continue;
    const unsigned char* m = payload + i;
    if (Le32(m + 8) != 3) continue;  // AUTHENTICATE
    const size_t len = Le16(m + 36);
    const size_t off = Le32(m + 40);
    const bool unicode = (Le32(m + 60) & 0x1) != 0;
    if (off > size - i || len > size - i - off) return std::string();
    return unicode ? Utf16LeToUtf8(m + off, len)
                   : std::string(reinterpret_cast<const char*>(m + off), len);
  }
  return std::string();
}

bool ReplayScanFile(const std::string& path, ReplayScan* scan, std::string* error) {
  *scan = ReplayScan();
  QvxPcapFileReader reader;
  char err[kQvxErrBufSize] = {};
  if (!reader.Open(path.c_str(), err)) {
    *error = err;
    return false;
  }
  // Connections by server address, client address and client port: index into
  // scan->connections. Keyed by the raw values, so that a frame of a known connection costs no
  // text.
  std::unordered_map<ConnKey, size_t, ConnKeyHash> open;
  std::unordered_map<uint32_t, std::string> texts;  // dotted text of each address seen
  auto text = [&texts](const unsigned char* p) -> const std::string& {
    uint32_t v;
    std::memcpy(&v, p, 4);
    auto it = texts.find(v);
    if (it == texts.end()) it = texts.emplace(v, Dotted(p)).first;
    return it->second;
  };
  for (;;) {
    const unsigned char* d = nullptr;
    uint32_t n = 0;
    int64_t sec = 0;
    long usec = 0;
    int rc = reader.Next(&d, &n, &sec, &usec, err);
    if (rc == 0) break;
    if (rc < 0) {
      scan->damaged = true;
      scan->error = err;
      break;
    }
    const int64_t t = Micros(sec, usec);
    if (scan->frames++ == 0) scan->first_us = t;
    // Ethernet II, IPv4, TCP.
    if (n < 14 + 20 || Be16(d + 12) != 0x0800) continue;
    const unsigned char* ip = d + 14;
    const size_t ihl = static_cast<size_t>(ip[0] & 0x0F) * 4;
    if ((ip[0] >> 4) != 4 || ihl < 20 || ip[9] != 6) continue;
    size_t ip_end = 14 + static_cast<size_t>(Be16(ip + 2));
    if (ip_end > n) ip_end = n;
    if (14 + ihl + 20 > ip_end) continue;
    const unsigned char* tcp = ip + ihl;
    const uint16_t sport = Be16(tcp);
    const uint16_t dport = Be16(tcp + 2);
    const size_t thl = static_cast<size_t>(tcp[12] >> 4) * 4;
    const unsigned char flags = tcp[13];
    if (dport != 445 && sport != 445) continue;
    const bool toward = dport == 445;
    const unsigned char* server = toward ? ip + 16 : ip + 12;
    const unsigned char* client = toward ? ip + 12 : ip + 16;
    const uint16_t cport = toward ? sport : dport;
    if (toward && scan->server.empty()) scan->server = text(server);

    ConnKey key{0, 0, cport};
    std::memcpy(&key.server, server, 4);
    std::memcpy(&key.client, client, 4);
    auto it = open.find(key);
    const bool closing = (flags & 0x05) != 0;  // FIN or RST
    const bool syn = (flags & 0x12) == 0x02;   // SYN without ACK: a new connection
    if (it != open.end() && scan->connections[it->second].closed_us >= 0) {
      // After FIN or RST only a new SYN opens the same addresses and port again.
      if (!syn) continue;
      open.erase(it);
      it = open.end();
    }
    if (it == open.end()) {
      if (closing) continue;  // the tail of a connection that ended before the recording
      ReplayScan::Connection c;
      c.server = text(server);
      c.client = text(client);
      c.client_port = cport;
      c.opened_us = t;
      scan->connections.push_back(c);
      it = open.emplace(key, scan->connections.size() - 1).first;
    }
    ReplayScan::Connection& c = scan->connections[it->second];
    if (toward && 14 + ihl + thl < ip_end) {
      const size_t off = 14 + ihl + thl;
      std::string user = ReplayNtlmUser(d + off, ip_end - off);
      if (!user.empty()) {
        c.user = user;
        c.user_us = t;
      }
    }
    if (closing && c.closed_us < 0) c.closed_us = t;
  }
  return true;
}

std::vector<ServerSession> ReplaySessionsAt(const ReplayScan& scan, const std::string& server,
                                            int64_t now_us) {
  std::vector<ServerSession> out;
  for (const auto& c : scan.connections) {
    if (c.server != server || c.opened_us > now_us) continue;
    if (c.closed_us >= 0 && c.closed_us <= now_us) continue;
    ServerSession s;
    s.client = c.client;
    if (!c.user.empty() && c.user_us <= now_us) s.user = c.user;
    s.time_sec = static_cast<unsigned long>((now_us - c.opened_us) / 1000000);
    s.idle_sec = 0;
    out.push_back(s);
  }
  return out;
}

ReplayPlatform::ReplayPlatform(Platform* target, const ReplayScan* scan, std::string sessions_file,
                               bool shares_from_config)
    : PlatformWrapper(target),
      scan_(scan),
      sessions_file_(std::move(sessions_file)),
      shares_from_config_(shares_from_config) {}

LocalTime ReplayPlatform::Now() {
  int64_t sec = 0;
  long usec = 0;
  if (!QvxWPcapConLastFrameTime(&sec, &usec)) sec = scan_->first_us / 1000000;
  // Many frames share a second: convert each second to local time once (per thread).
  thread_local int64_t cached_sec = INT64_MIN;
  thread_local LocalTime cached;
  if (sec != cached_sec) {
    cached = LocalTimeFromTimeT(sec);
    cached_sec = sec;
  }
  return cached;
}

bool ReplayPlatform::LocalIPv4Addresses(std::vector<std::string>* out) {
  out->clear();
  if (!scan_->server.empty()) out->push_back(scan_->server);
  return true;
}

bool ReplayPlatform::ListSessions(std::vector<ServerSession>* out) {
  out->clear();
  int64_t sec = 0;
  long usec = 0;
  int64_t now_us = scan_->first_us;
  if (QvxWPcapConLastFrameTime(&sec, &usec)) now_us = Micros(sec, usec);
  if (!sessions_file_.empty()) {
#ifndef _WIN32
    std::string text;
    if (!target()->ReadWholeFile(sessions_file_, &text)) return false;
    return ParseSmbstatusJson(text, now_us / 1000000, out);
#else
    return false;  // smbstatus output is read by the Samba backend, which Windows lacks
#endif
  }
  *out = ReplaySessionsAt(*scan_, OptionInfo.IpAddress, now_us);
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
