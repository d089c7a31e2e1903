// The only door to the operating system. Every OS call the program makes goes through the
// Platform object returned by platform(); Windows and Linux each implement it once, and tests
// swap in a fake (tests/support) so that no handler test needs a real clock, network or server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/os_rules.h"
#include "platform/status.h"

namespace qvx {

inline constexpr char kPathSep = os::kPathSep;

// Broken-down local time plus the matching time_t.
struct LocalTime {
  int year = 1970;  // e.g. 2026
  int month = 1;    // 1-12
  int day = 1;      // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int wday = 4;  // 0 = Sunday
  int64_t t = 0;
};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t QVX_DaysFromCivil(int64_t year, unsigned month, unsigned day);
// How many seconds a local time is ahead of UTC: what its calendar fields say beyond the epoch
// second they stand for.
int64_t QVX_UtcOffsetSeconds(const LocalTime& when);

// How a writable file is opened.
enum class OpenMode {
  kAppend,        // open-or-create, write position at the end
  kCreateAlways,  // truncate or create
};

// Which file a path or an open handle is: device and inode on Linux, volume serial number and
// file index on Windows. links is the file's number of names: 0 once it was deleted while open.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t links = 0;
  bool SameFile(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
};

// An open file the program writes lines into (diagnostic logs, the access log).
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes exactly size bytes at the end of the file. With overlapped set the write is issued
  // the asynchronous way and waited for; the result on disk is the same.
  virtual bool Write(const void* data, size_t size, bool overlapped) = 0;
  virtual bool Flush() = 0;
  // The size of the file now, through the open handle (it may have been renamed meanwhile).
  virtual bool Size(uint64_t* size) = 0;
  // Cuts the file back to size bytes (what a failed write left behind); the next write goes to
  // the new end.
  virtual bool Truncate(uint64_t size) = 0;
  // The identity of the file the handle holds, wherever its name has gone meanwhile.
  virtual bool Identity(FileIdentity* id) = 0;
};

// Message box styles, as the program uses them.
enum MessageBoxIcon : unsigned {
  kMbOk = 0,
  kMbIconInformation = 0x40,
  kMbIconStop = 0x10,
  kMbIconQuestion = 0x20,
  kMbYesNo = 0x04,
  kMbOkCancel = 0x01,
};
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// One share of the local server (what NetShareEnum level 502 gives).
struct ServerShare {
  std::string name;  // share name
  std::string path;  // local path of its folder
  std::string remark;
  unsigned type = 0;  // 0 disk, 1 print queue, 3 IPC, ...
  unsigned permissions = 0;
  unsigned max_uses = 0xFFFFFFFFu;  // unlimited
  unsigned current_uses = 0;
};

// One session of the local server (what NetSessionEnum level 502 gives).
struct ServerSession {
  std::string client;  // client computer name or IPv4 address, as the server reports it
  std::string user;
  unsigned long time_sec = 0;
  unsigned long idle_sec = 0;
  unsigned num_opens = 0;
  unsigned user_flags = 0;
  std::string cltype_name;
  std::string transport;
};

// One file a client of the local server holds open, with what names its handle on the wire.
// Samba: an open of `smbstatus -j` joined with its record in the server's table of open handles,
// which holds the SMB2 FileId (persistent, volatile; an SMB1 FID is the volatile id). Windows:
// NetFileEnum level 3, whose fi3_id is taken for the low 32 bits of the persistent FileId (no
// volatile half, no FID).
struct ServerOpenFile {
  uint64_t persistent = 0;
  uint64_t persistent_mask = ~uint64_t{0};  // the bits of the persistent half the server gives
  uint64_t volatile_id = 0;
  bool volatile_known = false;
  std::string client;  // address of the connection the handle belongs to; empty when not told
  uint16_t client_port = 0;
  std::string path;        // local path of the file
  std::string share_path;  // local folder of the share it was opened on; empty when not told
};

// A tree connection of the local server: its SMB2 TreeId and share.
struct ServerTree {
  uint32_t tree_id = 0;
  std::string share;
};

struct ServerOpenFiles {
  std::vector<ServerOpenFile> files;
  std::vector<ServerTree> trees;  // SMB2 trees where the server tells them
};

// What the platform holds of the server's open files. Never waits: the list is read on a thread
// of its own, as the sessions are.
struct OpenFilesSnapshot {
  std::shared_ptr<const ServerOpenFiles> list;  // the last list read; nullptr before any
  uint64_t reads = 0;   // lists read so far: one asked for now comes with a higher count
  bool failed = false;  // the newest read failed (and is not tried again for a while)
  bool served = false;  // false where no server can be asked (a replay, a test)
};

