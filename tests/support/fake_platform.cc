#include "support/fake_platform.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "accesslog/access_log.h"
#include "accesslog/log_writer.h"
#include "accesslog/rotation.h"
#include "app/tables.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "capture/capture_loop.h"
#include "names/hosts.h"
#include "names/nbt.h"
#include "wire/smb_command_table.h"

namespace qvx::test {

namespace fs = std::filesystem;

FakePlatform::FakePlatform() : PlatformWrapper(&NativePlatform()) {
  static std::atomic<int> counter{0};
  // <chrono> is kept out: its C++20 unit suffixes do not convert to the Shift-JIS build charset.
  static const unsigned seed = std::random_device{}();
  auto stamp =
      std::to_string(static_cast<long long>(std::time(nullptr))) + "-" + std::to_string(seed);
  fs::path d = fs::temp_directory_path() / ("qvx-test-" + stamp + "-" + std::to_string(counter++));
  fs::create_directories(d);
  dir_ = d.string() + kPathSep;
  exe_path_ = dir_ + "Quorvix.exe";
  SetNow(2026, 12, 9, 10, 20, 7);
  previous_ = SetPlatform(this);
}

FakePlatform::~FakePlatform() {
  ResetProgramState();
  SetPlatform(previous_);
  std::error_code ec;
  fs::remove_all(fs::path(dir_), ec);
}

int FakePlatform::ShowMessageBox(void*, const std::string& text, const std::string& caption,
                                 unsigned style) {
  boxes_.push_back({text, caption, style});
  return box_answer_;
}

class FakeFile : public WritableFile {
 public:
  FakeFile(std::unique_ptr<WritableFile> real, FakePlatform* fake, std::string path)
      : real_(std::move(real)), fake_(fake), path_(std::move(path)) {}
  // Whether the file is on the small disk now (a test may make it small after the open).
  bool Small() const {
    const std::string& d = fake_->small_disk_;
    return !d.empty() && path_.compare(0, d.size(), d) == 0;
  }
  bool Write(const void* data, size_t size, bool overlapped) override {
    if (!Small()) return real_->Write(data, size, overlapped);
    ++fake_->small_disk_writes_;
    int64_t& room = fake_->room_;
    if (room < 0 || static_cast<int64_t>(size) <= room) {
      if (room >= 0) room -= static_cast<int64_t>(size);
      return real_->Write(data, size, overlapped);
    }
    // What fits is written, then the disk is full.
    ++fake_->short_writes_;
    const size_t fits = static_cast<size_t>(room);
    room = 0;
    if (fits > 0) real_->Write(data, fits, overlapped);
    return false;
  }
  bool Flush() override {
    ++fake_->flushes_;
    return real_->Flush();
  }
  bool Size(uint64_t* size) override {
    ++fake_->size_queries_;
    return !fake_->size_fails_ && real_->Size(size);
  }
  bool Truncate(uint64_t size) override {
    uint64_t before = 0;
    if (!real_->Size(&before) || !real_->Truncate(size)) return false;
    if (Small() && fake_->room_ >= 0 && before > size)
      fake_->room_ += static_cast<int64_t>(before - size);
    return true;
  }
  bool Identity(FileIdentity* id) override { return real_->Identity(id); }

 private:
  std::unique_ptr<WritableFile> real_;
  FakePlatform* fake_;
  std::string path_;
};

std::unique_ptr<WritableFile> FakePlatform::OpenWritable(const std::string& path, OpenMode mode) {
  auto real = PlatformWrapper::OpenWritable(path, mode);
  if (!real) return nullptr;
  return std::make_unique<FakeFile>(std::move(real), this, path);
}

bool FakePlatform::RenameFile(const std::string& from, const std::string& to) {
  return !rename_fails_ && PlatformWrapper::RenameFile(from, to);
}

bool FakePlatform::ListShares(std::vector<ServerShare>* out) {
  if (!fake_shares_) return PlatformWrapper::ListShares(out);
  *out = shares_;
  return true;
}

bool FakePlatform::ListSessions(std::vector<ServerSession>* out) {
  if (!fake_sessions_) return PlatformWrapper::ListSessions(out);
  ++session_lists_;
  if (sessions_fail_) {
    out->clear();
    return false;
  }
  *out = sessions_;
  return true;
}

Status FakePlatform::GetFileInfo(const std::string& path, FileInfo* out) {
  if (!fake_files_) return PlatformWrapper::GetFileInfo(path, out);
  files_asked_.push_back(path);
  if (auto r = refused_.find(path); r != refused_.end()) return Status::Denied(path, r->second);
  auto it = files_.find(path);
  if (it == files_.end()) return Status::NotFound(path, 2);
  *out = it->second;
  return Status::Ok();
}

bool FakePlatform::RunChild(const std::string& command_line, int timeout_ms, bool want_stdout,
                            bool want_stderr, size_t max_output, ChildResult* out) {
  child_runs_.push_back(command_line);
  if (real_children_)
    return PlatformWrapper::RunChild(command_line, timeout_ms, want_stdout, want_stderr, max_output,
                                     out);
  *out = ChildResult();
  if (!child_script_) {
    // A command that runs and says nothing, so start-up checks pass quickly.
    out->started = out->finished = true;
    out->exit_code = 0;
    return true;
  }
  bool ok = child_script_(command_line, out);
  if (out->output.size() > max_output) out->output.resize(max_output);
  return ok;
}

bool FakePlatform::HostByName(const std::string& name, std::string* ip, int* err) {
  if (!fake_hosts_) return PlatformWrapper::HostByName(name, ip, err);
  ++host_lookups_;
  auto it = hosts_.find(name);
  if (it == hosts_.end()) {
    *err = 11001;
    return false;
  }
  *ip = it->second;
  return true;
}

bool FakePlatform::HostByAddr(const std::string& ip, std::string* name, int* err) {
  if (!fake_hosts_) return PlatformWrapper::HostByAddr(ip, name, err);
  ++host_lookups_;
  for (auto& [n, a] : hosts_) {
    if (a == ip) {
      *name = n;
      return true;
    }
  }
  *err = 11004;
  return false;
}

void FakePlatform::SetNow(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  now_ = LocalTimeFromTimeT(static_cast<int64_t>(std::mktime(&tm)));
}

std::string FakePlatform::Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> FakePlatform::Lines(const std::string& path) {
  std::string text = Contents(path);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t e = text.find("\r\n", pos);
    if (e == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, e - pos));
    pos = e + 2;
  }
  return lines;
}

