// Switching the access log to a dated file (by size, days, weekdays or day of the month) and
// reopening it between switches, driven by the main window's one-second timer.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace qvx {

// When the current period of the dated change began (the program start, then each change).
extern time_t StartTime;

// Weekday bits of LogChgYoubiFlg, indexed by the C library's weekday (0 = Sunday).
extern const int32_t Youbi_Flg_Chk[7];

// Days of month (1..12) of year; 0 for a month above 12.
int GetLastDay(int year, int month);
// The local hour (0..23) and minute (0..59) now; flg takes no part.
int NowHourGet(int flg);
int NowMinitGet(int flg);

// 1 when the access log must be switched now, else 0. Every rule that fires writes its message
// to the event log; hDlg and FileName take no part (the size is that of the open log).
int LogFileChangeCheck(void* hDlg, const char* FileName, int LogFileChangeSize,
                       int LogFileChangeDate, int LogChgYoubiFlg, int LogChgDayFlg);

// Whether the tick at now_seconds is due for a rotation check: a multiple of
// LogFileChangeChkTime (taken as 1 when 0 or less) has been reached since the tick before, so a
// tick that runs late still checks.
bool QVX_LogChangeCheckDue(int64_t now_seconds);

// The timer's rotation job: when due, the check and then the switch or the reopen.
void QVX_LogRotationTick(const LocalTime& now);

// Renames the access log to its dated name and starts a new one with the header, under
// g_critSec. 1 when switched; 0 when the old file goes on (reported; the next check tries again).
int QVX_AccessLogSwitch();
// Called after each switch, under g_critSec, with the stamp of the old log's dated name: files
// written beside the access log (the JSON Lines file) switch with it. An empty one: none.
void QVX_SetLogSwitchFollower(std::function<void(const std::string& stamp)> follower);

// Closes and reopens the access log under its configured name, under g_critSec, so that a file
// moved away from outside (logrotate) is followed. A new or empty file gets the header.
int QVX_AccessLogReopen();

// SIGHUP: the access log (when written) and the diagnostic logs are closed and opened again
// under their names, between two lines, under g_critSec. Nothing else is touched: capture, the
// tables and the trees go on. 1 when the access log is open afterwards (or not written).
int QVX_LogsReopen();

// Forgets the tick and switch state (start of a run, tests).
void QVX_LogRotationReset();

}  // namespace qvx
