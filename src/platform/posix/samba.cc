#include "platform/posix/samba.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/session_reader.h"

namespace qvx {
namespace {

std::mutex g_mu;
std::string g_config = kDefaultSambaConfig;
std::string g_sessions_file;

// What identifies one version of the configuration file.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  struct timespec mtim {};
  bool operator==(const FileStamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtim.tv_sec == o.mtim.tv_sec &&
           mtim.tv_nsec == o.mtim.tv_nsec;
  }
};
bool g_shares_valid = false;
std::string g_shares_path;
FileStamp g_shares_stamp;
std::vector<ServerShare> g_shares;

std::chrono::steady_clock::time_point g_sessions_at;
bool g_sessions_valid = false;
std::vector<ServerSession> g_sessions;
constexpr auto kSessionCacheLife = std::chrono::milliseconds(1000);
// A failed run is not retried at once: a hanging smbstatus would hold the capture thread for its
// whole time limit at every access.
bool g_sessions_failed = false;
std::chrono::steady_clock::time_point g_sessions_failed_at;
constexpr auto kSessionRetryAfter = std::chrono::milliseconds(10000);

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Samba compares parameter names without case and without blanks.
std::string KeyOf(const std::string& s) {
  std::string k;
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c)))
      k += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

bool IsTrue(const std::string& v) {
  std::string k = KeyOf(v);
  return k == "yes" || k == "true" || k == "1" || k == "on";
}

