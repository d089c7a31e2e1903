// NetNameQuery: prints the file server's session table, once with the clients' computer names
// (-s) and once with their IPv4 addresses (-S). Both forms print the same lines with the client
// column at the same place and width, so the address of a client stands exactly where its name
// stood, followed by a blank.
//
//   NetNameQuery -s|-S [--smb-conf FILE] [--sessions FILE]
//
// Linux: the sessions of the local Samba server (`smbstatus -j`; --sessions reads that JSON from
// a file instead). Windows: the output of `nbtstat -s` / `nbtstat -S`, passed through.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#endif

namespace {

void Usage() {
  std::fprintf(stderr, "usage: NetNameQuery -s|-S [--smb-conf FILE] [--sessions FILE]\n");
}

// Runs a command and returns what it wrote to standard output.
bool ReadCommand(const std::string& cmd, std::string* out) {
#ifdef _WIN32
  std::FILE* p = _popen(cmd.c_str(), "rb");
#else
  std::FILE* p = popen(cmd.c_str(), "r");
#endif
  if (!p) return false;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
#ifdef _WIN32
  return _pclose(p) == 0;
#else
  return pclose(p) == 0;
#endif
}

#ifndef _WIN32

struct Row {
  std::string id;
  std::string name;
  std::string addr;
};

std::string Text(const nlohmann::json& o, const char* key) {
  auto it = o.find(key);
  return (it != o.end() && it->is_string()) ? it->get<std::string>() : std::string();
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

int PrintSambaTable(bool addresses, const std::string& conf, const std::string& sessions_file) {
  std::string json;
  if (!sessions_file.empty()) {
    std::FILE* f = std::fopen(sessions_file.c_str(), "rb");
    if (!f) {
      std::fprintf(stderr, "NetNameQuery: cannot read %s\n", sessions_file.c_str());
      return 1;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) json.append(buf, n);
    std::fclose(f);
  } else {
    std::string cmd = "smbstatus -j";
    if (!conf.empty()) cmd += " -s " + ShellQuote(conf);
    cmd += " 2>/dev/null";
    if (!ReadCommand(cmd, &json)) {
      std::fprintf(stderr, "NetNameQuery: smbstatus failed\n");
      return 1;
    }
  }
  nlohmann::json doc = nlohmann::json::parse(json, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    std::fprintf(stderr, "NetNameQuery: smbstatus gave no session table\n");
    return 1;
  }

  std::vector<Row> rows;
  auto sessions = doc.find("sessions");
  if (sessions != doc.end() && sessions->is_object()) {
    for (auto& [id, s] : sessions->items()) {
      if (!s.is_object()) continue;
      std::string host = Text(s, "hostname");  // "ipv4:10.0.0.2:41234"
      if (host.rfind("ipv4:", 0) != 0) continue;
      host = host.substr(5);
      Row r;
      r.id = id;
      r.addr = host.substr(0, host.rfind(':'));
      r.name = Text(s, "remote_machine");
      if (r.name.empty()) r.name = r.addr;
      rows.push_back(r);
    }
  }
  // The same order in both runs: by session id, numerically.
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return a.id.size() != b.id.size() ? a.id.size() < b.id.size() : a.id < b.id;
  });
  // One width for both forms: wide enough for every name and every address plus a blank.
  size_t width = 16;
  for (const Row& r : rows) width = std::max({width, r.name.size() + 1, r.addr.size() + 1});

  struct utsname u {};
  std::string local = uname(&u) == 0 ? u.nodename : "LOCALHOST";
  local = local.substr(0, local.find('.')).substr(0, 15);
  for (char& c : local) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  std::printf("\r\nNetBIOS Connection Table\r\n\r\n");
  std::printf("    %-15s %-11s %-6s %-*s\r\n", "Local Name", "State", "In/Out",
              static_cast<int>(width), "Remote Host");
  std::printf("    %s\r\n", std::string(40 + width, '-').c_str());
  for (const Row& r : rows) {
    const std::string& who = addresses ? r.addr : r.name;
    std::printf("    %-15s %-11s %-6s %-*s<20>\r\n", local.c_str(), "Connected", "In",
                static_cast<int>(width), who.c_str());
  }
  return 0;
}

#endif  // !_WIN32

}  // namespace

int main(int argc, char** argv) {
  int mode = 0;  // 's' names, 'S' addresses
  std::string conf, sessions_file;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-s" || a == "-S") {
      mode = a[1];
    } else if (a == "--smb-conf" && i + 1 < argc) {
      conf = argv[++i];
    } else if (a == "--sessions" && i + 1 < argc) {
      sessions_file = argv[++i];
    } else {
      Usage();
      return 2;
    }
  }
  if (mode == 0) {
    Usage();
    return 2;
  }
#ifdef _WIN32
  std::string out;
  bool ok = ReadCommand(mode == 'S' ? "nbtstat -S" : "nbtstat -s", &out);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return ok ? 0 : 1;
#else
  return PrintSambaTable(mode == 'S', conf, sessions_file);
#endif
}