// What a path names. Only a regular file is safe to open for reading: a FIFO waits for a writer,
// a device may never end.
enum class FileKind { kRegular, kDirectory, kFifo, kDevice, kOther };

// What the file system keeps about one path (GetFileAttributesExA / statx). Times are time_t
// seconds; sizes are 64-bit.
struct FileInfo {
  bool is_directory = false;
  FileKind kind = FileKind::kRegular;  // kDirectory exactly when is_directory
  uint64_t size = 0;                   // 0 for a folder
  int64_t creation = 0;
  int64_t last_write = 0;
  int64_t last_access = 0;
};

enum class AddressListResult { kOk, kStartupFailed, kSocketFailed, kQueryFailed };

// The outcome of a console command run with its output on a pipe.
struct ChildResult {
  bool started = false;   // the process could be created
  bool finished = false;  // it ended within the time limit (otherwise it was ended by us)
  int exit_code = -1;
  std::string output;  // what it wrote, at most max_output bytes
};

// A channel that carries whole messages to a log collector: a datagram socket (unix:PATH, the
// local syslog socket) or a TCP stream (tcp:HOST:PORT, relp:HOST:PORT). Send is all of the
// message or false.
class MessageChannel {
 public:
  virtual ~MessageChannel() = default;
  virtual bool Send(const void* data, size_t size) = 0;
  // What the collector answered (streams): the bytes read (at most cap), 0 when nothing came
  // within timeout_ms, -1 when the connection is closed or broken.
  virtual long Receive(char* buf, size_t cap, int timeout_ms) { return -1; }
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- time ---
  virtual LocalTime Now() = 0;
  virtual void SleepMs(int ms) = 0;

  // --- errors ---
  // The OS's last error code (GetLastError on Windows, errno elsewhere).
  virtual long LastError() = 0;

  // --- files and paths ---
  virtual std::unique_ptr<WritableFile> OpenWritable(const std::string& path, OpenMode mode) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // The names in a folder (without "." and ".."); false when it cannot be read. Only systems
  // whose names match in their exact case need it.
  virtual bool ListDirectory(const std::string& /*path*/, std::vector<std::string>* /*names*/) {
    return false;
  }
  // Creates every directory of path up to its last separator (MakeSureDirectoryPathExists).
  virtual bool MakeSureDirectoryPathExists(const std::string& path) = 0;
  // Full path of the running executable; empty when it cannot be had.
  virtual std::string ExecutablePath() = 0;
  // The system directory (fallback location for the access log).
  virtual std::string SystemDirectory() = 0;
  // The process's current directory (where the filter and host files live), no trailing separator.
  virtual std::string CurrentDirectory() = 0;
  virtual bool ReadWholeFile(const std::string& path, std::string* contents) = 0;
  // Renames with write-through; never replaces an existing target.
  virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
  // Kind, size and time stamps of a path. kNotFound only when the path (its last component)
  // does not exist; every other failure is kError.
  virtual Status GetFileInfo(const std::string& path, FileInfo* out) = 0;
  // The identity of the file a path names now, to compare with an open handle's. kNotFound when
  // the path (its last component or a folder on the way) does not exist.
  virtual Status PathIdentity(const std::string& path, FileIdentity* out) = 0;

  // --- child processes ---
  // Runs command_line (its first word found beside the executable first, then on the search
  // path) with standard output and/or standard error on a pipe that is read while it runs, so a
  // talkative child still finishes. A child still running after timeout_ms is ended.
  virtual bool RunChild(const std::string& command_line, int timeout_ms, bool want_stdout,
                        bool want_stderr, size_t max_output, ChildResult* out) = 0;

  // --- profile (INI) files, GetPrivateProfile*A semantics ---
  virtual int GetProfileInt(const std::string& section, const std::string& key, int def,
                            const std::string& path) = 0;
  // Copies at most size-1 characters into buf and terminates it; returns the characters copied.
  virtual size_t GetProfileString(const std::string& section, const std::string& key,
                                  const std::string& def, char* buf, size_t size,
                                  const std::string& path) = 0;
  virtual bool WriteProfileString(const std::string& section, const std::string& key,
                                  const std::string& value, const std::string& path) = 0;

