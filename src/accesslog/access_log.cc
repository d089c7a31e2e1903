#include "accesslog/access_log.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/data.h"
#include "base/dbglog.h"
#include "base/text.h"
#include "platform/os_rules.h"
#include "platform/stdio_file.h"

namespace qvx {

char* LogData = nullptr;

char LogPathBase[kAccessLogPathSize];
char LogPath[kAccessLogPathSize];
std::unique_ptr<WritableFile> hExistingFile;
char szAccessLogfileName[kAccessLogPathSize];
std::unique_ptr<StdioFile> pAccessLogfile;

namespace {

// Closes the C-library stream when the program exits.
struct QUORVIXACCESSLOGFILECLOSER {
  ~QUORVIXACCESSLOGFILECLOSER() { pAccessLogfile.reset(); }
};
QUORVIXACCESSLOGFILECLOSER QuorvixAccesslogfilecloser;

bool IsSep(char c) { return c == '/' || (os::kBackslashSeparates && c == '\\'); }

// Lines that could not be written, and whether the user was told.
std::atomic<uint64_t> g_lines_lost{0};
std::atomic<uint64_t> g_lines_written{0};
std::atomic<bool> g_loss_told{false};

// What was written to the open log since its identity was last found right, under g_critSec:
// when the file turns out to have been deleted meanwhile, these lines went with it and are
// written again into the new file. Bounded; past the bound the lines are only counted.
constexpr size_t kSinceCheckMax = 16u << 20;
std::string g_since_check;
uint64_t g_since_check_dropped = 0;

// The identity of the stream's file (LogFileSelect 2) when it was opened.
FileIdentity g_stream_id;
bool g_stream_id_known = false;

// Notices for the console, taken by the headless build's loop.
std::vector<std::string> g_notices;
std::atomic<bool> g_have_notices{false};
// The log could not be reopened at the last check (told once until it can).
bool g_reopen_failing = false;

// Where a log file ends as its own writes left it, so that a line costs no size query; asked of
// the file again at open, after a failed write and at each identity check.
struct KnownEnd {
  uint64_t at = 0;
  bool known = false;
};
KnownEnd g_end;         // the log's own handle
KnownEnd g_stream_end;  // the C-library writer's file

bool OpenAtEnd(const char* FileName) {
  hExistingFile.reset();  // Windows lets no second writer open the file
  hExistingFile = platform().OpenWritable(FileName ? FileName : "", OpenMode::kAppend);
  g_since_check.clear();
  g_since_check_dropped = 0;
  g_end.known = hExistingFile && hExistingFile->Size(&g_end.at);
  return hExistingFile != nullptr;
}

// Cuts a file back to before, the size it had before a write that failed: a full disk never
// leaves half a line for the next one to be glued to. False when a part stays.
bool RollBack(WritableFile& f, uint64_t before, size_t size) {
  uint64_t now = 0;
  if (!f.Size(&now)) return false;
  if (now <= before) return true;  // nothing of it reached the file
  // More than the line grew the file: someone else wrote to it; their bytes stay.
  if (now - before > size) return false;
  return f.Truncate(before);
}

// Writes data to f whole or not at all, in one write call. end: where the file ends before the
// write, kept up to date (null: asked of the file).
bool WriteWholeTo(WritableFile& f, const char* data, size_t size, KnownEnd* end = nullptr) {
  uint64_t before = 0;
  const bool sized = end && end->known ? (before = end->at, true) : f.Size(&before);
  if (f.Write(data, size, OptionInfo.AsynchronousFlg == 1)) {
    if (end) *end = {before + size, sized};
    return true;
  }
  if (!sized || !RollBack(f, before, size))
    QVX_KLOG("QVX_E11-007 LogFileAccess[%d][%ld] : 書き込めなかった行の一部が残りました。%s\r\n",
             LogPath);
  if (end) end->known = f.Size(&end->at);
  return false;
}

void AddNotice(const std::string& text) {
  g_notices.push_back(text);
  g_have_notices = true;
}

}  // namespace

int LogFileAccess(void* /*hDlg*/, const char* FileName, const char* ChgFileName,
                  const char* WriteData, unsigned long WriteSize, int Flg) {
  if (FileName == nullptr) FileName = "";
  if (OptionInfo.ErrorLevel >= 6)
    QVX_KLOG("QVX_D31-001 LogFileAccess[%d][%ld] : >>>>>>>>>> %s\r\n", WriteData ? WriteData : "");
  if (Flg == kLogOpenWrite || Flg == kLogReopen) {
    if (!OpenAtEnd(FileName)) {
      QVX_KLOG("QVX_E11-001 LogFileAccess[%d][%ld] : ログファイルが作成できません。%s\r\n",
               FileName);
      return 0;
    }
    if (Flg == kLogReopen) return 1;
  } else if (Flg == kLogRenameNew) {
    hExistingFile.reset();
    g_since_check.clear();
    // A first start has nothing to rename.
    if (platform().FileExists(FileName) &&
        !platform().RenameFile(FileName, ChgFileName ? ChgFileName : "")) {
      // Writing goes on in the old file, at its end; nothing is lost.
      QVX_KLOG("QVX_E11-004 LogFileAccess[%d][%ld] : ログファイル名を変更できません。%s\r\n",
               ChgFileName ? ChgFileName : "");
    }
    if (!OpenAtEnd(FileName)) {
      QVX_KLOG("QVX_E11-002 LogFileAccess[%d][%ld] : ログファイルが作成できません。%s\r\n",
               FileName);
      return 0;
    }
    // The data (the header) only starts a file: an old file that kept its name gets no second one.
    uint64_t size = 0;
    if (hExistingFile->Size(&size) && size > 0) return 1;
  }
  if (!hExistingFile || WriteData == nullptr || WriteSize == 0 ||
      !WriteWholeTo(*hExistingFile, WriteData, WriteSize, &g_end)) {
    QVX_KLOG("QVX_E11-003 LogFileAccess[%d][%ld] : ログファイルに書き込みできません。%s\r\n",
             FileName);
    return 0;
  }
  return 1;
}

void PathRemoveFileSpecText(const char* path, char* folder, size_t size) {
  std::string p = path ? path : "";
  size_t pos = std::string::npos;
  for (size_t i = p.size(); i > 0; --i) {
    if (IsSep(p[i - 1])) {
      pos = i - 1;
      break;
    }
  }
  std::string out;
  if (pos == std::string::npos) {
    if (os::kDriveLetters && p.size() >= 2 && p[1] == ':') out = p.substr(0, 2);
  } else if (pos == 0) {
    out = p.substr(0, 1);  // the root keeps its separator
  } else if (os::kDriveLetters && pos == 2 && p[1] == ':') {
    out = p.substr(0, 3);  // "C:\"
  } else {
    out = p.substr(0, pos);
  }
  CopyText(folder, size, out.c_str());
}

std::string QVX_DateStamp(const LocalTime& now) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d%02d", now.year - 2000, now.month,
                now.day, now.hour, now.minute, now.second);
  return stamp;
}

