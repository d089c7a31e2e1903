// The Windows platform: the Win32 file, profile and message-box calls, ANSI variants throughout.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <windows.h>
// windows.h first
#include <imagehlp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/session_reader.h"

namespace qvx {

std::string OsErrorText(int os_error) {
  char buf[512] = "";
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(os_error), 0, buf, sizeof buf, nullptr);
  std::string text(buf, n);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(os_error) : text;
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  return path_ + ": " + OsErrorText(os_error_) + " (error " + std::to_string(os_error_) + ")";
}

Status StatusOfOsError(std::string path, int e) {
  const DWORD err = static_cast<DWORD>(e);
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ||
      err == ERROR_FILENAME_EXCED_RANGE || err == ERROR_INVALID_NAME)
    return Status::NotFound(std::move(path), e);
  if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
    return Status::Denied(std::move(path), e);
  return Status::IoError(std::move(path), e);
}

namespace {

// FILETIME (100 ns since 1601) to time_t seconds.
int64_t TimeTFromFileTime(const FILETIME& ft) {
  uint64_t v = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(v / 10000000ULL) - 11644473600LL;
}

// UTF-16 from the network-management API to the ANSI code page; false when it cannot be.
bool ToAnsi(const wchar_t* w, std::string* out) {
  out->clear();
  if (w == nullptr || *w == 0) return true;
  int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  std::string s(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr) <= 0) return false;
  s.resize(static_cast<size_t>(n - 1));
  *out = s;
  return true;
}

// The level-502 records of NetShareEnum and NetSessionEnum (lm.h), as the API lays them out.
struct ShareInfo502 {
  wchar_t* netname;
  DWORD type;
  wchar_t* remark;
  DWORD permissions;
  DWORD max_uses;
  DWORD current_uses;
  wchar_t* path;
  wchar_t* passwd;
  DWORD reserved;
  void* security_descriptor;
};
struct SessionInfo502 {
  wchar_t* cname;
  wchar_t* username;
  DWORD num_opens;
  DWORD time;
  DWORD idle_time;
  DWORD user_flags;
  wchar_t* cltype_name;
  wchar_t* transport;
};
using NetShareEnumFn = DWORD(WINAPI*)(wchar_t*, DWORD, BYTE**, DWORD, DWORD*, DWORD*, DWORD*);
using NetSessionEnumFn = DWORD(WINAPI*)(wchar_t*, wchar_t*, wchar_t*, DWORD, BYTE**, DWORD, DWORD*,
                                        DWORD*, DWORD*);
// Level 3 of NetFileEnum: a file a client holds open. fi3_id is the server's number of the open,
// which the program matches against the low 32 bits of an SMB2 handle's persistent FileId (the
// server keeps no other id of it; an SMB1 FID and the volatile FileId are not told). Not checked
// against a Windows server here: Wine serves no files.
struct FileInfo3 {
  DWORD id;
  DWORD permissions;
  DWORD num_locks;
  wchar_t* pathname;
  wchar_t* username;
};
using NetFileEnumFn = DWORD(WINAPI*)(wchar_t*, wchar_t*, wchar_t*, DWORD, BYTE**, DWORD, DWORD*,
                                     DWORD*, DWORD_PTR*);
using NetApiBufferFreeFn = DWORD(WINAPI*)(void*);
constexpr DWORD kMaxPreferredLength = 0xFFFFFFFF;

// netapi32 is loaded when first needed, so the program starts where it is missing.
struct NetApi {
  NetApi() {
    HMODULE m = LoadLibraryA("netapi32.dll");
    if (!m) return;
    share_enum = reinterpret_cast<NetShareEnumFn>(
        reinterpret_cast<void*>(GetProcAddress(m, "NetShareEnum")));
    session_enum = reinterpret_cast<NetSessionEnumFn>(
        reinterpret_cast<void*>(GetProcAddress(m, "NetSessionEnum")));
    file_enum =
        reinterpret_cast<NetFileEnumFn>(reinterpret_cast<void*>(GetProcAddress(m, "NetFileEnum")));
    buffer_free = reinterpret_cast<NetApiBufferFreeFn>(
        reinterpret_cast<void*>(GetProcAddress(m, "NetApiBufferFree")));
  }
  NetShareEnumFn share_enum = nullptr;
  NetSessionEnumFn session_enum = nullptr;
  NetFileEnumFn file_enum = nullptr;
  NetApiBufferFreeFn buffer_free = nullptr;
};
NetApi& Net() {
  static NetApi api;
  return api;
}

