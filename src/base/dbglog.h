// The three diagnostic logs (kernel, debug, event), their writers and the process-wide start-up
// globals that name them.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/platform.h"

namespace qvx {

inline constexpr size_t kDbgBufSize = 512;
inline constexpr size_t kLogPathSize = 512;
// Lines written to the debug log before it is recreated empty.
inline constexpr long kDebugLogRecycleLines = 40000;
inline constexpr long kDebugLogRecycleLinesAsync = 1000;

extern void* hInst;
extern int ChangeDayValue;
extern char szLogfileName[kLogPathSize];   // kernel log
extern char szLogfileName1[kLogPathSize];  // debug log
extern char szLogfileName2[kLogPathSize];  // event log
extern char szCmdLineOpt[256];
extern int nCmdLineOptSc;
extern char Dbg_Buf[kDbgBufSize];
extern char Dbg_Buf1[kDbgBufSize];
extern char Dbg_Buf2[kDbgBufSize];
extern std::unique_ptr<WritableFile> hExistingDbgFile;
extern std::unique_ptr<WritableFile> hExistingDbgFile1;
extern std::unique_ptr<WritableFile> hExistingDbgFile2;

// Writers. Flg 0 opens FileName (open-or-create, at the end) and writes; Flg 1 writes to the
// handle already open. Return 1 on success, 0 on failure.
int DbgLogPrint(void* hDlg, const char* FileName, const char* ChgFileName, const char* WriteData,
                unsigned long WriteSize, int Flg);
int DbgLogPrint1(void* hDlg, const char* FileName, const char* ChgFileName, const char* WriteData,
                 unsigned long WriteSize, int Flg);
int DbgLogPrint2(void* hDlg, const char* FileName, const char* ChgFileName, const char* WriteData,
                 unsigned long WriteSize, int Flg);

// Creates the debug log empty (create-always). Returns false when it cannot be created.
bool DbgLogCreate();
// Writes the debug-log lines gathered so far.
void DbgLogFlush();
// Closes the three log handles (gathered debug-log lines are written first).
void DbgLogCloseAll();
// Closes each open log and opens it again under its name, at its end, between two of its lines
// (after logrotate moved it away). A log that is not open stays closed.
void DbgLogReopenAll();
// Lines written to the debug log since it was last recreated.
long DbgLogPrintCount();

// Builds drive + directory of the executable + ini_fname into ini_fullpath (size bytes).
// Returns 1 on success, 0 when the executable path cannot be had or the result does not fit.
int MakeIniFileName(const char* ini_fname, char* ini_fullpath, size_t size = kLogPathSize);

enum class DiagLog { kKernel, kDebug, kEvent };

// Formats one line into the log's buffer under the log's own lock and writes it with mode Flg.
// A line longer than the buffer is cut and still ends with CR LF.
void DiagLogLine(DiagLog log, int Flg, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Debug-log breadcrumb "QVXDBG[line] : ". The crumbs of all threads are gathered in the order
// they are made and handed to the log a block at a time; DbgLogFlush (and any other debug-log
// write) hands them over first.
void DbgCrumb(int line);
// Hands over the calling thread's crumbs when the oldest is from an earlier second: for a thread
// that may wait a long time between crumbs (the capture thread when no frame comes).
void DbgCrumbTick();
// From now on a fatal signal (Linux) or an unhandled exception (Windows) first writes out the
// debug-log lines and crumbs still held, so that a crash keeps the lines that explain it.
void DbgLogCatchCrashes();

}  // namespace qvx

// Line helpers for the common "ID Routine[%d][%ld] : text\r\n" form: the source line and the OS
// last-error code are filled in as the first two arguments.
#define QVX_KLOG(fmt, ...)                                      \
  ::qvx::DiagLogLine(::qvx::DiagLog::kKernel, 1, fmt, __LINE__, \
                     static_cast<long>(::qvx::platform().LastError()) __VA_OPT__(, ) __VA_ARGS__)
#define QVX_ELOG(fmt, ...)                                     \
  ::qvx::DiagLogLine(::qvx::DiagLog::kEvent, 1, fmt, __LINE__, \
                     static_cast<long>(::qvx::platform().LastError()) __VA_OPT__(, ) __VA_ARGS__)
#define QVX_DBG() ::qvx::DbgCrumb(__LINE__)

namespace qvx {
// A message box of the main window, capture control or tray menu: skipped under "SC", where
// only the caller's log line is written. Returns the button, or kIdOk when skipped.
int ScMessageBox(void* owner, const char* text, const char* caption, unsigned style);
}  // namespace qvx
