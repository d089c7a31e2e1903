#include "audit/change_text.h"

#include <cstdio>
#include <ctime>

namespace qvx {

std::string QVX_SecurityInfoText(uint32_t flags) {
  static const struct {
    uint32_t bit;
    const char* text;
  } kParts[] = {{wire::kOwnerSecurity, "owner"},
                {wire::kGroupSecurity, "group"},
                {wire::kDaclSecurity, "DACL"},
                {wire::kSaclSecurity, "SACL"},
                {wire::kLabelSecurity, "label"}};
  std::string out;
  for (const auto& p : kParts)
    if (flags & p.bit) out.append(out.empty() ? "" : "+").append(p.text);
  return out;
}

namespace {

bool TimeSet(uint64_t t) { return t != 0 && t != ~uint64_t{0}; }

// A FILETIME as UTC text; false for one before 1970.
bool TimeText(uint64_t filetime, char* out, size_t size, int64_t* unix_seconds) {
  if (filetime < wire::kFiletimeUnixEpoch) return false;
  const int64_t s = static_cast<int64_t>((filetime - wire::kFiletimeUnixEpoch) / 10000000ull);
  *unix_seconds = s;
  const time_t t = static_cast<time_t>(s);
  struct tm tm {};
#ifdef _WIN32
  if (gmtime_s(&tm, &t) != 0) return false;
#else
  if (gmtime_r(&t, &tm) == nullptr) return false;
#endif
  std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return true;
}

void AttributesText(uint32_t attributes, std::string* out) {
  static const struct {
    uint32_t bit;
    const char* text;
  } kNames[] = {{0x1, "read-only"},      {0x2, "hidden"},       {0x4, "system"},
                {0x10, "directory"},     {0x20, "archive"},     {0x80, "normal"},
                {0x100, "temporary"},    {0x800, "compressed"}, {0x1000, "offline"},
                {0x2000, "not indexed"}, {0x4000, "encrypted"}};
  out->append("attributes ");
  uint32_t rest = attributes;
  bool first = true;
  for (const auto& n : kNames) {
    if ((attributes & n.bit) == 0) continue;
    out->append(first ? "" : "+").append(n.text);
    first = false;
    rest &= ~n.bit;
  }
  if (rest != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%s0x%x", first ? "" : "+", static_cast<unsigned>(rest));
    out->append(hex);
  }
}

}  // namespace

std::string QVX_BasicInfoText(const wire::FileBasicInfo& b, int64_t now_unix) {
  std::string out;
  if (b.attributes != 0) AttributesText(b.attributes, &out);
  const struct {
    uint64_t value;
    const char* name;
  } kTimes[] = {{b.creation, "creation time"},
                {b.last_access, "last access time"},
                {b.last_write, "last write time"},
                {b.change, "change time"}};
  constexpr int64_t kPastSeconds = 3600;
  for (const auto& t : kTimes) {
    if (!TimeSet(t.value)) continue;
    out.append(out.empty() ? "" : "; ").append(t.name);
    char text[64];
    int64_t s = 0;
    if (!TimeText(t.value, text, sizeof text, &s)) {
      out.append(" before 1970, in the past");
      continue;
    }
    out.append(" ").append(text);
    if (s < now_unix - kPastSeconds) out.append(" in the past");
  }
  return out;
}

}  // namespace qvx