std::string QVX_DatedName(const std::string& path, const std::string& stamp) {
  std::string p = path;
  size_t last_sep = std::string::npos;
  for (size_t i = 0; i < p.size(); ++i)
    if (IsSep(p[i])) last_sep = i;
  size_t dot = p.rfind('.');
  std::string ext;
  if (dot != std::string::npos && (last_sep == std::string::npos || dot > last_sep)) {
    ext = p.substr(dot, 15);
    p.erase(dot);
  }
  return p + stamp + ext;
}

int FileNameAddDate(char* path) {
  const std::string out = QVX_DatedName(path, QVX_DateStamp(platform().Now()));
  CopyText(path, kAccessLogPathSize, out.c_str());
  return 0;
}

namespace {

std::string g_start_stamp;

// The rename-and-start-new branch: the old log keeps the dated name.
int StartNewDated(char* LogPathBuf, OptionInfoSt* o) {
  char dated[kAccessLogPathSize];
  const std::string stamp = QVX_DateStamp(platform().Now());
  CopyText(dated, kAccessLogPathSize, QVX_DatedName(LogPathBuf, stamp).c_str());
  const bool had_log = platform().FileExists(LogPathBuf);
  if (LogFileAccess(nullptr, LogPathBuf, dated, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                    kLogRenameNew) != 1) {
    o->LogFileWriteFlg = 0;
    return 1;
  }
  if (had_log && platform().FileExists(dated)) g_start_stamp = stamp;
  CopyText(LogPathBuf, kAccessLogPathSize, dated);
  return 0;
}

}  // namespace

