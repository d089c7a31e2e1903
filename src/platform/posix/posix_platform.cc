// The Linux platform: POSIX files, the C library's clock, an INI implementation of our own with
// the Win32 profile semantics, and message boxes written to the console.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <limits.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/samba.h"
#include "platform/profile.h"

extern char** environ;

namespace qvx {

std::string OsErrorText(int os_error) {
  char buf[256];
  // The GNU strerror_r returns its text, which may or may not be buf.
  return strerror_r(os_error, buf, sizeof buf);
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  return path_ + ": " + OsErrorText(os_error_) + " (error " + std::to_string(os_error_) + ")";
}

Status StatusOfOsError(std::string path, int err) {
  // A name that runs through something that is no folder, or that no file system could hold,
  // is not there either.
  if (err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG)
    return Status::NotFound(std::move(path), err);
  if (err == EACCES || err == EPERM) return Status::Denied(std::move(path), err);
  return Status::IoError(std::move(path), err);
}

namespace {

int64_t Seconds(const struct statx_timestamp& ts) { return static_cast<int64_t>(ts.tv_sec); }

// Splits a command line at blanks; double quotes group words with blanks in them.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string w;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (any) words.push_back(w);
      w.clear();
      any = false;
    } else {
      w += c;
      any = true;
    }
  }
  if (any) words.push_back(w);
  return words;
}

bool IsExecutableFile(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

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
  bool Size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  bool Truncate(uint64_t size) override {
    int rc;
    while ((rc = ::ftruncate(fd_, static_cast<off_t>(size))) != 0 && errno == EINTR) {
    }
    return rc == 0;
  }
  bool Identity(FileIdentity* id) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    id->volume = static_cast<uint64_t>(st.st_dev);
    id->index = static_cast<uint64_t>(st.st_ino);
    id->links = static_cast<uint64_t>(st.st_nlink);
    return true;
  }

 private:
  int fd_;
};

