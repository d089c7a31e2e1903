#include "platform/posix/samba.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
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