  // Advice that [p, p + size) fills in slowly and is best backed by large pages; nothing where
  // the system has no such advice.
  virtual void AdviseLargePages(void* /*p*/, size_t /*size*/) {}

  // --- the local server and network ---
  virtual bool ListShares(std::vector<ServerShare>* out) = 0;
  virtual bool ListSessions(std::vector<ServerSession>* out) = 0;
  // The next ListSessions asks the server again instead of answering from a cache it keeps.
  virtual void ExpireSessionCache() {}
  // True while the first session list is still on its way: a ListSessions that fails then has
  // not failed, it is only early.
  virtual bool SessionListPending() { return false; }
  // The server's open files as last read (see OpenFilesSnapshot).
  virtual OpenFilesSnapshot ListOpenFiles() { return {}; }
  // Asks for a new list of the server's open files: read at once, or after the read under way;
  // never more often than about once a second.
  virtual void AskOpenFiles() {}
  // The machine's IPv4 addresses in the system's order, dotted text; on failure, the step that
  // failed (Windows: socket layer start-up, socket, address-list query).
  virtual AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) = 0;
  // gethostbyname: the first IPv4 address of name, dotted. On failure *err gets the resolver's
  // error code.
  virtual bool HostByName(const std::string& name, std::string* ip, int* err) = 0;
  // gethostbyaddr: the official name of a dotted IPv4 address.
  virtual bool HostByAddr(const std::string& ip, std::string* name, int* err) = 0;

  // --- the user ---
  // owner is the window the box belongs to (nullptr for none). Returns the button pressed.
  virtual int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                             unsigned style) = 0;
  // --- the system's log (syslog / the journal on Linux) ---
  // From now on SystemLog lines go to the system's log under ident. Until then, and on systems
  // without one, SystemLog does nothing.
  virtual void OpenSystemLog(const std::string& ident) {}
  // One diagnostic line, error level (else warning), without its line end.
  virtual void SystemLog(bool error, const std::string& text) {}
  // Opens a channel to "unix:PATH", "tcp:HOST:PORT" or "relp:HOST:PORT" (a TCP stream too; the
  // caller speaks the protocol); nullptr and *error on failure.
  virtual std::unique_ptr<MessageChannel> OpenMessageChannel(const std::string& target,
                                                             std::string* error) {
    *error = "not supported here";
    return nullptr;
  }
  // This machine's host name (empty when it cannot be had).
  virtual std::string HostName() { return std::string(); }
};

// Forwards every call to another platform; fakes override the calls they change.
class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform* target) : target_(target) {}
  Platform* target() const { return target_; }

  LocalTime Now() override { return target_->Now(); }
  void SleepMs(int ms) override { target_->SleepMs(ms); }
  long LastError() override { return target_->LastError(); }
  std::unique_ptr<WritableFile> OpenWritable(const std::string& path, OpenMode mode) override {
    return target_->OpenWritable(path, mode);
  }
  bool RemoveFile(const std::string& path) override { return target_->RemoveFile(path); }
  bool FileExists(const std::string& path) override { return target_->FileExists(path); }
  bool IsDirectory(const std::string& path) override { return target_->IsDirectory(path); }
  bool ListDirectory(const std::string& path, std::vector<std::string>* names) override {
    return target_->ListDirectory(path, names);
  }
  bool MakeSureDirectoryPathExists(const std::string& path) override {
    return target_->MakeSureDirectoryPathExists(path);
  }
  std::string ExecutablePath() override { return target_->ExecutablePath(); }
  std::string SystemDirectory() override { return target_->SystemDirectory(); }
  void OpenSystemLog(const std::string& ident) override { target_->OpenSystemLog(ident); }
  std::unique_ptr<MessageChannel> OpenMessageChannel(const std::string& target,
                                                     std::string* error) override {
    return target_->OpenMessageChannel(target, error);
  }
  std::string HostName() override { return target_->HostName(); }
  void SystemLog(bool error, const std::string& text) override { target_->SystemLog(error, text); }
  std::string CurrentDirectory() override { return target_->CurrentDirectory(); }
  bool ReadWholeFile(const std::string& path, std::string* contents) override {
    return target_->ReadWholeFile(path, contents);
  }
  bool RenameFile(const std::string& from, const std::string& to) override {
    return target_->RenameFile(from, to);
  }
  Status GetFileInfo(const std::string& path, FileInfo* out) override {
    return target_->GetFileInfo(path, out);
  }
  Status PathIdentity(const std::string& path, FileIdentity* out) override {
    return target_->PathIdentity(path, out);
  }
  bool RunChild(const std::string& command_line, int timeout_ms, bool want_stdout, bool want_stderr,
                size_t max_output, ChildResult* out) override {
    return target_->RunChild(command_line, timeout_ms, want_stdout, want_stderr, max_output, out);
  }
  int GetProfileInt(const std::string& section, const std::string& key, int def,
                    const std::string& path) override {
    return target_->GetProfileInt(section, key, def, path);
  }
  size_t GetProfileString(const std::string& section, const std::string& key,
                          const std::string& def, char* buf, size_t size,
                          const std::string& path) override {
    return target_->GetProfileString(section, key, def, buf, size, path);
  }
  bool WriteProfileString(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) override {
    return target_->WriteProfileString(section, key, value, path);
  }
  bool ListShares(std::vector<ServerShare>* out) override { return target_->ListShares(out); }
  bool ListSessions(std::vector<ServerSession>* out) override { return target_->ListSessions(out); }
  void ExpireSessionCache() override { target_->ExpireSessionCache(); }
  bool SessionListPending() override { return target_->SessionListPending(); }
  OpenFilesSnapshot ListOpenFiles() override { return target_->ListOpenFiles(); }
  void AskOpenFiles() override { target_->AskOpenFiles(); }
  AddressListResult LocalIPv4Addresses(std::vector<std::string>* out) override {
    return target_->LocalIPv4Addresses(out);
  }
  void AdviseLargePages(void* p, size_t size) override { target_->AdviseLargePages(p, size); }
  bool HostByName(const std::string& name, std::string* ip, int* err) override {
    return target_->HostByName(name, ip, err);
  }
  bool HostByAddr(const std::string& ip, std::string* name, int* err) override {
    return target_->HostByAddr(ip, name, err);
  }
  int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                     unsigned style) override {
    return target_->ShowMessageBox(owner, text, caption, style);
  }

 private:
  Platform* target_;
};