class PosixChannel : public MessageChannel {
 public:
  PosixChannel(int fd, bool stream) : fd_(fd), stream_(stream) {}
  ~PosixChannel() override { ::close(fd_); }
  bool Send(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    if (!stream_) return ::send(fd_, p, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    while (size > 0) {
      const ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  long Receive(char* buf, size_t cap, int timeout_ms) override {
    pollfd p{fd_, POLLIN, 0};
    int rc;
    while ((rc = ::poll(&p, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    if (rc < 0) return -1;
    if (rc == 0) return 0;
    ssize_t n;
    while ((n = ::recv(fd_, buf, cap, 0)) < 0 && errno == EINTR) {
    }
    return n > 0 ? static_cast<long>(n) : -1;
  }

 private:
  int fd_;
  bool stream_;
};

std::unique_ptr<MessageChannel> OpenPosixChannel(const std::string& target, std::string* error) {
  if (target.rfind("unix:", 0) == 0) {
    const std::string path = target.substr(5);
    struct sockaddr_un sa {};
    sa.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof sa.sun_path) {
      *error = "no socket path";
      return nullptr;
    }
    std::memcpy(sa.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      *error = path + ": " + std::strerror(errno);
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixChannel>(fd, false);
  }
  const bool relp = target.rfind("relp:", 0) == 0;
  if (relp || target.rfind("tcp:", 0) == 0) {
    const std::string rest = target.substr(relp ? 5 : 4);
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      *error = relp ? "not relp:HOST:PORT" : "not tcp:HOST:PORT";
      return nullptr;
    }
    const std::string host = rest.substr(0, colon), port = rest.substr(colon + 1);
    struct addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &res); rc != 0) {
      *error = host + ": " + ::gai_strerror(rc);
      return nullptr;
    }
    int fd = -1;
    for (struct addrinfo* a = res; a && fd < 0; a = a->ai_next) {
      fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
      if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
        *error = target + ": " + std::strerror(errno);
        ::close(fd);
        fd = -1;
      }
    }
    ::freeaddrinfo(res);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixChannel>(fd, true);
  }
  *error = "neither unix:PATH nor tcp:HOST:PORT nor relp:HOST:PORT: " + target;
  return nullptr;
}

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
  bool ListDirectory(const std::string& path, std::vector<std::string>* names) override {
    DIR* d = ::opendir(path.c_str());
    if (d == nullptr) return false;
    names->clear();
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names->push_back(n);
    }
    ::closedir(d);
    return true;
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
  void OpenSystemLog(const std::string& ident) override {
    // openlog keeps the pointer: the text must outlive the run.
    static std::string kept;
    kept = ident;
    ::openlog(kept.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
    syslog_open_ = true;
  }
  std::unique_ptr<MessageChannel> OpenMessageChannel(const std::string& target,
                                                     std::string* error) override {
    return OpenPosixChannel(target, error);
  }
  std::string HostName() override {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
  }
  void SystemLog(bool error, const std::string& text) override {
    if (syslog_open_) ::syslog(error ? LOG_ERR : LOG_WARNING, "%s", text.c_str());
  }
  std::string CurrentDirectory() override {
    char buf[PATH_MAX + 1];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
  }
  bool ReadWholeFile(const std::string& path, std::string* contents) override {
    // A FIFO would block the reader for ever, a device never end: only files are read.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    *contents = ss.str();
    return true;
  }
  bool RenameFile(const std::string& from, const std::string& to) override {
    // Never replace an existing target, as MoveFileEx without MOVEFILE_REPLACE_EXISTING.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL && errno != ENOSYS) return false;
      // File systems without RENAME_NOREPLACE: a hard link fails on an existing target too.
      if (::link(from.c_str(), to.c_str()) != 0) return false;
      if (::unlink(from.c_str()) != 0) return false;
    }
    // Write-through: the directory entry is on disk before the caller goes on.
    std::string dir = to.substr(0, to.rfind('/') == std::string::npos ? 0 : to.rfind('/'));
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
    return true;
  }
  Status GetFileInfo(const std::string& path, FileInfo* out) override {
    struct statx sx;
    // The change time is asked for too: it stands in for the birth time where there is none.
    unsigned mask = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_ATIME | STATX_CTIME | STATX_BTIME;
    if (::statx(AT_FDCWD, path.c_str(), 0, mask, &sx) != 0) return StatusOfOsError(path, errno);
    *out = FileInfo();
    out->is_directory = S_ISDIR(sx.stx_mode);
    out->kind = S_ISREG(sx.stx_mode)                           ? FileKind::kRegular
                : out->is_directory                            ? FileKind::kDirectory
                : S_ISFIFO(sx.stx_mode)                        ? FileKind::kFifo
                : S_ISCHR(sx.stx_mode) || S_ISBLK(sx.stx_mode) ? FileKind::kDevice
                                                               : FileKind::kOther;
    out->size = out->is_directory ? 0 : static_cast<uint64_t>(sx.stx_size);
    out->last_write = Seconds(sx.stx_mtime);
    out->last_access = Seconds(sx.stx_atime);
    // Without a birth time the inode change time is the nearest thing to a creation time.
    out->creation = (sx.stx_mask & STATX_BTIME) ? Seconds(sx.stx_btime) : Seconds(sx.stx_ctime);
    return Status::Ok();
  }
  Status PathIdentity(const std::string& path, FileIdentity* out) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return StatusOfOsError(path, errno);
    out->volume = static_cast<uint64_t>(st.st_dev);
    out->index = static_cast<uint64_t>(st.st_ino);
    out->links = static_cast<uint64_t>(st.st_nlink);
    return Status::Ok();
  }