bool StartWinsock() {
  static bool started = [] {
    WSADATA wsa;
    return WSAStartup(MAKEWORD(1, 1), &wsa) == 0;
  }();
  return started;
}

class Win32File : public WritableFile {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { CloseHandle(h_); }
  bool Write(const void* data, size_t size, bool overlapped) override {
    // A short write (a full disk) goes on with the rest; a write of nothing is a failure.
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      DWORD written = 0;
      if (!WriteOnce(p, static_cast<DWORD>(size), overlapped, &written) || written == 0)
        return false;
      p += written;
      size -= written;
    }
    return true;
  }
  bool Flush() override { return FlushFileBuffers(h_) != FALSE; }
  bool Size(uint64_t* size) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h_, &li)) return false;
    *size = static_cast<uint64_t>(li.QuadPart);
    return true;
  }
  bool Truncate(uint64_t size) override {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) && SetEndOfFile(h_);
  }
  bool Identity(FileIdentity* id) override {
    BY_HANDLE_FILE_INFORMATION fi;
    if (!GetFileInformationByHandle(h_, &fi)) return false;
    id->volume = fi.dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(fi.nFileIndexHigh) << 32) | fi.nFileIndexLow;
    id->links = fi.nNumberOfLinks;
    return true;
  }

 private:
  bool WriteOnce(const char* data, DWORD size, bool overlapped, DWORD* written) {
    if (!overlapped) return WriteFile(h_, data, size, written, nullptr) != FALSE;
    // Overlapped write at the end of the file: offset 0xFFFFFFFF:0xFFFFFFFF appends.
    OVERLAPPED ov{};
    ov.Offset = 0xFFFFFFFF;
    ov.OffsetHigh = 0xFFFFFFFF;
    ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, "olp");
    BOOL ok = WriteFile(h_, data, size, written, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(h_, &ov, written, TRUE);
    if (ov.hEvent) CloseHandle(ov.hEvent);
    return ok != FALSE;
  }

  HANDLE h_;
};