// The platform in use. Defaults to the native one of this build.
Platform& platform();
// Replaces the platform in use (tests, replay); returns the previous one. Not owned.
Platform* SetPlatform(Platform* p);
// The native platform of this build (a process-wide singleton).
Platform& NativePlatform();

// A crash: on_fatal runs once when the process dies of a fatal signal (Linux: SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT) or an unhandled exception (Windows); the handler that was there before
// then gets the crash as it would have. on_fatal runs in a signal handler: it may only use
// AppendForCrash and read memory.
void InstallFatalHandler(void (*on_fatal)());
// Appends bytes to a file without allocating or locking (safe in a fatal-signal handler).
void AppendForCrash(const char* path, const void* data, size_t size);

// Local time from a time_t (no platform state involved).
LocalTime LocalTimeFromTimeT(int64_t t);

// UTF-16LE text from the wire (at most units units, ending at the first zero unit) into the
// system ANSI code page (UTF-8 on Linux), terminated, in out (size bytes). Returns the bytes
// written with the terminator, as WideCharToMultiByte does; 0 when the conversion fails. A text
// longer than out is cut after its last whole character that fits, never dropped.
int QVX_WideToAnsi(const unsigned char* utf16le, size_t units, char* out, size_t size);
// A text of n bytes in the OEM code page (the single-byte strings of SMB1 clients that do not
// send Unicode) as UTF-16LE, into out (out_units units; the caller keeps room for a terminator).
// Returns the units written. Windows reads it in the system OEM code page; Linux in code page
// 850, the DOS character set a Samba server assumes unless told otherwise. ASCII is the same in
// every one of them.
size_t QVX_OemToWide(const unsigned char* oem, size_t n, unsigned char* out, size_t out_units);
// True when c starts a two-byte character of the system ANSI code page (never on Linux, whose
// code page is UTF-8: there no byte of a character is ASCII).
bool QVX_IsLeadByte(unsigned char c);
// Upper-cases a text of the system ANSI code page in place without changing its length
// (CharUpperBuffA on Windows). On Linux the text is UTF-8: letters of the Latin, Greek and
// Cyrillic alphabets whose capital has the same encoded length are raised, every other byte (and
// every multi-byte sequence) stays as it is, so a name is never broken.
void QVX_TextUpper(char* text);
// Equality of two texts ignoring case (CompareStringA with NORM_IGNORECASE on Windows).
bool QVX_TextEqualNoCase(const char* a, const char* b);

}  // namespace qvx