  bool RunChild(const std::string& command_line, int timeout_ms, bool want_stdout, bool want_stderr,
                size_t max_output, ChildResult* out) override {
    *out = ChildResult();
    std::vector<std::string> words = SplitCommandLine(command_line);
    if (words.empty()) {
      errno = ENOENT;
      return false;
    }
    // Like CreateProcess: the folder of the executable first, then the search path.
    std::string program;
    if (words[0].find('/') != std::string::npos) {
      program = words[0];
    } else {
      std::string exe = ExecutablePath();
      std::string beside = exe.substr(0, exe.rfind('/') + 1) + words[0];
      if (!exe.empty() && IsExecutableFile(beside)) {
        program = beside;
      } else {
        const char* path_env = std::getenv("PATH");
        std::string paths = path_env ? path_env : "/usr/bin:/bin";
        size_t pos = 0;
        while (program.empty() && pos <= paths.size()) {
          size_t e = paths.find(':', pos);
          if (e == std::string::npos) e = paths.size();
          std::string cand = paths.substr(pos, e - pos);
          cand = (cand.empty() ? std::string(".") : cand) + "/" + words[0];
          if (IsExecutableFile(cand)) program = cand;
          pos = e + 1;
        }
      }
    }
    if (program.empty() || !IsExecutableFile(program)) {
      errno = ENOENT;
      return false;
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (want_stdout) posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    if (want_stderr) posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      errno = rc;
      return false;
    }
    out->started = true;

    // Drain the pipe until it closes or time runs out; what does not fit is read and dropped so
    // the child never blocks on a full pipe.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool timed_out = false;
    char buf[8192];
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      if (left <= 0) {
        timed_out = true;
        break;
      }
      struct pollfd p {
        fds[0], POLLIN, 0
      };
      int n = ::poll(&p, 1, static_cast<int>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) continue;
      ssize_t got = ::read(fds[0], buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // every writer has gone
      size_t room = max_output > out->output.size() ? max_output - out->output.size() : 0;
      out->output.append(buf, std::min(room, static_cast<size_t>(got)));
    }
    ::close(fds[0]);

    int status = 0;
    if (!timed_out) {
      // The pipe closed; the child ends now, but hold it to the same deadline.
      for (;;) {
        pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) {
          timed_out = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    if (timed_out) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      errno = ETIMEDOUT;
      return false;
    }
    out->finished = true;
    out->exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }

  // A profile file is parsed once and kept while its stamps (device, inode, size, modification
  // time) stay the same: reading the options asks for dozens of keys.
  std::optional<std::string> ProfileValue(const std::string& section, const std::string& key,
                                          const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    std::lock_guard<std::mutex> lock(profile_mu_);
    const bool same = profile_ && profile_path_ == path && profile_stamp_[0] == st.st_dev &&
                      profile_stamp_[1] == st.st_ino && profile_stamp_[2] == st.st_size &&
                      profile_stamp_[3] == st.st_mtim.tv_sec &&
                      profile_stamp_[4] == st.st_mtim.tv_nsec;
    if (!same) {
      std::string text;
      if (!ReadWholeFile(path, &text)) return std::nullopt;
      profile_ = std::make_unique<ProfileIndex>(text);
      profile_path_ = path;
      const int64_t stamp[5] = {static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino),
                                static_cast<int64_t>(st.st_size),
                                static_cast<int64_t>(st.st_mtim.tv_sec),
                                static_cast<int64_t>(st.st_mtim.tv_nsec)};
      std::copy(stamp, stamp + 5, profile_stamp_);
    }
    return profile_->Lookup(section, key);
  }
  std::mutex profile_mu_;
  std::unique_ptr<ProfileIndex> profile_;
  std::string profile_path_;
  int64_t profile_stamp_[5] = {};

