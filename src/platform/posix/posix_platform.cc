// The Linux platform: POSIX files, the C library's clock, an INI implementation of our own with
// the Win32 profile semantics, and message boxes written to the console.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/platform.h"
#include "platform/profile.h"

namespace qvx {
namespace {

class PosixFile : public WritableFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  bool Write(const void* data, size_t size, bool /*overlapped*/) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = ::write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  bool Flush() override { return ::fdatasync(fd_) == 0; }

 private:
  int fd_;
};

class PosixPlatform : public Platform {
 public:
  LocalTime Now() override { return LocalTimeFromTimeT(static_cast<int64_t>(std::time(nullptr))); }
  void SleepMs(int ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  long LastError() override { return errno; }

  std::unique_ptr<WritableFile> OpenWritable(const std::string& path, OpenMode mode) override {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    flags |= mode == OpenMode::kAppend ? O_APPEND : O_TRUNC;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixFile>(fd);
  }
  bool RemoveFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }
  bool FileExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  bool IsDirectory(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  bool MakeSureDirectoryPathExists(const std::string& path) override {
    size_t last = path.rfind('/');
    if (last == std::string::npos) return true;
    for (size_t pos = 1; pos <= last; ++pos) {
      if (path[pos] != '/' && pos != last) continue;
      std::string dir = path.substr(0, pos == last ? last : pos);
      if (dir.empty()) continue;
      if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
      if (!IsDirectory(dir)) {
        errno = ENOTDIR;
        return false;
      }
    }
    return true;
  }
  std::string ExecutablePath() override {
    char buf[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
  }
  std::string SystemDirectory() override { return "/var/log"; }
  bool ReadWholeFile(const std::string& path, std::string* contents) override {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    *contents = ss.str();
    return true;
  }

  int GetProfileInt(const std::string& section, const std::string& key, int def,
                    const std::string& path) override {
    std::string text;
    if (!ReadWholeFile(path, &text)) return def;
    auto v = ProfileLookup(text, section, key);
    return v ? ProfileValueToInt(*v, def) : def;
  }
  size_t GetProfileString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, size_t size,
                          const std::string& path) override {
    if (size == 0) return 0;
    std::string text;
    std::optional<std::string> v;
    if (ReadWholeFile(path, &text)) v = ProfileLookup(text, section, key);
    const std::string& s = v ? *v : def;
    size_t n = std::min(s.size(), size - 1);
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return n;
  }
  bool WriteProfileString(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) override {
    std::string text;
    ReadWholeFile(path, &text);
    std::string out = ProfileStore(text, section, key, value);
    std::string tmp = path + ".tmp";
    {
      std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
      if (!o) return false;
      o << out;
      if (!o.flush()) return false;
    }
    return ::rename(tmp.c_str(), path.c_str()) == 0;
  }

  // Samba's shares and sessions are read by the server-information backends.
  bool ListShares(std::vector<ServerShare>* out) override {
    out->clear();
    return true;
  }
  bool ListSessions(std::vector<ServerSession>* out) override {
    out->clear();
    return true;
  }
  bool LocalIPv4Addresses(std::vector<std::string>* out) override {
    out->clear();
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    for (struct ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
      if (i->ifa_flags & IFF_LOOPBACK) continue;
      char text[INET_ADDRSTRLEN];
      auto* sin = reinterpret_cast<struct sockaddr_in*>(i->ifa_addr);
      if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) out->push_back(text);
    }
    ::freeifaddrs(list);
    return true;
  }

  // No window on Linux: a box becomes a console message. Questions take their default answer
  // (yes), which is the answer an operator starting a headless monitor wants.
  int ShowMessageBox(void*, const std::string& text, const std::string& caption,
                     unsigned style) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return (style & kMbYesNo) ? kIdYes : kIdOk;
  }
};

}  // namespace

Platform& NativePlatform() {
  static PosixPlatform instance;
  return instance;
}

}  // namespace qvx
