#include "accesslog/access_log.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

#include "app/tables.h"
#include "base/data.h"
#include "base/dbglog.h"
#include "base/text.h"

namespace qvx {

char LogPathBase[kAccessLogPathSize];
char LogPath[kAccessLogPathSize];
std::unique_ptr<WritableFile> hExistingFile;
char szAccessLogfileName[kAccessLogPathSize];
std::FILE* pAccessLogfile = nullptr;

namespace {

// Closes the C-library stream when the program exits.
struct QUORVIXACCESSLOGFILECLOSER {
  ~QUORVIXACCESSLOGFILECLOSER() {
    if (pAccessLogfile) {
      std::fclose(pAccessLogfile);
      pAccessLogfile = nullptr;
    }
  }
};
QUORVIXACCESSLOGFILECLOSER QuorvixAccesslogfilecloser;

bool IsSep(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// Lines that could not be written, and whether the user was told.
std::atomic<uint64_t> g_lines_lost{0};
std::atomic<bool> g_loss_told{false};

bool OpenAtEnd(const char* FileName) {
  hExistingFile = platform().OpenWritable(FileName ? FileName : "", OpenMode::kAppend);
  return hExistingFile != nullptr;
}

}  // namespace

int LogFileAccess(void* /*hDlg*/, const char* FileName, const char* ChgFileName,
                  const char* WriteData, unsigned long WriteSize, int Flg) {
  if (FileName == nullptr) FileName = "";
  if (OptionInfo.ErrorLevel >= 6)
    QVX_KLOG("QVX_D31-001 LogFileAccess[%d][%ld] : >>>>>>>>>> %s\r\n", WriteData ? WriteData : "");
  if (Flg == kLogOpenWrite || Flg == kLogReopen) {
    if (Flg == kLogReopen) hExistingFile.reset();
    if (!OpenAtEnd(FileName)) {
      QVX_KLOG("QVX_E11-001 LogFileAccess[%d][%ld] : ログファイルが作成できません。%s\r\n",
               FileName);
      return 0;
    }
    if (Flg == kLogReopen) return 1;
  } else if (Flg == kLogRenameNew) {
    hExistingFile.reset();
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
      !hExistingFile->Write(WriteData, WriteSize, OptionInfo.AsynchronousFlg == 1)) {
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
#ifdef _WIN32
    if (p.size() >= 2 && p[1] == ':') out = p.substr(0, 2);
#endif
  } else if (pos == 0) {
    out = p.substr(0, 1);  // the root keeps its separator
#ifdef _WIN32
  } else if (pos == 2 && p[1] == ':') {
    out = p.substr(0, 3);  // "C:\"
#endif
  } else {
    out = p.substr(0, pos);
  }
  CopyText(folder, size, out.c_str());
}

int FileNameAddDate(char* path) {
  LocalTime now = platform().Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d%02d", now.year - 2000, now.month,
                now.day, now.hour, now.minute, now.second);
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
  std::string out = p + stamp + ext;
  CopyText(path, kAccessLogPathSize, out.c_str());
  return 0;
}

namespace {

// The rename-and-start-new branch: the old log keeps the dated name.
int StartNewDated(char* LogPathBuf, OptionInfoSt* o) {
  char dated[kAccessLogPathSize];
  CopyText(dated, LogPathBuf);
  FileNameAddDate(dated);
  if (LogFileAccess(nullptr, LogPathBuf, dated, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                    kLogRenameNew) != 1) {
    o->LogFileWriteFlg = 0;
    return 1;
  }
  CopyText(LogPathBuf, kAccessLogPathSize, dated);
  return 0;
}

}  // namespace

int LogFileMake(char* LogPathBuf, OptionInfoSt* o, void* data) {
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
  if (pAccessLogfile) {
    std::fclose(pAccessLogfile);
    pAccessLogfile = nullptr;
  }
  CopyText(szAccessLogfileName, path);
}

void QuorvixAccessLogPrintLog(const char* fmt, ...) {
  if (!pAccessLogfile) {
    // Binary: the lines carry their own CR LF, which text mode would double on Windows.
    pAccessLogfile = std::fopen(szAccessLogfileName, "ab");
    if (!pAccessLogfile) return;
  }
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(pAccessLogfile, fmt, ap);
  va_end(ap);
  std::fflush(pAccessLogfile);
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

int QVX_AccessLogWrite(const char* line, size_t size) {
  if (OptionInfo.LogFileWriteFlg != 1 || line == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  if (OptionInfo.LogFileSelect == 2) {
    // The C-library writer carries every line in this mode.
    if (OptionInfo.ErrorLevel >= 6)
      QVX_KLOG("QVX_D31-001 LogFileAccess[%d][%ld] : >>>>>>>>>> %s\r\n", line);
    QuorvixAccessLogPrintLog("%.*s", static_cast<int>(size), line);
    // A full disk shows only as the stream's error state.
    if (!pAccessLogfile || std::ferror(pAccessLogfile)) {
      if (pAccessLogfile) std::clearerr(pAccessLogfile);
      QVX_KLOG("QVX_E11-003 LogFileAccess[%d][%ld] : ログファイルに書き込みできません。%s\r\n",
               szAccessLogfileName);
      ++g_lines_lost;
      return 0;
    }
    return 1;
  }
  int rc =
      LogFileAccess(nullptr, LogPath, nullptr, line, static_cast<unsigned long>(size), kLogWrite);
  if (OptionInfo.LogFileSelect != 0 && hExistingFile) hExistingFile->Flush();
  if (rc != 1) ++g_lines_lost;
  return rc;
}

uint64_t QVX_AccessLogLinesLost() { return g_lines_lost.load(); }

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

void QVX_AccessLogClose() {
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  hExistingFile.reset();
  if (pAccessLogfile) {
    std::fclose(pAccessLogfile);
    pAccessLogfile = nullptr;
  }
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

void QVX_AccessLogLine(const char* fmt, ...) {
  if (OptionInfo.LogFileWriteFlg != 1) return;
  LineBuffer b;
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(b.buf, b.size, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  FinishLine(b.buf, static_cast<size_t>(n), static_cast<size_t>(n) >= b.size, b.size);
}

void QVX_AccessLogJoin(std::initializer_list<const char*> parts) {
  if (OptionInfo.LogFileWriteFlg != 1) return;
  LineBuffer b;
  size_t n = 0;
  bool cut = false;
  for (const char* part : parts) {
    if (part == nullptr) continue;
    const size_t k = std::strlen(part);
    if (k > b.size - 1 - n) {
      std::memcpy(b.buf + n, part, b.size - 1 - n);
      n = b.size - 1;
      cut = true;
      break;
    }
    std::memcpy(b.buf + n, part, k);
    n += k;
  }
  b.buf[n] = '\0';
  FinishLine(b.buf, n, cut, b.size);
}

}  // namespace qvx