// ISO 8601 "2026-12-09T05:35:31.490773+00:00" to time_t; -1 when it does not parse or a field
// is out of its range (a year past 9999, an offset of more than a day).
int64_t ParseIsoTime(const std::string& s) {
  int year, mon, day, hour, min, sec;
  int off_h = 0, off_m = 0;
  char sign = '+';
  if (std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d", &year, &mon, &day, &hour, &min, &sec) != 6)
    return -1;
  if (year < 1970 || year > 9999 || mon < 1 || mon > 12 || day < 1 || day > 31 || hour < 0 ||
      hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 60)
    return -1;
  size_t z = s.find_first_of("+-", 19);
  if (z != std::string::npos) {
    sign = s[z];
    // "+hh:mm", "+hhmm" or "+hh".
    const char* p = s.c_str() + z + 1;
    auto two = [&p](int* v) {
      if (!std::isdigit(static_cast<unsigned char>(p[0])) ||
          !std::isdigit(static_cast<unsigned char>(p[1])))
        return false;
      *v = (p[0] - '0') * 10 + (p[1] - '0');
      p += 2;
      return true;
    };
    if (!two(&off_h)) return -1;
    if (*p == ':') ++p;
    if (*p != '\0' && !two(&off_m)) return -1;
    if (*p != '\0' || off_h > 23 || off_m > 59) return -1;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = mon - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  int64_t t = static_cast<int64_t>(timegm(&tm));
  int64_t off = (off_h * 60 + off_m) * 60;
  return sign == '-' ? t + off : t - off;
}

std::string JsonText(const nlohmann::json& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end() || !it->is_string()) return std::string();
  return it->get<std::string>();
}

// ParseIsoTime to the microsecond: the fraction of "...T05:35:31.490773+00:00" counted too.
int64_t ParseIsoTimeUs(const std::string& s) {
  const int64_t t = ParseIsoTime(s);
  if (t < 0) return -1;
  int64_t us = 0, scale = 100000;
  if (s.size() > 19 && s[19] == '.')
    for (size_t i = 20; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
      us += (s[i] - '0') * scale;
      scale /= 10;
    }
  return t * 1000000 + us;
}

// "ipv4:10.0.0.2:41234" or "ipv6:fd00::2:41234": address and port; false for anything else.
bool HostnameAddress(std::string host, std::string* address, uint16_t* port) {
  if (host.rfind("ipv4:", 0) != 0 && host.rfind("ipv6:", 0) != 0) return false;
  host = host.substr(5);
  const size_t colon = host.rfind(':');
  if (colon == std::string::npos) return false;
  *address = host.substr(0, colon);
  *port = static_cast<uint16_t>(std::strtoul(host.c_str() + colon + 1, nullptr, 10));
  return true;
}

uint64_t LoadLe(const std::string& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// tdbdump's text of one key or value: printable bytes as they are, the others (and the quote and
// the backslash) as \XX.
std::string Unescape(const std::string& line) {
  const size_t open = line.find('"'), close = line.rfind('"');
  std::string out;
  if (open == std::string::npos || close <= open) return out;
  for (size_t i = open + 1; i < close; ++i) {
    if (line[i] == '\\' && i + 2 < close) {
      out += static_cast<char>(std::strtoul(line.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += line[i];
    }
  }
  return out;
}

// One record of the server's table of open handles: the NDR of smbXsrv_open_globalB, version 0,
// keyed by the open's global id (big-endian). Its open (smbXsrv_open_global0) holds the server
// process, the global id, the persistent and volatile FileIds, the owner's SID and the open's
// time, in that order; the global id is found by its value (the key) and the persistent id that
// repeats it, so that a layout that differs before it is still read, and a record that does not
// read so is left out.
struct SambaHandle {
  uint64_t pid = 0;
  uint64_t persistent = 0;
  uint64_t volatile_id = 0;
  int64_t opened_us = 0;
};
bool ParseHandleRecord(const std::string& key, const std::string& v, SambaHandle* out) {
  if (key.size() != 4 || v.size() < 16 || LoadLe(v, 0, 4) != 0) return false;
  const uint32_t global = static_cast<uint32_t>(static_cast<unsigned char>(key[0])) << 24 |
                          static_cast<unsigned char>(key[1]) << 16 |
                          static_cast<unsigned char>(key[2]) << 8 |
                          static_cast<unsigned char>(key[3]);
  size_t g = 0;
  for (size_t at = 24; at + 24 <= v.size() && at <= 128; at += 4)
    if (LoadLe(v, at, 4) == global && LoadLe(v, at + 8, 8) == global) {
      g = at;
      break;
    }
  if (g == 0) return false;
  // server_id: pid (8 bytes), task_id, vnn, unique_id (8); then the ids; then the SID:
  // revision 1, the count of sub-authorities, 6 bytes of authority, 4 bytes each.
  const size_t sid = g + 24;
  if (sid + 8 > v.size() || v[sid] != 1 || static_cast<unsigned char>(v[sid + 1]) > 15)
    return false;
  const size_t when = sid + 8 + 4 * static_cast<unsigned char>(v[sid + 1]);
  if (when + 8 > v.size()) return false;
  out->pid = LoadLe(v, g - 24, 8);
  out->persistent = LoadLe(v, g + 8, 8);
  out->volatile_id = LoadLe(v, g + 16, 8);
  // NTTIME: 100 ns since 1601.
  out->opened_us = static_cast<int64_t>(LoadLe(v, when, 8) / 10) - 11644473600LL * 1000000;
  return true;
}

}  // namespace

void SetSambaConfigPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_config = path.empty() ? kDefaultSambaConfig : path;
  g_shares_valid = false;
  g_sessions_valid = false;
  g_sessions_failed = false;
}

std::string SambaConfigPath() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_config;
}

void SetSambaSessionsFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_sessions_file = path;
  g_sessions_valid = false;
  g_sessions_failed = false;
}

std::vector<ServerShare> ParseSambaConfig(const std::string& text) {
  std::vector<ServerShare> shares;
  ServerShare ipc;
  ipc.name = "IPC$";
  ipc.remark = "IPC Service";
  ipc.type = 3;
  shares.push_back(ipc);

  ServerShare cur;
  bool in_share = false, printable = false;
  auto finish = [&]() {
    if (in_share && !cur.path.empty()) {
      cur.type = printable ? 1 : 0;
      shares.push_back(cur);
    }
    in_share = false;
    printable = false;
    cur = ServerShare();
  };

  size_t pos = 0;
  std::string pending;
  while (pos <= text.size()) {
    size_t e = text.find('\n', pos);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(pos, e - pos);
    pos = e + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A backslash at the end of a line continues it on the next.
    if (!line.empty() && line.back() == '\\') {
      line.pop_back();
      pending += line;
      if (pos <= text.size()) continue;
      line.clear();
    }
    line = Trim(pending + line);
    pending.clear();
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      finish();
      size_t close = line.find(']');
      std::string name =
          Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      std::string key = KeyOf(name);
      in_share = key != "global" && key != "homes" && key != "ipc$";
      cur.name = name;
      continue;
    }
    if (!in_share) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = KeyOf(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    if (key == "path" || key == "directory") {
      // Samba keeps no trailing slash on a share's path (except the root itself).
      while (value.size() > 1 && value.back() == '/') value.pop_back();
      cur.path = value;
    } else if (key == "comment") {
      cur.remark = value;
    } else if (key == "printable" || key == "printok") {
      printable = IsTrue(value);
    }
  }
  finish();
  return shares;
}

