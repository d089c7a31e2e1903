// The test platform: a real temporary folder stands for the folder of the executable, while the
// clock, sleeps and message boxes are under the test's control.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qvx::test {

struct Box {
  std::string text;
  std::string caption;
  unsigned style;
};

class FakePlatform : public PlatformWrapper {
 public:
  // Installs itself as platform(); the destructor puts the previous one back and removes the
  // folder.
  FakePlatform();
  ~FakePlatform() override;

  LocalTime Now() override { return now_; }
  void SleepMs(int ms) override { slept_ms_ += ms; }
  std::string ExecutablePath() override { return exe_path_; }
  // The test folder is also the current directory of the program under test.
  std::string CurrentDirectory() override { return dir_.substr(0, dir_.size() - 1); }
  int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                     unsigned style) override;

  // In-memory server facts. Until a test sets them, the calls go to the real platform (child
  // processes: see UseRealChildren).
  bool ListShares(std::vector<ServerShare>* out) override;
  bool ListSessions(std::vector<ServerSession>* out) override;
  Status GetFileInfo(const std::string& path, FileInfo* out) override;
  bool RunChild(const std::string& command_line, int timeout_ms, bool want_stdout, bool want_stderr,
                size_t max_output, ChildResult* out) override;
  bool HostByName(const std::string& name, std::string* ip, int* err) override;
  bool HostByAddr(const std::string& ip, std::string* name, int* err) override;
  // Real files; their size query fails while SetFileSizeFails(true), and the files in the folder
  // given to SetSmallDisk share the room it has (a write that does not fit writes what fits and
  // fails, as on a full disk).
  std::unique_ptr<WritableFile> OpenWritable(const std::string& path, OpenMode mode) override;
  // Fails every rename while SetRenameFails(true), as a file held open elsewhere does.
  bool RenameFile(const std::string& from, const std::string& to) override;

  void SetShares(std::vector<ServerShare> s) {
    shares_ = std::move(s);
    fake_shares_ = true;
  }
  void SetSessions(std::vector<ServerSession> s) {
    sessions_ = std::move(s);
    fake_sessions_ = true;
  }
  // The server's list cannot be read (the enumeration fails or runs out of time) until set back.
  void SetSessionsFail(bool fail) {
    sessions_fail_ = fail;
    fake_sessions_ = true;
  }
  // The first list is still on its way (a failing ListSessions is only early).
  void SetSessionsPending(bool pending) { sessions_pending_ = pending; }
  bool SessionListPending() override { return sessions_pending_; }
  int session_lists() const { return session_lists_; }
  int session_cache_expiries() const { return session_cache_expiries_; }
  void ExpireSessionCache() override { ++session_cache_expiries_; }
  // The server's open files: no server to ask until a test gives a list (each one given counts as
  // one more list read).
  OpenFilesSnapshot ListOpenFiles() override { return open_files_; }
  void AskOpenFiles() override { ++open_files_asks_; }
  void SetOpenFiles(ServerOpenFiles list) {
    open_files_.list = std::make_shared<const ServerOpenFiles>(std::move(list));
    open_files_.served = true;
    ++open_files_.reads;
  }
  int open_files_asks() const { return open_files_asks_; }
  // A path's facts; not found for every path not set once any is set.
  void SetFileInfo(const std::string& path, const FileInfo& fi) {
    files_[path] = fi;
    fake_files_ = true;
  }
  void RemoveFileInfo(const std::string& path) { files_.erase(path); }
  // A path whose facts cannot be read: its stat fails with os_error (EACCES, say) as denied.
  void RefuseFileInfo(const std::string& path, int os_error) {
    files_.erase(path);
    refused_[path] = os_error;
    fake_files_ = true;
  }
  // Every path whose facts were asked for while they are faked, in order.
  const std::vector<std::string>& files_asked() const { return files_asked_; }
  // Answers RunChild: given the command line, fills the result and returns RunChild's result.
  using ChildScript = std::function<bool(const std::string&, ChildResult*)>;
  void SetChildScript(ChildScript script) { child_script_ = std::move(script); }
  const std::vector<std::string>& child_runs() const { return child_runs_; }
  // Real child processes instead (runner tests). Without either, a child runs and prints nothing.
  void UseRealChildren() { real_children_ = true; }
  // Resolver answers; a name or address not listed fails with err 11001.
  void SetHosts(std::map<std::string, std::string> name_to_ip) {
    hosts_ = std::move(name_to_ip);
    fake_hosts_ = true;
  }
  int host_lookups() const { return host_lookups_; }
  // Lines handed to the system's log: (error level, text).
  void SystemLog(bool error, const std::string& text) override {
    system_log_.emplace_back(error, text);
  }
  const std::vector<std::pair<bool, std::string>>& system_log() const { return system_log_; }

  void SetNow(int year, int month, int day, int hour, int minute, int second);
  void SetExecutablePath(const std::string& p) { exe_path_ = p; }
  void SetBoxAnswer(int answer) { box_answer_ = answer; }
  void SetFileSizeFails(bool fails) { size_fails_ = fails; }
  void SetRenameFails(bool fails) { rename_fails_ = fails; }
  // Files under folder (a prefix of their path) have room for bytes more bytes from now on; a
  // negative room is no limit.
  void SetSmallDisk(const std::string& folder, int64_t bytes) {
    small_disk_ = folder;
    room_ = bytes;
  }
  int64_t room() const { return room_; }
  // Write calls on files under the small disk's folder, and how many of them were cut short.
  int small_disk_writes() const { return small_disk_writes_; }
  int short_writes() const { return short_writes_; }
  // Flushes and size queries through open files.
  int flushes() const { return flushes_.load(); }
  int size_queries() const { return size_queries_.load(); }

  // The executable's folder, with a trailing separator.
  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + name; }
  std::string Contents(const std::string& path);
  std::vector<std::string> Lines(const std::string& path);  // split at CR LF
  void WriteText(const std::string& path, const std::string& text);

  const std::vector<Box>& boxes() const { return boxes_; }
  long slept_ms() const { return slept_ms_; }

 private:
  OpenFilesSnapshot open_files_;
  int open_files_asks_ = 0;
  Platform* previous_;
  std::string dir_;
  std::string exe_path_;
  LocalTime now_;
  long slept_ms_ = 0;
  int box_answer_ = kIdOk;
  bool size_fails_ = false;
  bool rename_fails_ = false;
  std::string small_disk_;
  int64_t room_ = -1;
  int small_disk_writes_ = 0;
  int short_writes_ = 0;
  std::atomic<int> flushes_{0}, size_queries_{0};
  friend class FakeFile;
  std::vector<Box> boxes_;
  bool fake_shares_ = false, fake_sessions_ = false, fake_files_ = false, fake_hosts_ = false;
  std::vector<ServerShare> shares_;
  std::vector<ServerSession> sessions_;
  bool sessions_fail_ = false;
  bool sessions_pending_ = false;
  int session_lists_ = 0;
  int session_cache_expiries_ = 0;
  std::map<std::string, FileInfo> files_;
  std::map<std::string, int> refused_;
  std::vector<std::string> files_asked_;
  ChildScript child_script_;
  bool real_children_ = false;
  std::vector<std::string> child_runs_;
  std::map<std::string, std::string> hosts_;
  int host_lookups_ = 0;
  std::vector<std::pair<bool, std::string>> system_log_;
};

// Puts the program's globals back to their load-time state (options, log paths and handles,
// tables, name caches). A capture run's state is not among them: each run, and each test of the
// handlers, has a context of its own (support/capture_context.h).
void ResetProgramState();

// The access log in fake's folder with its own rotation: a switch at 1000 bytes, checked every
// second, the period starting on 2026-12-09 10:30:00 (the fake's clock). False when it could not
// be opened.
bool StartSizeRotatedLog(FakePlatform& fake);

// The /srv/ paths a file's text names, in order (CSV: its last column; JSON: "path").
std::vector<std::string> SrvPathsIn(const std::string& text);

// What the handler fixtures start from: default options (memory tier 0) with 8 trees, 200 rows and
// the access log on, the kernel log started in fake's folder, the tables made and the access log
// opened as fake.Path("access.log"). Returns that path, or "" when the tables could not be made.
std::string StartTablesWithAccessLog(FakePlatform& fake);

}  // namespace qvx::test
