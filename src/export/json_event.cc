#include "export/json_event.h"

#include <cstdio>

namespace qvx {

namespace {

// Length of the UTF-8 character at s[i], 0 when none starts there.
size_t Utf8Length(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size() || (n == 2 && c < 0xC2)) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

std::string QVX_Iso8601(const LocalTime& when) {
  int64_t off = QVX_UtcOffsetSeconds(when) / 60;
  const char sign = off < 0 ? '-' : '+';
  if (off < 0) off = -off;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", when.year, when.month,
                when.day, when.hour, when.minute, when.second, sign, static_cast<int>(off / 60),
                static_cast<int>(off % 60));
  return buf;
}

void QVX_JsonString(std::string* out, std::string_view s) {
  out->push_back('"');
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = Utf8Length(s, i);
    char esc[8];
    if (n == 0) {
      std::snprintf(esc, sizeof esc, "<%02X>", c);
      out->append(esc);
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out->append(esc);
    } else {
      out->append(s.substr(i, n));
    }
    i += n;
  }
  out->push_back('"');
}

std::string QVX_EventJson(const AccessEvent& e, std::string_view host, std::string_view version,
                          uint64_t seq) {
  std::string out;
  out.reserve(256 + e.path.size() + e.path_detail.size());
  auto field = [&out](const char* name, std::string_view value) {
    out.append(out.empty() ? "{\"" : ",\"").append(name).append("\":");
    QVX_JsonString(&out, value);
  };
  field("time", QVX_Iso8601(e.when));
  field("action", e.action);
  field("tree", e.tree);
  field("user", e.user);
  field("client", e.client);
  field("server", e.server);
  field("client_mac", e.client_mac);
  field("server_mac", e.server_mac);
  field("command", e.command);
  field("info", e.info);
  field("size", e.size);
  field("operation", e.operation);
  std::string path(e.path);
  path.append(e.path_detail);
  field("path", path);
  if (!e.acl.empty()) field("acl", e.acl);
  field("host", host);
  field("program", "quorvix");
  field("version", version);
  if (seq != 0) out.append(",\"seq\":").append(std::to_string(seq));
  out.push_back('}');
  return out;
}

}  // namespace qvx