bool ParseSmbstatusJson(const std::string& text, int64_t now, std::vector<ServerSession>* out) {
  out->clear();
  nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  auto sessions = doc.find("sessions");
  if (sessions == doc.end()) return doc.contains("version");
  if (!sessions->is_object()) return false;

  // A session's age is that of its oldest tree connection (sessions carry no time themselves).
  std::map<std::string, int64_t> oldest;
  auto tcons = doc.find("tcons");
  if (tcons != doc.end() && tcons->is_object()) {
    for (auto& [id, t] : tcons->items()) {
      if (!t.is_object()) continue;
      std::string sid = JsonText(t, "session_id");
      int64_t at = ParseIsoTime(JsonText(t, "connected_at"));
      if (sid.empty() || at < 0) continue;
      auto it = oldest.find(sid);
      if (it == oldest.end() || at < it->second) oldest[sid] = at;
    }
  }

  for (auto& [id, s] : sessions->items()) {
    if (!s.is_object()) continue;
    ServerSession one;
    one.client = JsonText(s, "remote_machine");
    if (one.client.empty()) {
      // "ipv4:10.0.0.2:41234" or "ipv6:fd00::2:41234" when the client gave no name.
      std::string host = JsonText(s, "hostname");
      if (host.rfind("ipv4:", 0) == 0 || host.rfind("ipv6:", 0) == 0) {
        host = host.substr(5);
        one.client = host.substr(0, host.rfind(':'));
      }
    }
    one.user = JsonText(s, "username");
    // A session still authenticating has no user yet; smbstatus shows a placeholder instead.
    if (one.user == "(auth in progress)") one.user.clear();
    std::string sid = JsonText(s, "session_id");
    auto it = oldest.find(sid.empty() ? id : sid);
    if (it != oldest.end() && now >= it->second)
      one.time_sec = static_cast<unsigned long>(now - it->second);
    out->push_back(one);
  }
  return true;
}

