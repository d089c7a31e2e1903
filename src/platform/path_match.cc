#include "platform/path_match.h"

#include <cctype>

namespace qvx {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Iterative glob match with backtracking over the last "*".
bool Glob(const char* s, const char* p) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*s) {
    if (*p == '*') {
      star = p++;
      resume = s;
    } else if (*p == '?' || (*p && Lower(*p) == Lower(*s))) {
      ++p;
      ++s;
    } else if (star) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

}  // namespace

bool PathMatchSpec(const std::string& path, const std::string& spec) {
  size_t pos = 0;
  while (pos <= spec.size()) {
    size_t end = spec.find(';', pos);
    if (end == std::string::npos) end = spec.size();
    std::string one = spec.substr(pos, end - pos);
    size_t lead = one.find_first_not_of(' ');
    one = lead == std::string::npos ? std::string() : one.substr(lead);
    if (!one.empty()) {
      if (one == "*.*" || Glob(path.c_str(), one.c_str())) return true;
    }
    pos = end + 1;
  }
  return false;
}

std::string PathRemoveFileSpec(const std::string& path) {
  size_t cut = std::string::npos;
  for (size_t i = path.size(); i-- > 0;) {
    if (IsSeparator(path[i])) {
      cut = i;
      break;
    }
  }
  if (cut == std::string::npos) return std::string();
  // Keep the separator of a root: "/" or "C:\".
  if (cut == 0 || (cut == 2 && path[1] == ':')) return path.substr(0, cut + 1);
  return path.substr(0, cut);
}

}  // namespace qvx
