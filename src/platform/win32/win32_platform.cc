// The Windows platform: the Win32 file, profile and message-box calls, ANSI variants throughout.
#include <windows.h>
// windows.h first
#include <imagehlp.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace qvx {
namespace {

class Win32File : public WritableFile {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { CloseHandle(h_); }
  bool Write(const void* data, size_t size, bool overlapped) override {
    DWORD written = 0;
    if (!overlapped) {
      if (!WriteFile(h_, data, static_cast<DWORD>(size), &written, nullptr)) return false;
      return written != 0 || size == 0;
    }
    // Overlapped write at the end of the file: offset 0xFFFFFFFF:0xFFFFFFFF appends.
    OVERLAPPED ov{};
    ov.Offset = 0xFFFFFFFF;
    ov.OffsetHigh = 0xFFFFFFFF;
    ov.hEvent = CreateEventA(nullptr, FALSE, FALSE, "olp");
    BOOL ok = WriteFile(h_, data, static_cast<DWORD>(size), &written, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
      ok = GetOverlappedResult(h_, &ov, &written, TRUE);
    if (ov.hEvent) CloseHandle(ov.hEvent);
    return ok != FALSE;
  }
  bool Flush() override { return FlushFileBuffers(h_) != FALSE; }

 private:
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
  bool MakeSureDirectoryPathExists(const std::string& path) override {
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
  // NetShareEnum / NetSessionEnum level 502 join here.
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

}  // namespace qvx