const std::string& QVX_AccessLogStartStamp() { return g_start_stamp; }

int LogFileMake(char* LogPathBuf, OptionInfoSt* o, void* data) {
  g_start_stamp.clear();
  if (o->LogFileWriteFlg != 1) return 0;
  void* owner = data;
  char folder[kAccessLogPathSize];
  PathRemoveFileSpecText(LogPathBuf, folder, sizeof folder);

  if (folder[0] != '\0' && platform().IsDirectory(folder)) {
    if (o->StartLogChg == 1) return StartNewDated(LogPathBuf, o);
    if (!platform().FileExists(LogPathBuf) &&
        LogFileAccess(nullptr, LogPathBuf, nullptr, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                      kLogOpenWrite) != 1) {
      o->LogFileWriteFlg = 0;
      return 1;
    }
    if (LogFileAccess(nullptr, LogPathBuf, nullptr, nullptr, 0, kLogReopen) != 1) {
      o->LogFileWriteFlg = 0;
      return 1;
    }
    return 0;
  }
  if (folder[0] == '\0') {
    o->LogFileWriteFlg = 0;
    ScMessageBox(owner, "Specification of a log file is not right. ", "Log File Setting",
                 kMbIconInformation);
    return 1;
  }

  char question[301];
  std::snprintf(question, sizeof question, "%s  A folder is not found. Does it create? ", folder);
  if (ScMessageBox(owner, question, "Log File Setting", kMbOkCancel | kMbIconQuestion) != kIdOk) {
    o->LogFileWriteFlg = 0;
    ScMessageBox(owner, "Folder creation was stopped.", "Log Setting", kMbOk);
    return 1;
  }
  std::string with_sep = std::string(folder) + kPathSep;
  if (!platform().MakeSureDirectoryPathExists(with_sep)) {
    o->LogFileWriteFlg = 0;
    ScMessageBox(owner, "Creation of the folder went wrong.", "Log File Setting", kMbOk);
    return 1;
  }
  char done[kAccessLogPathSize + 40];
  std::snprintf(done, sizeof done, "%s  The folder was created. ", folder);
  ScMessageBox(owner, done, "Log File Setting", kMbOk);
  if (o->StartLogChg == 1) return StartNewDated(LogPathBuf, o);
  if (LogFileAccess(nullptr, LogPathBuf, nullptr, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                    kLogOpenWrite) != 1) {
    o->LogFileWriteFlg = 0;
    return 1;
  }
  return 0;
}

void QuorvixAccessLogChangeLogfile(const char* path) {
  pAccessLogfile.reset();
  g_stream_id_known = false;
  g_stream_end.known = false;
  CopyText(szAccessLogfileName, path);
}

void QuorvixAccessLogPrintLog(const char* fmt, ...) {
  if (!pAccessLogfile) {
    // Binary: the lines carry their own CR LF, which text mode would double on Windows.
    pAccessLogfile = StdioFile::Open(szAccessLogfileName, "ab");
    if (!pAccessLogfile) return;
    // Which file the stream writes, for the check that it still has its name.
    g_stream_id_known = platform().PathIdentity(szAccessLogfileName, &g_stream_id).ok();
  }
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n > 0) {
    std::string text(static_cast<size_t>(n), '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    pAccessLogfile->WriteAndFlush(text.data(), text.size());
  }
  va_end(again);
}

