#include "tracking/connection_tracker.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "base/text.h"
#include "connector/qvx_wpcap_con.h"
#include "wire/frame.h"
#include "wire/le.h"

namespace qvx {

namespace {

using wire::LoadLe16;
using wire::LoadLe32;

// A TCP connection to port 445 or 139: server address, client address, client port.
struct ConnKey {
  IpAddress server;
  IpAddress client;
  uint16_t port;
  bool operator==(const ConnKey& o) const {
    return server == o.server && client == o.client && port == o.port;
  }
};
struct ConnKeyHash {
  size_t operator()(const ConnKey& k) const {
    const uint64_t v = (k.server.Hash() ^ (k.client.Hash() * 0x9E3779B97F4A7C15ull));
    return static_cast<size_t>(v ^ (v >> 29) ^ k.port);
  }
};
struct IpHash {
  size_t operator()(const IpAddress& a) const { return static_cast<size_t>(a.Hash()); }
};

bool SmbPort(uint16_t port) { return port == 445 || port == 139; }

// Whether a TCP payload toward the server starts an SMB1 or SMB2 session set-up request (after
// the 4-byte session header). Only there is a log-on taken: file data written to the server may
// hold anything, a forged AUTHENTICATE message included.
bool IsSessionSetupRequest(const unsigned char* p, size_t n) {
  if (n < 4 + 32 || p[0] != 0 || p[5] != 'S' || p[6] != 'M' || p[7] != 'B') return false;
  if (p[4] == 0xFF) return p[8] == 0x73;                        // SESSION_SETUP_ANDX
  return p[4] == 0xFE && n >= 4 + 64 && LoadLe16(p + 16) == 1;  // SESSION_SETUP
}

void ObserveFrame(void* ctx, int link_type, const unsigned char* frame, uint32_t size, int64_t sec,
                  long usec) {
  static_cast<ConnectionTracker*>(ctx)->Observe(frame, size, sec * 1000000 + usec, link_type);
}

}  // namespace

std::string NtlmAuthenticateUser(const unsigned char* payload, size_t size) {
  static const unsigned char kSig[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
  for (size_t i = 0; i + 64 <= size; ++i) {
    // Every frame toward the server passes here: find the signature's first byte fast.
    const void* at = std::memchr(payload + i, 'N', size - 64 + 1 - i);
    if (at == nullptr) break;
    i = static_cast<size_t>(static_cast<const unsigned char*>(at) - payload);
    if (std::memcmp(payload + i, kSig, 8) != 0) continue;
    const unsigned char* m = payload + i;
    if (LoadLe32(m + 8) != 3) continue;  // AUTHENTICATE
    const size_t len = LoadLe16(m + 36);
    const size_t off = LoadLe32(m + 40);
    const bool unicode = (LoadLe32(m + 60) & 0x1) != 0;
    if (off > size - i || len > size - i - off) return std::string();
    if (!unicode) return std::string(reinterpret_cast<const char*>(m + off), len);
    // In the code page the lines are written in, like every name from the wire.
    std::string text(len / 2 * 3 + 1, '\0');
    if (QVX_WideToAnsi(m + off, len / 2, text.data(), text.size()) == 0) return std::string();
    text.resize(std::strlen(text.c_str()));
    return text;
  }
  return std::string();
}

struct ConnectionTracker::State {
  // Written by the observing thread only; guarded for the readers of other threads.
  mutable std::mutex mu;
  std::vector<Connection> connections;
  std::vector<ConnKey> keys;  // the raw key of each connection
  std::vector<size_t> open;   // indices into connections, in the order of opening
  size_t closed = 0;          // connections that are closed
  std::string server;
  std::atomic<uint64_t> frames{0};
  // Observing thread only: the latest connection of each server address, client address and
  // client port (an index into connections), and the text of each address seen. Keyed by the
  // raw values, so that a frame of a known connection costs no text and no lock.
  std::unordered_map<ConnKey, size_t, ConnKeyHash> by_key;
  std::unordered_map<IpAddress, std::string, IpHash> texts;
  // The user of each log-on, by its session (guarded by mu), oldest first in logon_order.
  std::unordered_map<std::string, std::string> logons;
  std::deque<std::string> logon_order;

  const std::string& Text(const IpAddress& a) {
    auto it = texts.find(a);
    if (it == texts.end()) {
      if (texts.size() >= kOpenKept) texts.clear();  // only a cache: bounded like the rest
      char t[kIpTextSize];
      FormatIpAddress(t, sizeof t, a);
      it = texts.emplace(a, t).first;
    }
    return it->second;
  }

  // Forgets the oldest closed connections beyond kClosedKept and the oldest open ones beyond
  // kOpenKept. Called with mu held.
  void Compact() {
    size_t drop_closed = closed > kClosedKept ? closed - kClosedKept : 0;
    size_t drop_open = open.size() > kOpenKept ? open.size() - kOpenKept : 0;
    std::vector<Connection> kept;
    std::vector<ConnKey> kept_keys;
    kept.reserve(connections.size() - drop_closed - drop_open);
    open.clear();
    by_key.clear();
    closed = 0;
    for (size_t i = 0; i < connections.size(); ++i) {
      size_t& drop = connections[i].closed_us >= 0 ? drop_closed : drop_open;
      if (drop > 0) {
        --drop;
        continue;
      }
      if (connections[i].closed_us >= 0)
        ++closed;
      else
        open.push_back(kept.size());
      by_key[keys[i]] = kept.size();
      kept.push_back(std::move(connections[i]));
      kept_keys.push_back(keys[i]);
    }
    connections = std::move(kept);
    keys = std::move(kept_keys);
  }
};

ConnectionTracker::ConnectionTracker() : state_(new State) {}
ConnectionTracker::~ConnectionTracker() { delete state_; }

void ConnectionTracker::Reset() {
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mu);
  s.connections.clear();
  s.keys.clear();
  s.open.clear();
  s.closed = 0;
  s.server.clear();
  s.frames = 0;
  s.by_key.clear();
  s.texts.clear();
  s.logons.clear();
  s.logon_order.clear();
}

namespace {

// SMB2 sessions are the server's and may travel over several connections (multichannel); SMB1
// UIDs are the connection's.
std::string LogonKey(const std::string& server, const std::string& client, uint16_t port,
                     int version, uint64_t session) {
  char key[96];
  if (version == 2)
    std::snprintf(key, sizeof key, "2|%s|%llx", server.c_str(),
                  static_cast<unsigned long long>(session));
  else
    std::snprintf(key, sizeof key, "1|%s|%s|%u|%llx", server.c_str(), client.c_str(),
                  static_cast<unsigned>(port), static_cast<unsigned long long>(session));
  return key;
}

}  // namespace

void ConnectionTracker::TakeLogon(const std::string& server, const std::string& client,
                                  uint16_t port, int version, uint64_t session,
                                  const std::string& user) {
  if (user.empty()) return;
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mu);
  // The connection it came on is named by it too (the replay's session list, and trees whose
  // session is not known).
  for (size_t k = s.open.size(); k-- > 0;) {
    Connection& c = s.connections[s.open[k]];
    if (c.client_port == port && c.client == client && c.server == server) {
      c.user = user;
      break;
    }
  }
  const std::string key = LogonKey(server, client, port, version, session);
  auto [it, fresh] = s.logons.insert_or_assign(key, user);
  if (!fresh) return;
  s.logon_order.push_back(key);
  if (s.logon_order.size() > kOpenKept) {
    s.logons.erase(s.logon_order.front());
    s.logon_order.pop_front();
  }
}

