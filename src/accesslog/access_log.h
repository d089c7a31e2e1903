// The access log: one CR LF line per event, written through one open handle under g_critSec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/option.h"
#include "platform/platform.h"
#include "platform/stdio_file.h"

namespace qvx {

// The access-log line buffer of the thread that writes the log (allocated with the tables; null
// before).
extern char* LogData;
inline constexpr int kLogDataSize = 65536;

inline constexpr size_t kAccessLogPathSize = 512;
// The first line of every access log the program creates (123 bytes).
inline constexpr const char kAccessLogHeader[] =
    "[Access Time],Action,TreeID,Login Name,Client(IP),Server(IP),Client(MAC),Server(MAC),SMB "
    "Cmd,SMB Info,Size,Operation,Path\r\n";

extern char LogPathBase[kAccessLogPathSize];  // the configured access log
extern char LogPath[kAccessLogPathSize];      // the name line writes report in failures
extern std::unique_ptr<WritableFile> hExistingFile;

// The C-library writer (LogFileSelect 2).
extern char szAccessLogfileName[kAccessLogPathSize];
extern std::unique_ptr<StdioFile> pAccessLogfile;  // null while closed

// Modes of LogFileAccess.
enum : int {
  kLogOpenWrite = 0,  // open FileName at its end and write
  kLogWrite = 1,      // write to the open handle
  kLogReopen = 2,     // close, open FileName again at its end; nothing written
  kLogRenameNew = 3,  // close, rename FileName to ChgFileName, open FileName anew and write
};
// 1 on success, 0 on failure (reported to the kernel log).
int LogFileAccess(void* hDlg, const char* FileName, const char* ChgFileName, const char* WriteData,
                  unsigned long WriteSize, int Flg);

// Prepares the access log at start-up (LogPathBuf: 512 bytes, in/out). 0 success, 1 failure; a
// failure clears OptionInfoTmp->LogFileWriteFlg.
int LogFileMake(char* LogPathBuf, OptionInfoSt* OptionInfoTmp, void* data);

// Closes the C-library stream and names its next file (the path is taken as it is).
void QuorvixAccessLogChangeLogfile(const char* path);
// Appends a formatted text through the C-library stream, opening it first when closed.
void QuorvixAccessLogPrintLog(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Inserts the local time "yymmddhhmmss" before the extension of LogPath (512 bytes). Always 0.
int FileNameAddDate(char* LogPath);
// The stamp FileNameAddDate puts in a name ("261209102007", local time yymmddhhmmss), and path
// with a given stamp put before its extension (files that switch together with the log).
std::string QVX_DateStamp(const LocalTime& t);
std::string QVX_DatedName(const std::string& path, const std::string& stamp);
// The stamp of the dated name the previous log got at this start (StartLogChg=1); empty when the
// start renamed nothing.
const std::string& QVX_AccessLogStartStamp();
// The folder part of a path, as PathRemoveFileSpecA leaves it; "" when it has none.
void PathRemoveFileSpecText(const char* path, char* folder, size_t size);

// The start-up sequence: prepare the file, name the C-library writer, report.
void QVX_AccessLogStartUp(void* owner);
// Why the access log the settings turn on could not be set up by the last start-up, in a few
// words after its path ("/srv/q: it is a folder"); "" when it was, or was off.
const std::string& QVX_AccessLogStartUpProblem();
// What stands in the way of writing a file at path: a folder of that name, a file where one of
// its folders should be, a folder that is not there; "" when none of these.
std::string QVX_PathProblem(const char* path);
// Writes one finished line of the access log (when LogFileWriteFlg is 1) under g_critSec, in
// one write call, and without a flush of its own (the writer flushes a batch of lines with
// QVX_AccessLogFlush). 1 when written. A line that cannot be
// written leaves nothing of itself in the file (what reached it is cut away again), is counted
// and is named in the kernel log (QVX_E11-006) by its time, user, client, operation and path.
int QVX_AccessLogWrite(const char* line, size_t size);
// Makes the lines written so far durable when LogFileSelect is 1 (the C-library writer of 2
// hands each line to the system; 0 leaves it all to the system).
void QVX_AccessLogFlush();
// Lines QVX_AccessLogWrite could not write since the program started.
uint64_t QVX_AccessLogLinesLost();
// Lines QVX_AccessLogWrite wrote since the program started.
uint64_t QVX_AccessLogLinesWritten();
// Tells the user, the first time lines were lost, with a message box (skipped under "SC") and an
// event-log line; true when it told now. For the window thread: a box on the capture thread would
// hold capture up.
bool QVX_AccessLogLossNotice(void* owner);
// The one-second check that the open access log still has its name (device and inode, or file
// index): a log removed (its folder too) or replaced from outside is opened again under its
// name, its folder made anew when missing, and the kernel log, the event log and the console
// hear of it; lines written to a deleted file since the last check are written again into the
// new one. A log that could not be opened is tried again. 1 when it was opened again.
int QVX_AccessLogCheckFile();
// The notices for the console that came up since the last call (the headless build prints them).
std::vector<std::string> QVX_AccessLogTakeNotices();
// The time field that starts every access-log line: "[YYYY/MM/DD hh:mm:ss]".
const char* QVX_LineStamp(const LocalTime& t, char* out, size_t size);

// A tree's share field: \\server\share (511 bytes at most) and its bracketed ids.
inline constexpr size_t kQuotedShareSize = 640;
// The last field of a line (the path): as it is, or with PathDubileCorteSet 1 enclosed in double
// quotes with every quote inside doubled (in out, size bytes, cut inside it).
const char* QVX_PathField(const char* path, char* out, size_t size);

// Joins one access-log line from its parts in the writer's line buffer (LogData) and
// writes it as QVX_AccessLogWrite does. Values from the wire in it are escaped (QVX_EscapeLine).
// A line longer than the buffer is cut and still ends with CR LF.
void QVX_AccessLogJoin(std::initializer_list<std::string_view> parts);
// Shutdown: closes the handle and the C-library stream.
void QVX_AccessLogClose();

}  // namespace qvx
