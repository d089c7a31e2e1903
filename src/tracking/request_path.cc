#include "tracking/request_path.h"

#include <string>
#include <vector>

#include "base/text.h"
#include "platform/os_rules.h"
#include "platform/platform.h"

namespace qvx {

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

enum class Kind { kName, kSelf, kParent };

Kind KindOf(const char* s, size_t n) {
  if constexpr (os::kNamesLoseTrailingDotsAndSpaces) {
    // ".. " and "..." climb as ".." does.
    size_t dots = 0;
    for (size_t i = 0; i < n; ++i) {
      if (s[i] == '.')
        ++dots;
      else if (s[i] != ' ')
        return Kind::kName;
    }
    if (dots == 0) return Kind::kName;
    return dots == 1 ? Kind::kSelf : Kind::kParent;
  }
  if (n == 1 && s[0] == '.') return Kind::kSelf;
  if (n == 2 && s[0] == '.' && s[1] == '.') return Kind::kParent;
  return Kind::kName;
}

}  // namespace

bool QVX_ResolveRequestName(const char* name, char* out, size_t size) {
  if (name == nullptr) name = "";
  struct Part {
    const char* p;
    size_t n;
  };
  std::vector<Part> kept;
  bool changed = false;
  const char* p = name;
  while (*p) {
    if (IsSep(*p)) {
      // A run of separators, or one at the end, names no component of its own.
      if (IsSep(p[1]) || p[1] == '\0') changed = true;
      ++p;
      continue;
    }
    const char* start = p;
    // A separator byte can be the second byte of a double-byte character (Windows code pages).
    while (*p && !IsSep(*p)) p += QVX_IsLeadByte(static_cast<unsigned char>(*p)) && p[1] ? 2 : 1;
    const size_t n = static_cast<size_t>(p - start);
    switch (KindOf(start, n)) {
      case Kind::kName:
        kept.push_back({start, n});
        break;
      case Kind::kSelf:
        changed = true;
        break;
      case Kind::kParent:
        if (kept.empty()) {
          CopyText(out, size, name);
          return false;
        }
        kept.pop_back();
        changed = true;
        break;
    }
  }
  if (!changed) {
    CopyText(out, size, name);
    return true;
  }
  std::string r;
  if (IsSep(name[0])) r += '\\';
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) r += '\\';
    r.append(kept[i].p, kept[i].n);
  }
  CopyText(out, size, r.c_str());
  return true;
}

}  // namespace qvx