class Win32Platform : public Platform {
 public:
  LocalTime Now() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    LocalTime lt;
    lt.year = st.wYear;
    lt.month = st.wMonth;
    lt.day = st.wDay;
    lt.hour = st.wHour;
    lt.minute = st.wMinute;
    lt.second = st.wSecond;
    lt.wday = st.wDayOfWeek;
    lt.t = static_cast<int64_t>(std::time(nullptr));
    return lt;
  }
  void SleepMs(int ms) override { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }
  long LastError() override { return static_cast<long>(GetLastError()); }

  std::unique_ptr<WritableFile> OpenWritable(const std::string& path, OpenMode mode) override {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           mode == OpenMode::kAppend ? OPEN_ALWAYS : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (mode == OpenMode::kAppend) SetFilePointer(h, 0, nullptr, FILE_END);
    return std::make_unique<Win32File>(h);
  }
  bool RemoveFile(const std::string& path) override { return DeleteFileA(path.c_str()) != FALSE; }
  bool FileExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool IsDirectory(const std::string& path) override {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool MakeSureDirectoryPathExists(const std::string& path_in) override {
    // The image-help call splits at backslashes only; "C:/logs/x.log" is a path too.
    std::string path = path_in;
    for (char& c : path)
      if (c == '/') c = '\\';
    if (!::MakeSureDirectoryPathExists(path.c_str())) return false;
    // The call also succeeds when a file stands where a folder should be; the logs would then
    // fail to open later, so check that the folder is really there.
    size_t cut = path.find_last_of('\\');
    return cut == std::string::npos || cut == 0 || IsDirectory(path.substr(0, cut));
  }
  std::string ExecutablePath() override {
    char buf[513];
    DWORD n = GetModuleFileNameA(nullptr, buf, 512);
    if (n == 0 || n >= 512) return std::string();
    return std::string(buf, n);
  }
  std::string CurrentDirectory() override {
    char buf[MAX_PATH + 1];
    DWORD n = GetCurrentDirectoryA(MAX_PATH, buf);
    return n && n < MAX_PATH ? std::string(buf, n) : std::string(".");
  }
  std::string SystemDirectory() override {
    char buf[MAX_PATH + 1];
    UINT n = GetSystemDirectoryA(buf, MAX_PATH);
    return n ? std::string(buf, n) : std::string("C:\\Windows\\System32");
  }
  bool ReadWholeFile(const std::string& path, std::string* contents) override {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    contents->clear();
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) contents->append(buf, n);
    CloseHandle(h);
    return true;
  }

  bool RenameFile(const std::string& from, const std::string& to) override {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  Status GetFileInfo(const std::string& path, FileInfo* out) override {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
      return StatusOfOsError(path, static_cast<int>(GetLastError()));
    *out = FileInfo();
    out->is_directory = (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out->kind = out->is_directory                              ? FileKind::kDirectory
                : (a.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) ? FileKind::kDevice
                                                               : FileKind::kRegular;
    out->size =
        out->is_directory ? 0 : (static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
    out->creation = TimeTFromFileTime(a.ftCreationTime);
    out->last_write = TimeTFromFileTime(a.ftLastWriteTime);
    out->last_access = TimeTFromFileTime(a.ftLastAccessTime);
    return Status::Ok();
  }
  Status PathIdentity(const std::string& path, FileIdentity* out) override {
    // No access asked for, and every sharing allowed: only the file's facts are read.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      return StatusOfOsError(path, static_cast<int>(e));
    }
    BY_HANDLE_FILE_INFORMATION fi;
    const BOOL ok = GetFileInformationByHandle(h, &fi);
    CloseHandle(h);
    if (!ok) return StatusOfOsError(path, static_cast<int>(GetLastError()));
    out->volume = fi.dwVolumeSerialNumber;
    out->index = (static_cast<uint64_t>(fi.nFileIndexHigh) << 32) | fi.nFileIndexLow;
    out->links = fi.nNumberOfLinks;
    return Status::Ok();
  }

  bool RunChild(const std::string& command_line, int timeout_ms, bool want_stdout, bool want_stderr,
                size_t max_output, ChildResult* out) override {
    *out = ChildResult();
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return false;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);  // only the write end goes to the child
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = want_stdout ? wr : GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = want_stderr ? wr : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    std::string line = command_line;
    BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &si, &pi);
    DWORD err = GetLastError();
    CloseHandle(wr);
    if (!ok) {
      CloseHandle(rd);
      SetLastError(err);
      return false;
    }
    out->started = true;
    // Read while the child runs, so a child with more to say than the pipe holds still ends.
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms > 0 ? timeout_ms : 0);
    bool ended = false, timed_out = false;
    char buf[4096];
    for (;;) {
      DWORD avail = 0;
      bool pipe_open = PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr) != FALSE;
      if (pipe_open && avail > 0) {
        DWORD got = 0;
        if (ReadFile(rd, buf, sizeof buf, &got, nullptr) && got > 0) {
          size_t room = max_output > out->output.size() ? max_output - out->output.size() : 0;
          out->output.append(buf, got < room ? got : room);
        }
        continue;
      }
      if (ended && (!pipe_open || avail == 0)) break;
      ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        timed_out = !ended;
        break;
      }
      DWORD wait = static_cast<DWORD>(deadline - now);
      if (WaitForSingleObject(pi.hProcess, wait < 10 ? wait : 10) == WAIT_OBJECT_0) ended = true;
    }
    if (timed_out) {
      TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, 1000);
    } else {
      DWORD code = 0;
      GetExitCodeProcess(pi.hProcess, &code);
      out->exit_code = static_cast<int>(code);
      out->finished = true;
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(rd);
    if (timed_out) SetLastError(WAIT_TIMEOUT);
    return !timed_out;
  }

  int GetProfileInt(const std::string& section, const std::string& key, int def,
                    const std::string& path) override {
    return static_cast<int>(GetPrivateProfileIntA(section.c_str(), key.c_str(), def, path.c_str()));
  }
  size_t GetProfileString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, size_t size,
                          const std::string& path) override {
    return GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf,
                                    static_cast<DWORD>(size), path.c_str());
  }
  bool WriteProfileString(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) override {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
           FALSE;
  }
  // Level 502 of the local server; a text that cannot be converted ends the list there.
  bool ListShares(std::vector<ServerShare>* out) override {
    out->clear();
    NetApi& api = Net();
    if (!api.share_enum || !api.buffer_free) return false;
    DWORD resume = 0, rc;
    do {
      BYTE* buf = nullptr;
      DWORD read = 0, total = 0;
      rc = api.share_enum(nullptr, 502, &buf, kMaxPreferredLength, &read, &total, &resume);
      if (rc != NO_ERROR && rc != ERROR_MORE_DATA) break;
      if (buf == nullptr) break;
      auto* e = reinterpret_cast<ShareInfo502*>(buf);
      for (DWORD i = 0; i < read; ++i) {
        ServerShare s;
        if (!ToAnsi(e[i].netname, &s.name) || !ToAnsi(e[i].path, &s.path) ||
            !ToAnsi(e[i].remark, &s.remark)) {
          api.buffer_free(buf);
          return true;
        }
        s.type = e[i].type;
        s.permissions = e[i].permissions;
        s.max_uses = e[i].max_uses;
        s.current_uses = e[i].current_uses;
        out->push_back(s);
      }
      api.buffer_free(buf);
    } while (rc == ERROR_MORE_DATA);
    return true;
  }
  // The enumeration runs on a thread of its own (the service may be slow to answer); the caller
  // gets the last list read. Never destroyed: a query may still be under way at the end.
  SessionReader& Sessions() {
    static SessionReader* reader =
        new SessionReader([this](std::vector<ServerSession>* out) { return EnumSessions(out); },
                          std::chrono::milliseconds(1000), std::chrono::milliseconds(10000));
    return *reader;
  }
  bool ListSessions(std::vector<ServerSession>* out) override { return Sessions().List(out); }
  // The files clients hold open, read like the sessions, on demand.
  OpenFilesReader& OpenFileReader() {
    static OpenFilesReader* reader =
        new OpenFilesReader([this](ServerOpenFiles* out) { return EnumOpenFiles(out); },
                            std::chrono::milliseconds(1000), std::chrono::milliseconds(10000));
    return *reader;
  }
  OpenFilesSnapshot ListOpenFiles() override { return QVX_OpenFilesSnapshotOf(OpenFileReader()); }
  void AskOpenFiles() override { OpenFileReader().Ask(); }
  bool EnumOpenFiles(ServerOpenFiles* out) {
    *out = ServerOpenFiles();
    NetApi& api = Net();
    if (!api.file_enum || !api.buffer_free) return false;
    DWORD_PTR resume = 0;
    DWORD rc;
    do {
      BYTE* buf = nullptr;
      DWORD read = 0, total = 0;
      rc = api.file_enum(nullptr, nullptr, nullptr, 3, &buf, kMaxPreferredLength, &read, &total,
                         &resume);
      if (rc != NO_ERROR && rc != ERROR_MORE_DATA) {
        if (buf) api.buffer_free(buf);
        return false;
      }
      if (buf == nullptr) break;
      auto* e = reinterpret_cast<FileInfo3*>(buf);
      for (DWORD i = 0; i < read; ++i) {
        ServerOpenFile f;
        if (!ToAnsi(e[i].pathname, &f.path)) continue;
        f.persistent = e[i].id;
        f.persistent_mask = 0xFFFFFFFFu;
        out->files.push_back(f);
      }
      api.buffer_free(buf);
    } while (rc == ERROR_MORE_DATA);
    return true;
  }
  void ExpireSessionCache() override { Sessions().Expire(); }
  bool SessionListPending() override { return Sessions().Pending(); }

  bool EnumSessions(std::vector<ServerSession>* out) {
    out->clear();
    NetApi& api = Net();
    if (!api.session_enum || !api.buffer_free) return false;
    DWORD resume = 0, rc;
    do {
      BYTE* buf = nullptr;
      DWORD read = 0, total = 0;
      rc = api.session_enum(nullptr, nullptr, nullptr, 502, &buf, kMaxPreferredLength, &read,
                            &total, &resume);
      // A failed call is no answer: an empty or partial list would read as clients gone.
      if (rc != NO_ERROR && rc != ERROR_MORE_DATA) {
        if (buf) api.buffer_free(buf);
        out->clear();
        return false;
      }
      if (buf == nullptr) break;
      auto* e = reinterpret_cast<SessionInfo502*>(buf);
      for (DWORD i = 0; i < read; ++i) {
        ServerSession s;
        if (!ToAnsi(e[i].cltype_name, &s.cltype_name) || !ToAnsi(e[i].cname, &s.client) ||
            !ToAnsi(e[i].transport, &s.transport) || !ToAnsi(e[i].username, &s.user)) {
          api.buffer_free(buf);
          return true;
        }
        s.num_opens = e[i].num_opens;
        s.time_sec = e[i].time;
        s.idle_sec = e[i].idle_time;
        s.user_flags = e[i].user_flags;
        out->push_back(s);
      }
      api.buffer_free(buf);
    } while (rc == ERROR_MORE_DATA);
    return true;
  }
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override {
    out->clear();
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return AddressListResult::kStartupFailed;
    // Any IPv4 socket answers the address-list query; a datagram socket needs no privileges.
    SOCKET s = WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s == INVALID_SOCKET) {
      WSACleanup();
      return AddressListResult::kSocketFailed;
    }
    alignas(SOCKET_ADDRESS_LIST) char buf[1024];
    DWORD got = 0;
    const bool ok = WSAIoctl(s, SIO_ADDRESS_LIST_QUERY, nullptr, 0, buf, sizeof buf - 1, &got,
                             nullptr, nullptr) == 0;
    if (ok) {
      const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buf);
      for (INT i = 0; i < list->iAddressCount; ++i) {
        const SOCKET_ADDRESS& a = list->Address[i];
        if (!a.lpSockaddr || a.lpSockaddr->sa_family != AF_INET) continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(a.lpSockaddr);
        // An adapter without an IPv4 address (Wine lists it as 0.0.0.0) is none of the machine's.
        if (sin->sin_addr.s_addr == 0) continue;
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&sin->sin_addr);
        char text[32];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
        out->push_back(text);
      }
    }
    shutdown(s, SD_BOTH);
    closesocket(s);
    WSACleanup();
    return ok ? AddressListResult::kOk : AddressListResult::kQueryFailed;
  }
  bool HostByName(const std::string& name, std::string* ip, int* err) override {
    if (!StartWinsock()) {
      *err = WSAGetLastError();
      return false;
    }
    hostent* h = gethostbyname(name.c_str());
    if (!h || !h->h_addr_list || !h->h_addr_list[0]) {
      *err = WSAGetLastError();
      return false;
    }
    in_addr a;
    std::memcpy(&a, h->h_addr_list[0], sizeof a);
    *ip = inet_ntoa(a);
    *err = 0;
    return true;
  }
  bool HostByAddr(const std::string& ip, std::string* name, int* err) override {
    if (!StartWinsock()) {
      *err = WSAGetLastError();
      return false;
    }
    // An address of either family, as text.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* res = nullptr;
    if (getaddrinfo(ip.c_str(), nullptr, &hints, &res) != 0 || !res) {
      *err = WSAGetLastError();
      return false;
    }
    char host[NI_MAXHOST];
    const int rc = getnameinfo(res->ai_addr, static_cast<socklen_t>(res->ai_addrlen), host,
                               sizeof host, nullptr, 0, NI_NAMEREQD);
    freeaddrinfo(res);
    if (rc != 0) {
      *err = WSAGetLastError();
      return false;
    }
    *name = host;
    *err = 0;
    return true;
  }

  int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                     unsigned style) override {
    return MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), style);
  }
};

}  // namespace

Platform& NativePlatform() {
  static Win32Platform instance;
  return instance;
}

namespace {
void (*g_on_fatal)() = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  static volatile LONG once = 0;
  if (InterlockedExchange(&once, 1) == 0 && g_on_fatal) g_on_fatal();
  return g_previous_filter ? g_previous_filter(info) : EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

void InstallFatalHandler(void (*on_fatal)()) {
  const bool first = g_on_fatal == nullptr;
  g_on_fatal = on_fatal;
  if (first) g_previous_filter = SetUnhandledExceptionFilter(OnUnhandledException);
}

void AppendForCrash(const char* path, const void* data, size_t size) {
  if (path == nullptr || path[0] == '\0' || size == 0) return;
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(h, p, static_cast<DWORD>(size), &n, nullptr) || n == 0) break;
    p += n;
    size -= n;
  }
  CloseHandle(h);
}

}  // namespace qvx