namespace {
std::string g_startup_problem;
}  // namespace

const std::string& QVX_AccessLogStartUpProblem() { return g_startup_problem; }

std::string QVX_PathProblem(const char* path) {
  if (platform().IsDirectory(path)) return "it is a folder";
  char folder[kAccessLogPathSize];
  PathRemoveFileSpecText(path, folder, sizeof folder);
  if (folder[0] == '\0') return "it names no folder";
  // The nearest part of the path that exists tells whether the folders can be made.
  for (std::string f = folder;;) {
    if (platform().FileExists(f)) {
      if (!platform().IsDirectory(f)) return f + " is a file, not a folder";
      break;
    }
    char up[kAccessLogPathSize];
    PathRemoveFileSpecText(f.c_str(), up, sizeof up);
    if (up[0] == '\0' || f == up) break;
    f = up;
  }
  if (!platform().IsDirectory(folder))
    return std::string("its folder ") + folder + " cannot be made";
  return "";
}

void QVX_AccessLogStartUp(void* owner) {
  char buf[kAccessLogPathSize];
  CopyText(buf, OptionInfo.LogFilePath);
  const bool wanted = OptionInfo.LogFileWriteFlg == 1;
  g_startup_problem.clear();
  if (LogFileMake(buf, &OptionInfo, owner) != 0) {
    if (wanted) {
      std::string why = QVX_PathProblem(OptionInfo.LogFilePath);
      g_startup_problem = std::string(OptionInfo.LogFilePath) + ": " +
                          (why.empty() ? "it cannot be opened for writing" : why);
    }
    ScMessageBox(owner, "A log file setup went wrong.", "Quorvix Start-Up", kMbIconInformation);
    QVX_KLOG("QVX_E02-003 QVX_Dlg_Proc[%d][%ld] : ログファイル設定失敗。LogPathBuf=%s\r\n", buf);
    OptionInfo.LogFileWriteFlg = 0;
  } else {
    CopyText(LogPathBase, OptionInfo.LogFilePath);
  }
  CopyText(LogPath, LogPathBase);
  QuorvixAccessLogChangeLogfile(OptionInfo.LogFilePath);
  if (OptionInfo.LogFileSelect == 2) hExistingFile.reset();
  QVX_KLOG("QVX_I02-003 QVX_Dlg_Proc[%d][%ld] : ログファイル設定。LogPathBuf=%s Select=%d\r\n", buf,
           OptionInfo.LogFileSelect);
}

namespace {

// The size of the stream's file by its name (LogFileSelect 2); 0 when it is not there yet.
bool StreamFileSize(uint64_t* size) {
  FileInfo fi;
  const Status r = platform().GetFileInfo(szAccessLogfileName, &fi);
  *size = r.ok() ? fi.size : 0;
  return r.ok() || r.IsNotFound();
}

// Names a line that could not be written in the kernel log, by its fields (time, user, client,
// operation, path), so that the access is known although its line is not in the access log.
void NameLostLine(const char* line, size_t size) {
  std::string text(line, size);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::vector<std::string> f;
  size_t at = 0;
  // The path is the last column and may hold commas itself.
  while (f.size() < 12) {
    const size_t comma = text.find(',', at);
    if (comma == std::string::npos) break;
    f.push_back(text.substr(at, comma - at));
    at = comma + 1;
  }
  f.push_back(text.substr(at));
  std::string msg = "QVX_E11-006 QVX_AccessLogWrite[" + std::to_string(__LINE__) + "][" +
                    std::to_string(platform().LastError()) + "] : アクセスログの行が失われました。";
  if (f.size() == 13) {
    msg += "lost line: time=" + f[0] + " user=" + f[3] + " client=" + f[4] + " cmd=" + f[8] +
           " op=" + f[11] + " path=" + f[12];
  } else {
    msg += "lost line: " + text;
  }
  msg += "\r\n";
  // The line may be longer than a kernel-log line's buffer: written as it is, whole. Its bytes
  // from the wire were escaped when it was made.
  DbgLogPrint(nullptr, szLogfileName, nullptr, msg.data(), static_cast<unsigned long>(msg.size()),
              1);
}

// A line was lost: counted and named.
void LineLost(const char* line, size_t size) {
  ++g_lines_lost;
  NameLostLine(line, size);
}

}  // namespace