bool ParseSambaOpenFiles(const std::string& smbstatus_json, const std::string& handles_dump,
                         ServerOpenFiles* out) {
  *out = ServerOpenFiles();
  nlohmann::json doc = nlohmann::json::parse(smbstatus_json, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("version")) return false;

  // The handles by their server process and the time of their open. Two opens of one process in
  // the same microsecond name neither: which is which cannot be told.
  using When = std::pair<uint64_t, int64_t>;
  std::map<When, SambaHandle> handles;
  std::map<When, int> records_at, opens_at;
  std::string key;
  size_t pos = 0;
  while (pos < handles_dump.size()) {
    size_t end = handles_dump.find('\n', pos);
    if (end == std::string::npos) end = handles_dump.size();
    const std::string line = handles_dump.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("key(", 0) == 0) {
      key = Unescape(line);
    } else if (line.rfind("data(", 0) == 0) {
      SambaHandle h;
      if (ParseHandleRecord(key, Unescape(line), &h)) {
        handles[{h.pid, h.opened_us}] = h;
        ++records_at[{h.pid, h.opened_us}];
      }
    }
  }

  // The connection and protocol of each server process and session.
  std::map<uint64_t, std::pair<std::string, uint16_t>> connection;
  std::map<std::string, bool> smb2_session;
  auto sessions = doc.find("sessions");
  if (sessions != doc.end() && sessions->is_object())
    for (auto& [id, s] : sessions->items()) {
      if (!s.is_object()) continue;
      const std::string dialect = JsonText(s, "session_dialect");
      smb2_session[JsonText(s, "session_id")] =
          dialect.rfind("SMB2", 0) == 0 || dialect.rfind("SMB3", 0) == 0;
      auto server = s.find("server_id");
      std::string address;
      uint16_t port = 0;
      if (server != s.end() && server->is_object() &&
          HostnameAddress(JsonText(s, "hostname"), &address, &port))
        connection[std::strtoull(JsonText(*server, "pid").c_str(), nullptr, 10)] = {address, port};
    }

  // SMB2 trees: their TreeId is the tree connection's id.
  auto tcons = doc.find("tcons");
  if (tcons != doc.end() && tcons->is_object())
    for (auto& [id, t] : tcons->items()) {
      if (!t.is_object() || !smb2_session[JsonText(t, "session_id")]) continue;
      ServerTree tree;
      tree.tree_id =
          static_cast<uint32_t>(std::strtoul(JsonText(t, "tcon_id").c_str(), nullptr, 10));
      tree.share = JsonText(t, "service");
      out->trees.push_back(tree);
    }

  auto files = doc.find("open_files");
  if (files == doc.end() || !files->is_object()) return true;
  const auto when = [](const nlohmann::json& o) {
    auto server = o.find("server_id");
    if (!o.is_object() || server == o.end() || !server->is_object()) return When{0, -1};
    return When{std::strtoull(JsonText(*server, "pid").c_str(), nullptr, 10),
                ParseIsoTimeUs(JsonText(o, "opened_at"))};
  };
  for (auto& [path, f] : files->items()) {
    auto opens = f.find("opens");
    if (opens == f.end() || !opens->is_object()) continue;
    for (auto& [oid, o] : opens->items()) ++opens_at[when(o)];
  }
  for (auto& [path, f] : files->items()) {
    if (!f.is_object()) continue;
    const std::string folder = JsonText(f, "service_path");
    const std::string name = JsonText(f, "filename");
    auto opens = f.find("opens");
    if (opens == f.end() || !opens->is_object() || folder.empty() || name.empty()) continue;
    for (auto& [oid, o] : opens->items()) {
      const When at = when(o);
      auto h = handles.find(at);
      if (h == handles.end() || records_at[at] != 1 || opens_at[at] != 1) continue;
      const uint64_t pid = at.first;
      ServerOpenFile one;
      one.persistent = h->second.persistent;
      one.volatile_id = h->second.volatile_id;
      one.volatile_known = true;
      auto c = connection.find(pid);
      if (c != connection.end()) {
        one.client = c->second.first;
        one.client_port = c->second.second;
      }
      one.share_path = folder;
      one.path = folder.back() == '/' ? folder + name : folder + "/" + name;
      out->files.push_back(one);
    }
  }
  return true;
}

bool SambaListShares(std::vector<ServerShare>* out) {
  std::lock_guard<std::mutex> lock(g_mu);
  struct stat st;
  if (::stat(g_config.c_str(), &st) != 0) {
    out->clear();
    g_shares_valid = false;
    return false;
  }
  FileStamp stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  if (!g_shares_valid || g_shares_path != g_config || !(stamp == g_shares_stamp)) {
    std::string text;
    if (!NativePlatform().ReadWholeFile(g_config, &text)) {
      out->clear();
      return false;
    }
    g_shares = ParseSambaConfig(text);
    g_shares_stamp = stamp;
    g_shares_path = g_config;
    g_shares_valid = true;
  }
  *out = g_shares;
  return true;
}

