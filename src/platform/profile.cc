#include "platform/profile.h"

#include <cctype>
#include <cstdint>
#include <vector>

namespace qvx {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Lines end with LF, CR LF or a lone CR (an old Mac editor's); a UTF-8 byte-order mark before
// the first line is no part of it.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

// Section name of a "[name]" line, or nothing.
std::optional<std::string> SectionOf(const std::string& line) {
  std::string t = Trim(line);
  if (t.size() < 2 || t[0] != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

// Key name of a "key=value" line, or nothing.
std::optional<std::string> KeyOf(const std::string& line, std::string* value) {
  std::string t = Trim(line);
  if (t.empty() || t[0] == ';') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  if (value) *value = Trim(t.substr(eq + 1));
  return Trim(t.substr(0, eq));
}

// A value in matching quotes loses them.
std::string Unquoted(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<std::string> ProfileLookup(const std::string& text, const std::string& section,
                                         const std::string& key) {
  return ProfileIndex(text).Lookup(section, key);
}

ProfileIndex::ProfileIndex(const std::string& text) {
  std::string section;
  bool in_section = false;
  for (const std::string& line : SplitLines(text)) {
    if (auto s = SectionOf(line)) {
      section = Lower(*s);
      in_section = true;
      continue;
    }
    if (!in_section) continue;
    std::string value;
    auto k = KeyOf(line, &value);
    if (k) values_.emplace(section + '\n' + Lower(*k), Unquoted(value));  // the first one wins
  }
}

std::optional<std::string> ProfileIndex::Lookup(const std::string& section,
                                                const std::string& key) const {
  auto it = values_.find(Lower(section) + '\n' + Lower(key));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool ProfileHasSection(const std::string& text, const std::string& section) {
  for (const std::string& line : SplitLines(text)) {
    auto s = SectionOf(line);
    if (s && EqualNoCase(*s, section)) return true;
  }
  return false;
}

int ProfileValueToInt(const std::string& value, int def) {
  if (value.empty()) return def;
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
    negative = value[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X') &&
      i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
    base = 16;
    i += 2;
  }
  // Accumulate as unsigned 32-bit, the way the Win32 call wraps large values.
  uint32_t result = 0;
  for (; i < value.size(); ++i) {
    int d;
    char c = value[i];
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    } else {
      break;
    }
    result = result * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
  }
  if (negative) result = 0u - result;
  return static_cast<int>(result);
}

bool ProfileValueIsNumber(const std::string& value, long long* out) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  int base = 10;
  if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == value.size()) return false;
  constexpr long long kHeld = 1LL << 40;
  long long result = 0;
  for (; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && std::isxdigit(c))
      d = std::tolower(c) - 'a' + 10;
    else
      return false;
    if (result < kHeld) result = result * base + d;
  }
  *out = negative ? -result : result;
  return true;
}

std::string ProfileStore(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value) {
  const bool crlf = text.empty() || text.find("\r\n") != std::string::npos;
  const bool cr =
      !crlf && text.find('\r') != std::string::npos && text.find('\n') == std::string::npos;
  const std::string eol = crlf ? "\r\n" : cr ? "\r" : "\n";
  std::vector<std::string> lines = SplitLines(text);
  const std::string entry = key + "=" + value;
  int section_start = -1;  // index of the section's header line
  int last_in_section = -1;
  bool in_section = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto s = SectionOf(lines[i])) {
      in_section = EqualNoCase(*s, section);
      if (in_section && section_start < 0) {
        section_start = static_cast<int>(i);
        last_in_section = static_cast<int>(i);
      }
      continue;
    }
    if (!in_section) continue;
    if (!Trim(lines[i]).empty()) last_in_section = static_cast<int>(i);
    auto k = KeyOf(lines[i], nullptr);
    if (k && EqualNoCase(*k, key)) {
      lines[i] = entry;
      section_start = -2;  // done
      break;
    }
  }
  if (section_start == -1) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  } else if (section_start >= 0) {
    lines.insert(lines.begin() + last_in_section + 1, entry);
  }
  // A byte-order mark stays where it was.
  std::string out = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? "\xEF\xBB\xBF" : "";
  for (const std::string& l : lines) out += l + eol;
  return out;
}

}  // namespace qvx
