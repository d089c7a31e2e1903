#include "platform/platform.h"

#include <ctime>

namespace qvx {
namespace {
Platform* g_platform = nullptr;
}  // namespace

Platform& platform() {
  if (g_platform == nullptr) g_platform = &NativePlatform();
  return *g_platform;
}

Platform* SetPlatform(Platform* p) {
  Platform* previous = g_platform;
  g_platform = p;
  return previous;
}

LocalTime LocalTimeFromTimeT(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &tt);
#else
  localtime_r(&tt, &tm);
#endif
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.wday = tm.tm_wday;
  lt.t = t;
  return lt;
}

}  // namespace qvx