int QVX_AccessLogWrite(const char* line, size_t size) {
  if (OptionInfo.LogFileWriteFlg != 1 || line == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  if (OptionInfo.LogFileSelect == 2) {
    // The C-library writer carries every line in this mode.
    if (OptionInfo.ErrorLevel >= 6)
      QVX_KLOG("QVX_D31-001 LogFileAccess[%d][%ld] : >>>>>>>>>> %s\r\n", line);
    uint64_t before = g_stream_end.at;
    const bool sized = pAccessLogfile && g_stream_end.known ? true : StreamFileSize(&before);
    QuorvixAccessLogPrintLog("%.*s", static_cast<int>(size), line);
    // A full disk shows only as the stream's error state.
    if (!pAccessLogfile || pAccessLogfile->Failed()) {
      // The stream lets go of what it holds; what reached the file is cut away through a handle
      // of our own, and the stream opens the file again with its next line.
      QuorvixAccessLogChangeLogfile(szAccessLogfileName);
      std::unique_ptr<WritableFile> f =
          sized ? platform().OpenWritable(szAccessLogfileName, OpenMode::kAppend) : nullptr;
      if (!f || !RollBack(*f, before, size))
        QVX_KLOG(
            "QVX_E11-007 LogFileAccess[%d][%ld] : 書き込めなかった行の一部が残りました。%s\r\n",
            szAccessLogfileName);
      f.reset();
      QVX_KLOG("QVX_E11-003 LogFileAccess[%d][%ld] : ログファイルに書き込みできません。%s\r\n",
               szAccessLogfileName);
      LineLost(line, size);
      return 0;
    }
    g_stream_end = {before + size, sized};
    g_lines_written.fetch_add(1);
    return 1;
  }
  // Made durable by the writer, once for a batch of lines (QVX_AccessLogFlush).
  int rc =
      LogFileAccess(nullptr, LogPath, nullptr, line, static_cast<unsigned long>(size), kLogWrite);
  if (rc == 1) g_lines_written.fetch_add(1);
  if (rc != 1) {
    LineLost(line, size);
  } else if (g_since_check.size() + size <= kSinceCheckMax) {
    g_since_check.append(line, size);
  } else {
    ++g_since_check_dropped;
  }
  return rc;
}

void QVX_AccessLogFlush() {
  if (OptionInfo.LogFileWriteFlg != 1 || OptionInfo.LogFileSelect == 0) return;
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  // The C-library writer hands each line to the system itself.
  if (!hExistingFile) return;
  hExistingFile->Flush();
}

uint64_t QVX_AccessLogLinesLost() { return g_lines_lost.load(); }
uint64_t QVX_AccessLogLinesWritten() { return g_lines_written.load(); }

bool QVX_AccessLogLossNotice(void* owner) {
  if (g_lines_lost.load() == 0 || g_loss_told.exchange(true)) return false;
  char text[kAccessLogPathSize + 200];
  std::snprintf(text, sizeof text,
                "The access log %s cannot be written (a full disk, or no permission there): "
                "access lines are being lost. The kernel log names each one.",
                OptionInfo.LogFileSelect == 2 ? szAccessLogfileName : LogPath);
  QVX_ELOG("QVX_E11-005 LogFileAccess[%d][%ld] : %s\r\n", text);
  ScMessageBox(owner, text, "Error", kMbIconStop);
  return true;
}

std::vector<std::string> QVX_AccessLogTakeNotices() {
  std::vector<std::string> out;
  if (!g_have_notices.load()) return out;
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  out.swap(g_notices);
  g_have_notices = false;
  return out;
}

int QVX_AccessLogCheckFile() {
  if (OptionInfo.LogFileWriteFlg != 1 || LogPathBase[0] == '\0') return 0;
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  FileIdentity at_name;
  const Status r = platform().PathIdentity(LogPathBase, &at_name);
  if (!r.ok() && !r.IsNotFound()) return 0;  // cannot tell; the next second asks again
  const bool stream = OptionInfo.LogFileSelect == 2;
  FileIdentity open_id;
  bool have_open;
  if (stream) {
    // A closed stream opens the file by its name with its next line: nothing to follow.
    if (!pAccessLogfile || !g_stream_id_known) return 0;
    have_open = true;
    open_id = g_stream_id;
  } else {
    have_open = hExistingFile && hExistingFile->Identity(&open_id);
  }
  if (have_open && r.ok() && at_name.SameFile(open_id)) {
    g_since_check.clear();
    g_since_check_dropped = 0;
    g_reopen_failing = false;
    // The file may have been cut or added to from outside: where it ends is asked again.
    if (stream)
      g_stream_end.known = false;
    else
      g_end.known = hExistingFile->Size(&g_end.at);
    return 0;
  }

  const char* what = !have_open       ? "could not be written"
                     : r.IsNotFound() ? "was removed"
                                      : "was replaced";
  // Deleted while open: the lines since the last check went with it and are written again.
  // (The stream's lines cannot be had back.)
  const bool deleted = have_open && !stream && open_id.links == 0;
  std::string carried;
  const uint64_t dropped = deleted ? g_since_check_dropped : 0;
  if (deleted) carried.swap(g_since_check);

  char folder[kAccessLogPathSize];
  PathRemoveFileSpecText(LogPathBase, folder, sizeof folder);
  bool made_folder = false;
  if (folder[0] != '\0' && !platform().IsDirectory(folder))
    made_folder = platform().MakeSureDirectoryPathExists(std::string(folder) + kPathSep);

  int rc;
  if (stream) {
    QuorvixAccessLogChangeLogfile(LogPathBase);
    // The stream creates the file with its next line; the header goes first.
    std::unique_ptr<WritableFile> f = platform().OpenWritable(LogPathBase, OpenMode::kAppend);
    uint64_t size = 1;
    rc = f ? 1 : 0;
    if (f && f->Size(&size) && size == 0)
      WriteWholeTo(*f, kAccessLogHeader, sizeof kAccessLogHeader - 1);
  } else {
    rc = LogFileAccess(nullptr, LogPathBase, nullptr, nullptr, 0, kLogReopen);
    uint64_t size = 1;
    if (rc == 1 && hExistingFile->Size(&size) && size == 0)
      LogFileAccess(nullptr, LogPathBase, nullptr, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                    kLogWrite);
    if (!carried.empty() &&
        (rc != 1 || LogFileAccess(nullptr, LogPathBase, nullptr, carried.data(),
                                  static_cast<unsigned long>(carried.size()), kLogWrite) != 1)) {
      // Named one by one: each is lost now.
      for (size_t at = 0; at < carried.size();) {
        size_t end = carried.find('\n', at);
        end = end == std::string::npos ? carried.size() : end + 1;
        LineLost(carried.data() + at, end - at);
        at = end;
      }
      carried.clear();
    }
    if (OptionInfo.LogFileSelect != 0 && hExistingFile) hExistingFile->Flush();
  }
  CopyText(LogPath, LogPathBase);
  if (rc != 1) {
    if (!g_reopen_failing) {
      g_reopen_failing = true;
      char text[kAccessLogPathSize + 160];
      std::snprintf(text, sizeof text,
                    "the access log %s %s and cannot be opened again under its name; retried "
                    "every second",
                    LogPathBase, what);
      QVX_KLOG("QVX_E11-009 QVX_AccessLogCheckFile[%d][%ld] : %s\r\n", text);
      QVX_ELOG("QVX_E11-009 QVX_AccessLogCheckFile[%d][%ld] : %s\r\n", text);
      AddNotice(text);
    }
    return 0;
  }
  g_reopen_failing = false;
  char text[kAccessLogPathSize + 200];
  std::snprintf(text, sizeof text, "the access log %s %s under the program: opened again%s%s",
                LogPathBase, what, made_folder ? " (its folder made anew)" : "",
                carried.empty() ? "" : ", with the lines written since the last check");
  QVX_KLOG("QVX_W11-008 QVX_AccessLogCheckFile[%d][%ld] : %s\r\n", text);
  QVX_ELOG("QVX_W11-008 QVX_AccessLogCheckFile[%d][%ld] : %s\r\n", text);
  AddNotice(text);
  if (dropped > 0) {
    g_lines_lost += dropped;
    QVX_KLOG(
        "QVX_E11-010 QVX_AccessLogCheckFile[%d][%ld] : %llu lines written since the last check "
        "went with the removed file\r\n",
        static_cast<unsigned long long>(dropped));
  }
  return 1;
}

void QVX_AccessLogClose() {
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  hExistingFile.reset();
  pAccessLogfile.reset();
}

const char* QVX_LineStamp(const LocalTime& t, char* out, size_t size) {
  char s[96] = "[";
  const size_t n =
      1 + DateTimeText(s + 1, sizeof s - 2, t.year, t.month, t.day, t.hour, t.minute, t.second);
  s[n] = ']';
  s[n + 1] = '\0';
  CopyText(out, size, s);
  return out;
}

const char* QVX_PathField(const char* path, char* out, size_t size) {
  if (path == nullptr) path = "";
  if (OptionInfo.PathDubileCorteSet != 1) return path;
  if (size < 3) return "";
  // A quote inside is doubled, so that a spreadsheet reads the field whole; a quote is never
  // cut in half.
  size_t n = 0;
  out[n++] = '"';
  for (const char* p = path; *p; ++p) {
    const size_t k = *p == '"' ? 2 : 1;
    if (n + k + 1 > size - 1) break;
    out[n++] = *p;
    if (k == 2) out[n++] = '"';
  }
  out[n++] = '"';
  out[n] = '\0';
  return out;
}

namespace {

// The line buffer: the capture thread's LogData, or one of the caller's own before it exists.
struct LineBuffer {
  char local[8192];
  char* buf = LogData ? LogData : local;
  size_t size = LogData ? static_cast<size_t>(kLogDataSize) : sizeof local;
};

// Cuts a line that did not fit inside the buffer (still one line), escapes it and writes it.
void FinishLine(char* buf, size_t n, bool cut, size_t size) {
  if (cut) {
    n = size - 1;
    buf[n - 2] = '\r';
    buf[n - 1] = '\n';
    buf[n] = '\0';
  }
  const size_t len = QVX_EscapeLine(buf, n, size);
  QVX_AccessLogWrite(buf, len);
}

}  // namespace

void QVX_AccessLogJoin(std::initializer_list<std::string_view> parts) {
  if (OptionInfo.LogFileWriteFlg != 1) return;
  LineBuffer b;
  size_t n = 0;
  bool cut = false;
  for (const std::string_view part : parts) {
    const size_t k = part.size();
    if (k > b.size - 1 - n) {
      std::memcpy(b.buf + n, part.data(), b.size - 1 - n);
      n = b.size - 1;
      cut = true;
      break;
    }
    if (k) std::memcpy(b.buf + n, part.data(), k);
    n += k;
  }
  b.buf[n] = '\0';
  FinishLine(b.buf, n, cut, b.size);
}

}  // namespace qvx