  int GetProfileInt(const std::string& section, const std::string& key, int def,
                    const std::string& path) override {
    auto v = ProfileValue(section, key, path);
    return v ? ProfileValueToInt(*v, def) : def;
  }
  size_t GetProfileString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, size_t size,
                          const std::string& path) override {
    if (size == 0) return 0;
    std::optional<std::string> v = ProfileValue(section, key, path);
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
    std::lock_guard<std::mutex> lock(profile_mu_);
    profile_.reset();  // whatever the stamps say, the next read parses the new text
    return ::rename(tmp.c_str(), path.c_str()) == 0;
  }

  // Samba's shares come from its configuration, its sessions from smbstatus.
  bool ListShares(std::vector<ServerShare>* out) override { return SambaListShares(out); }
  bool ListSessions(std::vector<ServerSession>* out) override { return SambaListSessions(out); }
  void ExpireSessionCache() override { SambaExpireSessions(); }
  bool SessionListPending() override { return SambaSessionsPending(); }
  OpenFilesSnapshot ListOpenFiles() override { return SambaOpenFiles(); }
  void AskOpenFiles() override { SambaAskOpenFiles(); }
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override {
    out->clear();
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return AddressListResult::kQueryFailed;
    for (struct ifaddrs* i = list; i; i = i->ifa_next) {
      if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
      if (i->ifa_flags & IFF_LOOPBACK) continue;
      char text[INET_ADDRSTRLEN];
      auto* sin = reinterpret_cast<struct sockaddr_in*>(i->ifa_addr);
      if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) out->push_back(text);
    }
    ::freeifaddrs(list);
    return AddressListResult::kOk;
  }

  void AdviseLargePages(void* p, size_t size) override {
    const uintptr_t page = 2u << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + size) & ~(page - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
  bool HostByName(const std::string& name, std::string* ip, int* err) override {
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    struct addrinfo* res = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
      *err = rc;
      return false;
    }
    char text[INET_ADDRSTRLEN];
    auto* sin = reinterpret_cast<struct sockaddr_in*>(res->ai_addr);
    bool ok = ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(res);
    if (ok) *ip = text;
    *err = ok ? 0 : errno;
    return ok;
  }
  bool HostByAddr(const std::string& ip, std::string* name, int* err) override {
    // An address of either family, as text; what does not parse fails the look-up.
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    struct addrinfo* res = nullptr;
    if (::getaddrinfo(ip.c_str(), nullptr, &hints, &res) != 0 || !res) {
      *err = EAI_NONAME;
      return false;
    }
    char host[NI_MAXHOST];
    int rc =
        ::getnameinfo(res->ai_addr, res->ai_addrlen, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    ::freeaddrinfo(res);
    if (rc != 0) {
      *err = rc;
      return false;
    }
    *name = host;
    *err = 0;
    return true;
  }

  // No window on Linux: a box becomes a console message. Questions take their default answer
  // (yes), which is the answer an operator starting a headless monitor wants.
  int ShowMessageBox(void*, const std::string& text, const std::string& caption,
                     unsigned style) override {
    // A question is answered with its first button, and the answer is shown with it.
    if (style & kMbYesNo) {
      std::fprintf(stderr, "[%s] %s -> Yes\n", caption.c_str(), text.c_str());
      return kIdYes;
    }
    if (style & kMbOkCancel) {
      std::fprintf(stderr, "[%s] %s -> OK\n", caption.c_str(), text.c_str());
      return kIdOk;
    }
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return kIdOk;
  }

 private:
  std::atomic<bool> syslog_open_{false};
};

}  // namespace

Platform& NativePlatform() {
  static PosixPlatform instance;
  return instance;
}

namespace {
void (*g_on_fatal)() = nullptr;
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
struct sigaction g_previous[sizeof kFatalSignals / sizeof kFatalSignals[0]];

void OnFatalSignal(int sig) {
  static volatile sig_atomic_t once = 0;
  if (once == 0) {
    once = 1;
    if (g_on_fatal) g_on_fatal();
  }
  // The previous handler (a sanitizer's or fuzzer's report, else the default death) takes over:
  // at once for a raised signal, on return for a fault that happens again.
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i)
    if (kFatalSignals[i] == sig) sigaction(sig, &g_previous[i], nullptr);
  raise(sig);
}
}  // namespace

void InstallFatalHandler(void (*on_fatal)()) {
  const bool first = g_on_fatal == nullptr;
  g_on_fatal = on_fatal;
  if (!first) return;
  struct sigaction sa {};
  sa.sa_handler = OnFatalSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_NODEFER;
  for (size_t i = 0; i < sizeof kFatalSignals / sizeof kFatalSignals[0]; ++i)
    sigaction(kFatalSignals[i], &sa, &g_previous[i]);
}

void AppendForCrash(const char* path, const void* data, size_t size) {
  if (path == nullptr || path[0] == '\0' || size == 0) return;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n <= 0) break;
    p += n;
    size -= static_cast<size_t>(n);
  }
  ::close(fd);
}

}  // namespace qvx
