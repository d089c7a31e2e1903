#include "base/dbglog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "base/option.h"
#include "base/text.h"

namespace qvx {

void* hInst = nullptr;
int ChangeDayValue = 0;
char szLogfileName[kLogPathSize];
char szLogfileName1[kLogPathSize];
char szLogfileName2[kLogPathSize];
char szCmdLineOpt[256];
int nCmdLineOptSc = 0;
char Dbg_Buf[kDbgBufSize];
char Dbg_Buf1[kDbgBufSize];
char Dbg_Buf2[kDbgBufSize];
std::unique_ptr<WritableFile> hExistingDbgFile;
std::unique_ptr<WritableFile> hExistingDbgFile1;
std::unique_ptr<WritableFile> hExistingDbgFile2;

namespace {

// One lock per log: both threads write every log, and each log's buffer is shared.
std::recursive_mutex g_kernel_lock;
std::recursive_mutex g_debug_lock;
std::recursive_mutex g_event_lock;
long PrintCnt = 0;
// Debug-log lines not yet written, and the second they were last written in. Room for more
// than a whole recycling period of breadcrumbs: lines that a recycle deletes before their second
// is over are then never written at all.
char g_debug_pending[1 << 20];
size_t g_debug_pending_len = 0;
std::time_t g_debug_pending_since = 0;
unsigned g_debug_pending_lines = 0;

bool FlushDebugPending() {
  g_debug_pending_since = std::time(nullptr);
  if (g_debug_pending_len == 0) return true;
  const size_t n = g_debug_pending_len;
  g_debug_pending_len = 0;
  return hExistingDbgFile1 &&
         hExistingDbgFile1->Write(g_debug_pending, n, OptionInfo.AsynchronousFlg == 1);
}

std::recursive_mutex& LockOf(DiagLog log) {
  switch (log) {
    case DiagLog::kKernel:
      return g_kernel_lock;
    case DiagLog::kDebug:
      return g_debug_lock;
    default:
      return g_event_lock;
  }
}

// Writes "text" to the debug log; used for the writers' own failure lines.
void WriterFailure(const char* msgid_fmt, int line, long code, const char* file) {
  DiagLogLine(DiagLog::kDebug, 1, msgid_fmt, line, code, file ? file : "");
}

// Errors (and warnings) also go to the system's log with their ids, where a service's operator
// looks first (the journal).
void ToSystemLog(const char* text, unsigned long len) {
  if (len <= 5 || std::strncmp(text, "QVX_", 4) != 0 || (text[4] != 'E' && text[4] != 'W')) return;
  unsigned long end = len;
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  platform().SystemLog(text[4] == 'E', std::string(text, end));
}

// Shared body of the kernel and event writers.
int PrintTo(std::unique_ptr<WritableFile>& handle, const char* path, const char* FileName,
            const char* WriteData, unsigned long WriteSize, int Flg) {
  ToSystemLog(WriteData, WriteSize);
  if (Flg == 0) {
    handle = platform().OpenWritable(path, OpenMode::kAppend);
    if (!handle) {
      WriterFailure("QVX_E11-001 LogFileAccess[%d][%ld] : ログファイルが作成できません。%s\r\n",
                    __LINE__, platform().LastError(), FileName);
      return 0;
    }
  }
  if (!handle || !handle->Write(WriteData, WriteSize, OptionInfo.AsynchronousFlg == 1)) {
    WriterFailure("QVX_E11-003 LogFileAccess[%d][%ld] : ログファイルに書き込みできません。%s\r\n",
                  __LINE__, platform().LastError(), FileName);
    return 0;
  }
  return 1;
}

}  // namespace

int DbgLogPrint(void*, const char* FileName, const char*, const char* WriteData,
                unsigned long WriteSize, int Flg) {
  std::lock_guard<std::recursive_mutex> lock(g_kernel_lock);
  return PrintTo(hExistingDbgFile, szLogfileName, FileName, WriteData, WriteSize, Flg);
}

int DbgLogPrint2(void*, const char* FileName, const char*, const char* WriteData,
                 unsigned long WriteSize, int Flg) {
  std::lock_guard<std::recursive_mutex> lock(g_event_lock);
  return PrintTo(hExistingDbgFile2, szLogfileName2, FileName, WriteData, WriteSize, Flg);
}

namespace {

// Lines after which the debug log starts over empty.
long RecycleLimit() {
  return OptionInfo.AsynchronousFlg == 1 ? kDebugLogRecycleLinesAsync : kDebugLogRecycleLines;
}

// One line into the debug log, the lock held: counted, the file recycled when the count is
// reached, and gathered with the lines before it.
int AppendDebugLine(const char* WriteData, unsigned long WriteSize) {
  ++PrintCnt;
  if (PrintCnt > RecycleLimit()) {
    // The file is recreated empty: what it was still to receive would go with it.
    g_debug_pending_len = 0;
    hExistingDbgFile1.reset();
    platform().RemoveFile(szLogfileName1);
    hExistingDbgFile1 = platform().OpenWritable(szLogfileName1, OpenMode::kCreateAlways);
    PrintCnt = 0;
    if (!hExistingDbgFile1) return 0;
  }
  if (!hExistingDbgFile1) return 0;
  // Lines are gathered and written a block at a time, at the latest a second after they were
  // made, and at every close.
  if (g_debug_pending_len + WriteSize > sizeof g_debug_pending && !FlushDebugPending()) return 0;
  if (WriteSize > sizeof g_debug_pending)
    return hExistingDbgFile1->Write(WriteData, WriteSize, OptionInfo.AsynchronousFlg == 1) ? 1 : 0;
  std::memcpy(g_debug_pending + g_debug_pending_len, WriteData, WriteSize);
  g_debug_pending_len += WriteSize;
  // The clock is asked every few lines only.
  if (++g_debug_pending_lines % 16 == 0 && std::time(nullptr) != g_debug_pending_since &&
      !FlushDebugPending())
    return 0;
  return 1;
}

// Breadcrumbs come several to a frame from the capture thread: every thread adds its own to one
// block, in the order they are made, under a spin lock that is held for a copy of a few bytes
// only (no file, no clock); the block is handed to the log when it is full, when it is a second
// old, and at every flush, close or debug-log line, which therefore follows every crumb before it.
struct CrumbBlock {
  char text[16384];
  size_t len = 0;
  unsigned lines = 0;
  std::time_t since = 0;
};
CrumbBlock g_crumbs;
std::atomic<bool> g_crumbs_busy{false};

void LockCrumbs() {
  for (int spins = 0; g_crumbs_busy.exchange(true, std::memory_order_acquire); ++spins)
    if (spins > 64) std::this_thread::yield();  // the holder is handing the block over
}
void UnlockCrumbs() { g_crumbs_busy.store(false, std::memory_order_release); }

// Hands the crumbs to the log, counted and recycled as if each had come alone; when no recycle
// falls among them they go in one piece. The debug log's lock is held by the caller or taken here.
void HandOverCrumbs() {
  std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
  LockCrumbs();
  CrumbBlock& b = g_crumbs;
  if (b.len == 0) {
    UnlockCrumbs();
    return;
  }
  if (PrintCnt + static_cast<long>(b.lines) <= RecycleLimit() && hExistingDbgFile1 &&
      (g_debug_pending_len + b.len <= sizeof g_debug_pending || FlushDebugPending())) {
    std::memcpy(g_debug_pending + g_debug_pending_len, b.text, b.len);
    g_debug_pending_len += b.len;
    PrintCnt += static_cast<long>(b.lines);
    b.len = 0;
    b.lines = 0;
    UnlockCrumbs();
    if (std::time(nullptr) != g_debug_pending_since) FlushDebugPending();
    return;
  }
  size_t at = 0;
  while (at < b.len) {
    const char* end = static_cast<const char*>(std::memchr(b.text + at, '\n', b.len - at));
    const size_t n = end ? static_cast<size_t>(end - (b.text + at)) + 1 : b.len - at;
    AppendDebugLine(b.text + at, static_cast<unsigned long>(n));  // made while the log was on
    at += n;
  }
  b.len = 0;
  b.lines = 0;
  UnlockCrumbs();
}

// A fatal signal or unhandled exception: what is still held goes to the file, oldest first, with
// no lock taken (the dying thread may hold one).
void FlushForCrash() {
  if (!hExistingDbgFile1) return;
  AppendForCrash(szLogfileName1, g_debug_pending, g_debug_pending_len);
  AppendForCrash(szLogfileName1, g_crumbs.text, g_crumbs.len);
}

}  // namespace

int DbgLogPrint1(void*, const char*, const char*, const char* WriteData, unsigned long WriteSize,
                 int) {
  HandOverCrumbs();  // every crumb made before this line goes first
  std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
  if (OptionInfo.NonEventWriteLogFlg == 1) return 1;
  return AppendDebugLine(WriteData, WriteSize);
}

void DbgCrumbTick() {
  LockCrumbs();
  const bool old = g_crumbs.len != 0 && std::time(nullptr) != g_crumbs.since;
  UnlockCrumbs();
  if (old) HandOverCrumbs();
}

void DbgLogCatchCrashes() { InstallFatalHandler(FlushForCrash); }

void DbgLogFlush() {
  HandOverCrumbs();
  std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
  FlushDebugPending();
}

bool DbgLogCreate() {
  HandOverCrumbs();
  std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
  FlushDebugPending();
  hExistingDbgFile1 = platform().OpenWritable(szLogfileName1, OpenMode::kCreateAlways);
  PrintCnt = 0;
  return hExistingDbgFile1 != nullptr;
}

void DbgLogCloseAll() {
  {
    std::lock_guard<std::recursive_mutex> lock(g_kernel_lock);
    hExistingDbgFile.reset();
  }
  {
    HandOverCrumbs();
    std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
    FlushDebugPending();
    hExistingDbgFile1.reset();
  }
  {
    std::lock_guard<std::recursive_mutex> lock(g_event_lock);
    hExistingDbgFile2.reset();
  }
}

void DbgLogReopenAll() {
  // Each log between two of its lines: its own lock held, the debug log's lines written first.
  {
    std::lock_guard<std::recursive_mutex> lock(g_kernel_lock);
    if (hExistingDbgFile && szLogfileName[0] != '\0') {
      hExistingDbgFile.reset();
      hExistingDbgFile = platform().OpenWritable(szLogfileName, OpenMode::kAppend);
    }
  }
  {
    HandOverCrumbs();
    std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
    if (hExistingDbgFile1 && szLogfileName1[0] != '\0') {
      FlushDebugPending();
      hExistingDbgFile1.reset();
      hExistingDbgFile1 = platform().OpenWritable(szLogfileName1, OpenMode::kAppend);
    }
  }
  {
    std::lock_guard<std::recursive_mutex> lock(g_event_lock);
    if (hExistingDbgFile2 && szLogfileName2[0] != '\0') {
      hExistingDbgFile2.reset();
      hExistingDbgFile2 = platform().OpenWritable(szLogfileName2, OpenMode::kAppend);
    }
  }
}

long DbgLogPrintCount() {
  HandOverCrumbs();
  std::lock_guard<std::recursive_mutex> lock(g_debug_lock);
  return PrintCnt;
}

int MakeIniFileName(const char* ini_fname, char* ini_fullpath, size_t size) {
  std::string exe = platform().ExecutablePath();
  if (exe.empty() || exe.size() > 512 || size == 0) return 0;
  // drive + directory: everything up to and including the last separator.
  size_t cut = exe.find_last_of("\\/");
  std::string dir = cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
  int n = std::snprintf(ini_fullpath, size, "%s%s", dir.c_str(), ini_fname);
  if (n < 0 || static_cast<size_t>(n) >= size) {
    ini_fullpath[0] = '\0';
    return 0;
  }
  return 1;
}

void DiagLogLine(DiagLog log, int Flg, const char* fmt, ...) {
  std::lock_guard<std::recursive_mutex> lock(LockOf(log));
  char* buf = log == DiagLog::kKernel ? Dbg_Buf : log == DiagLog::kDebug ? Dbg_Buf1 : Dbg_Buf2;
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(buf, kDbgBufSize, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(n) >= kDbgBufSize) {
    // Cut, but keep the line a line.
    buf[kDbgBufSize - 3] = '\r';
    buf[kDbgBufSize - 2] = '\n';
    buf[kDbgBufSize - 1] = '\0';
  }
  // Traces quote names and values from the wire: they are escaped like the access log's.
  unsigned long len =
      static_cast<unsigned long>(QVX_EscapeLine(buf, std::strlen(buf), kDbgBufSize));
  if (log == DiagLog::kDebug) ToSystemLog(buf, len);
  switch (log) {
    case DiagLog::kKernel:
      DbgLogPrint(nullptr, szLogfileName, nullptr, buf, len, Flg);
      break;
    case DiagLog::kDebug:
      DbgLogPrint1(nullptr, szLogfileName1, nullptr, buf, len, Flg);
      break;
    case DiagLog::kEvent:
      DbgLogPrint2(nullptr, szLogfileName2, nullptr, buf, len, Flg);
      break;
  }
}

void DbgCrumb(int line) {
  // Several crumbs are left per frame: skip the formatting when the log is off, and spell the
  // short line out by hand.
  if (OptionInfo.NonEventWriteLogFlg == 1) return;
  char text[7 + 10 + 6];  // "QVXDBG[" digits "] : \r\n"
  char* p = text;
  std::memcpy(p, "QVXDBG[", 7);
  p += 7;
  unsigned v = line < 0 ? 0u : static_cast<unsigned>(line);
  int digits = 1;
  for (unsigned t = v; t >= 10; t /= 10) ++digits;
  for (int i = digits - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
  p += digits;
  std::memcpy(p, "] : \r\n", 6);
  const size_t n = static_cast<size_t>(p + 6 - text);

  // The clock is asked every few crumbs only, outside the lock.
  thread_local unsigned made = 0;
  const bool ask_clock = ++made % 16 == 0;
  const std::time_t now = ask_clock ? std::time(nullptr) : 0;
  LockCrumbs();
  while (g_crumbs.len + n > sizeof g_crumbs.text) {
    UnlockCrumbs();
    HandOverCrumbs();
    LockCrumbs();
  }
  CrumbBlock& b = g_crumbs;
  if (b.len == 0) b.since = ask_clock ? now : std::time(nullptr);
  std::memcpy(b.text + b.len, text, n);
  b.len += n;
  ++b.lines;
  const bool old = ask_clock && now != b.since;
  UnlockCrumbs();
  if (old) HandOverCrumbs();
}

}  // namespace qvx

namespace qvx {
int ScMessageBox(void* owner, const char* text, const char* caption, unsigned style) {
  if (nCmdLineOptSc == 1) return kIdOk;
  return platform().ShowMessageBox(owner, text, caption, style);
}
}  // namespace qvx