void FakePlatform::WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

namespace {
// The command tables as loaded, before any start-up override patched them.
struct PristineTables {
  PristineTables() {
    std::memcpy(smb1, Smb_Command, sizeof smb1);
    std::memcpy(smb2, Smb2_Command, sizeof smb2);
  }
  Smb_Command_St smb1[kSmbCommandRows];
  Smb2_Command_St smb2[kSmb2CommandRows];
};
const PristineTables g_pristine;
}  // namespace

std::string StartTablesWithAccessLog(FakePlatform& fake) {
  OptionSetDefaults(&OptionInfo);
  QVX_ApplyMemoryTier(&OptionInfo);
  OptionInfo.TreeConnectCnt = 8;
  OptionInfo.AccessDataCnt = 200;
  OptionInfo.LogFileWriteFlg = 1;
  std::snprintf(szLogfileName, kLogPathSize, "%s", fake.Path("k.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  if (!QVX_AllocTables()) return "";
  const std::string log = fake.Path("access.log");
  hExistingFile = platform().OpenWritable(log, OpenMode::kCreateAlways);
  std::snprintf(LogPath, sizeof LogPath, "%s", log.c_str());
  return log;
}

void ResetProgramState() {
  QVX_LogWriter().Stop();  // a test that started the program leaves no writer thread behind
  std::memcpy(Smb_Command, g_pristine.smb1, sizeof g_pristine.smb1);
  std::memcpy(Smb2_Command, g_pristine.smb2, sizeof g_pristine.smb2);
  DbgLogCloseAll();
  // Tables, access log, name caches.
  QVX_FreeTables();
  QVX_AccessLogClose();
  LogPathBase[0] = LogPath[0] = szAccessLogfileName[0] = '\0';
  NbtReset();
  QVX_HostCacheClear();
  HostsDataCnt = 0;
  QVX_SetIniFilePath("");
  OptionSetDefaults(&OptionInfo);
  // At load time every option is 0: the debug log is written until the configuration is read.
  std::memset(&OptionInfo, 0, sizeof OptionInfo);
  szLogfileName[0] = szLogfileName1[0] = szLogfileName2[0] = '\0';
  szCmdLineOpt[0] = '\0';
  nCmdLineOptSc = 0;
  ChangeDayValue = 0;
  QVX_LogRotationReset();
  QVX_CaptureHandledTimeReset();
}

bool StartSizeRotatedLog(FakePlatform& fake) {
  OptionSetDefaults(&OptionInfo);
  std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
  DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
  std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s",
                fake.Path("Quorvix.log").c_str());
  OptionInfo.LogFileWriteFlg = 1;
  OptionInfo.LogFileChangeFlg = 1;
  OptionInfo.LogFileChangeChkTime = 1;
  OptionInfo.LogFileSize = 1;
  QVX_LogRotationReset();
  fake.SetNow(2026, 12, 9, 10, 30, 0);
  QVX_AccessLogStartUp(nullptr);
  StartTime = static_cast<time_t>(fake.Now().t);
  return OptionInfo.LogFileWriteFlg == 1 && QVX_AccessLogStartUpProblem().empty();
}

std::vector<std::string> SrvPathsIn(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; (at = text.find("/srv/", at)) != std::string::npos;) {
    const size_t end = text.find_first_of("\"\r\n", at);
    out.push_back(text.substr(at, end - at));
    at = end;
  }
  return out;
}

}  // namespace qvx::test