namespace {

// Reads the session list once: the file given for tests and replays, or smbstatus.
bool ReadSessions(std::vector<ServerSession>* out) {
  std::string text;
  if (!g_sessions_file.empty()) {
    if (!NativePlatform().ReadWholeFile(g_sessions_file, &text)) return false;
  } else {
    ChildResult r;
    std::string cmd = "smbstatus -j -s \"" + g_config + "\"";
    if (!NativePlatform().RunChild(cmd, 10000, true, false, 16u << 20, &r) || !r.finished ||
        r.exit_code != 0)
      return false;
    text = r.output;
  }
  return ParseSmbstatusJson(text, static_cast<int64_t>(std::time(nullptr)), out);
}

// smbstatus runs on a thread of its own: a query that hangs up to its time limit must never hold
// the capture thread, which answers from the last list read. Never destroyed: the query may still
// be waiting on a hanging smbstatus when the program ends.
SessionReader& Reader() {
  static SessionReader* reader =
      new SessionReader(ReadSessions, kSessionCacheLife, kSessionRetryAfter);
  return *reader;
}

}  // namespace

namespace {

// The folder of smbXsrv_open_global.tdb: the configuration's lock directory, as testparm reads
// it (the built-in one when the configuration names none).
bool LockDirectory(const std::string& config, std::string* dir) {
  static std::mutex mu;
  static std::string for_config, cached;
  std::lock_guard<std::mutex> lock(mu);
  if (!cached.empty() && for_config == config) {
    *dir = cached;
    return true;
  }
  ChildResult r;
  if (!NativePlatform().RunChild(
          "testparm -s --parameter-name=\"lock directory\" \"" + config + "\"", 10000, true, false,
          1u << 16, &r) ||
      !r.finished || r.exit_code != 0)
    return false;
  std::string d = Trim(r.output.substr(0, r.output.find('\n')));
  if (d.empty() || d[0] != '/') return false;
  cached = d;
  for_config = config;
  *dir = d;
  return true;
}

// The server's open files: smbstatus for the files and their server processes, tdbdump of the
// server's table of open handles for the FileIds each process gave them.
bool ReadOpenFiles(ServerOpenFiles* out) {
  std::string config, dir;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    config = g_config;
  }
  if (!LockDirectory(config, &dir)) return false;
  ChildResult status, dump;
  if (!NativePlatform().RunChild("smbstatus -j -s \"" + config + "\"", 10000, true, false,
                                 16u << 20, &status) ||
      !status.finished || status.exit_code != 0)
    return false;
  if (!NativePlatform().RunChild("tdbdump \"" + dir + "/smbXsrv_open_global.tdb\"", 10000, true,
                                 false, 64u << 20, &dump) ||
      !dump.finished || dump.exit_code != 0)
    return false;
  return ParseSambaOpenFiles(status.output, dump.output, out);
}

// Read on demand (a handle the capture never saw opened), at most about once a second.
OpenFilesReader& OpenFilesOfServer() {
  static OpenFilesReader* reader =
      new OpenFilesReader(ReadOpenFiles, kSessionCacheLife, kSessionRetryAfter);
  return *reader;
}

}  // namespace

OpenFilesSnapshot SambaOpenFiles() { return QVX_OpenFilesSnapshotOf(OpenFilesOfServer()); }

void SambaAskOpenFiles() { OpenFilesOfServer().Ask(); }

bool SambaSessionsPending() { return g_sessions_file.empty() && Reader().Pending(); }

void SambaExpireSessions() {
  if (g_sessions_file.empty()) {
    Reader().Expire();
    return;
  }
  std::lock_guard<std::mutex> lock(g_mu);
  g_sessions_valid = false;
}

bool SambaListSessions(std::vector<ServerSession>* out) {
  if (g_sessions_file.empty()) return Reader().List(out);
  // A file is read at once: it cannot hang as a command can.
  std::lock_guard<std::mutex> lock(g_mu);
  const auto now = std::chrono::steady_clock::now();
  if (g_sessions_valid && now - g_sessions_at < kSessionCacheLife) {
    *out = g_sessions;
    return true;
  }
  if (g_sessions_failed && now - g_sessions_failed_at < kSessionRetryAfter) return false;
  std::vector<ServerSession> sessions;
  if (!ReadSessions(&sessions)) {
    g_sessions_failed = true;
    g_sessions_failed_at = std::chrono::steady_clock::now();
    return false;
  }
  g_sessions_failed = false;
  g_sessions = sessions;
  g_sessions_at = now;
  g_sessions_valid = true;
  *out = g_sessions;
  return true;
}

}  // namespace qvx