std::string ConnectionTracker::SessionUser(const std::string& server, const std::string& client,
                                           uint16_t port, int version, uint64_t session) const {
  const State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mu);
  auto it = s.logons.find(LogonKey(server, client, port, version, session));
  return it == s.logons.end() ? std::string() : it->second;
}

void ConnectionTracker::Observe(const unsigned char* d, uint32_t n, int64_t t, int link_type) {
  State& s = *state_;
  // Only this thread counts: no need for an atomic increment, only for an atomic store.
  s.frames.store(s.frames.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  wire::TcpSegment seg;
  if (!wire::DecodeFrameTcp(link_type, d, n, &seg)) return;
  const uint16_t sport = seg.sport;
  const uint16_t dport = seg.dport;
  const unsigned char flags = seg.flags;
  if (!SmbPort(dport) && !SmbPort(sport)) return;
  const bool toward = SmbPort(dport);
  const IpAddress& server = toward ? seg.dst : seg.src;
  const IpAddress& client = toward ? seg.src : seg.dst;
  const uint16_t cport = toward ? sport : dport;
  if (toward && s.server.empty()) {
    std::lock_guard<std::mutex> lock(s.mu);
    s.server = s.Text(server);
  }

  const ConnKey key{server, client, cport};
  auto it = s.by_key.find(key);
  const bool closing = (flags & 0x05) != 0;  // FIN or RST
  const bool syn = (flags & 0x12) == 0x02;   // SYN without ACK: a new connection
  if (it != s.by_key.end() && s.connections[it->second].closed_us >= 0) {
    // After FIN or RST only a new SYN opens the same addresses and port again.
    if (!syn) return;
    s.by_key.erase(it);
    it = s.by_key.end();
  }
  if (it == s.by_key.end()) {
    if (closing) return;  // the tail of a connection that ended before the capture
    Connection c;
    c.server = s.Text(server);
    c.client = s.Text(client);
    c.client_port = cport;
    c.opened_us = t;
    std::lock_guard<std::mutex> lock(s.mu);
    s.connections.push_back(std::move(c));
    s.keys.push_back(key);
    s.open.push_back(s.connections.size() - 1);
    it = s.by_key.emplace(key, s.connections.size() - 1).first;
    if (s.open.size() > kOpenKept + kOpenKept / 4) {
      s.Compact();
      it = s.by_key.find(key);
    }
  }
  const size_t index = it->second;
  if (toward && IsSessionSetupRequest(seg.payload, seg.payload_len)) {
    std::string user = NtlmAuthenticateUser(seg.payload, seg.payload_len);
    if (!user.empty()) {
      std::lock_guard<std::mutex> lock(s.mu);
      s.connections[index].user = std::move(user);
      s.connections[index].user_us = t;
    }
  }
  if (closing) {
    std::lock_guard<std::mutex> lock(s.mu);
    s.connections[index].closed_us = t;
    ++s.closed;
    for (size_t i = 0; i < s.open.size(); ++i) {
      if (s.open[i] == index) {
        s.open.erase(s.open.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    // Compacting once twice the kept number gathered costs one pass per kClosedKept closes.
    if (s.closed > 2 * kClosedKept) s.Compact();
  }
}

std::vector<ServerSession> ConnectionTracker::Sessions(const std::string& server,
                                                       int64_t now_us) const {
  const State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mu);
  std::vector<ServerSession> out;
  for (size_t i : s.open) {
    const Connection& c = s.connections[i];
    if (c.server != server) continue;
    ServerSession session;
    session.client = c.client;
    session.user = c.user;
    session.time_sec =
        now_us > c.opened_us ? static_cast<unsigned long>((now_us - c.opened_us) / 1000000) : 0;
    session.idle_sec = 0;
    out.push_back(std::move(session));
  }
  return out;
}

std::string ConnectionTracker::User(const char* server, const char* client,
                                    uint16_t client_port) const {
  const State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mu);
  for (size_t k = s.open.size(); k-- > 0;) {
    const Connection& c = s.connections[s.open[k]];
    if (c.client_port == client_port && c.client == client && c.server == server) return c.user;
  }
  return std::string();
}

bool ConnectionTracker::IsOpen(const char* server, const char* client, uint16_t client_port) const {
  const State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mu);
  for (size_t k = s.open.size(); k-- > 0;) {
    const Connection& c = s.connections[s.open[k]];
    if (c.client_port == client_port && c.client == client && c.server == server) return true;
  }
  return false;
}

std::vector<ConnectionTracker::Connection> ConnectionTracker::Connections() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->connections;
}

std::string ConnectionTracker::Server() const {
  std::lock_guard<std::mutex> lock(state_->mu);
  return state_->server;
}

uint64_t ConnectionTracker::Frames() const { return state_->frames.load(); }

ConnectionTracker& CaptureConnections() {
  // Never destroyed: a capture thread still ending while the program exits must not find it gone.
  static ConnectionTracker* const tracker = new ConnectionTracker;
  return *tracker;
}

void FollowCaptureConnections(bool on) {
  if (!on) {
    QvxWPcapConSetFrameObserver(nullptr, nullptr);
    return;
  }
  CaptureConnections().Reset();
  QvxWPcapConSetFrameObserver(ObserveFrame, &CaptureConnections());
}

}  // namespace qvx
