#include "accesslog/rotation.h"

#include <mutex>

#include "accesslog/access_log.h"
#include "accesslog/log_writer.h"
#include "base/data.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"

namespace qvx {

time_t StartTime = 0;

const int32_t Youbi_Flg_Chk[7] = {0x1, 0x10, 0x100, 0x1000, 0x10000, 0x100000, 0x1000000};

namespace {

// Tick state of the due test; touched by the timer's thread only.
bool g_have_tick = false;
int64_t g_last_tick = 0;
// A switch the last check asked for did not happen (the rename failed): the next check retries.
bool g_switch_pending = false;
// Who switches with the log (under g_critSec).
std::function<void(const std::string&)> g_switch_follower;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Day of the year, 0-based.
int DayOfYear(int year, int month, int day) {
  int n = day - 1;
  for (int m = 1; m < month && m <= 12; ++m) n += GetLastDay(year, m);
  return n;
}

// The size of the file the lines go to. The C-library writer (LogFileSelect 2) has no handle
// of ours, so its file is asked by name.
bool OpenLogSize(uint64_t* size) {
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  if (OptionInfo.LogFileSelect == 2 && szAccessLogfileName[0] != '\0') {
    FileInfo fi;
    const Status r = platform().GetFileInfo(szAccessLogfileName, &fi);
    if (r.IsNotFound()) {
      *size = 0;  // the stream creates it with its first line
      return true;
    }
    if (!r.ok()) return false;
    *size = fi.size;
    return true;
  }
  return hExistingFile && hExistingFile->Size(size);
}

// Writes the header when the open log is empty: the file was created (or emptied) from outside.
void HeaderIfEmpty() {
  uint64_t size = 1;
  if (hExistingFile && hExistingFile->Size(&size) && size == 0)
    LogFileAccess(nullptr, LogPathBase, nullptr, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                  kLogWrite);
}

// Lines of the C-library writer follow the configured name: its stream is closed and opens the
// file under LogPathBase with its next line. Our own handle is let go of, as at start-up: on
// Windows it would keep the stream from opening the file for writing.
void FollowBaseName() {
  if (OptionInfo.LogFileSelect != 2) return;
  hExistingFile.reset();
  QuorvixAccessLogChangeLogfile(LogPathBase);
}

}  // namespace

int GetLastDay(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
  return kDays[month - 1];
}

int NowHourGet(int /*flg*/) {
  int h = platform().Now().hour;
  return h >= 0 && h <= 23 ? h : -1;
}

int NowMinitGet(int /*flg*/) {
  int m = platform().Now().minute;
  return m >= 0 && m <= 59 ? m : -1;
}

int LogFileChangeCheck(void* /*hDlg*/, const char* /*FileName*/, int LogFileChangeSize,
                       int LogFileChangeDate, int LogChgYoubiFlg, int LogChgDayFlg) {
  const LocalTime now = platform().Now();
  int ret = 0;

  // Day rules: once, at the first check of a new day.
  if (now.day != ChangeDayValue) {
    ChangeDayValue = now.day;
    if (LogChgYoubiFlg != 0 && now.wday >= 0 && now.wday <= 6 &&
        (LogChgYoubiFlg & Youbi_Flg_Chk[now.wday]) != 0) {
      ret = 1;
      QVX_ELOG("QVX_I10-003 LogFileChangeCheck[%d][%ld] : ログファイルの曜日切り替え。(%d)\r\n",
               LogChgYoubiFlg);
    }
    if (LogChgDayFlg >= 1) {
      int rest = LogChgDayFlg;
      bool fire = false;
      if (LogChgDayFlg / 200 == 1) {
        rest = LogChgDayFlg - 200;
        if (now.day == 1) fire = true;
      }
      if (rest / 100 == 1 && now.day == GetLastDay(now.year, now.month)) fire = true;
      if (LogChgDayFlg == now.day) fire = true;
      if (fire) {
        ret = 1;
        QVX_ELOG("QVX_I10-004 LogFileChangeCheck[%d][%ld] : ログファイルの指定日切り替え。(%d)\r\n",
                 LogChgDayFlg);
      }
    }
  }

  // Size, in units of 1000 bytes. The product is 64-bit: a large setting must not wrap round.
  if (LogFileChangeSize >= 1) {
    uint64_t size = 0;
    if (!OpenLogSize(&size)) {
      QVX_ELOG("QVX_E10-001 LogFileChangeCheck[%d][%ld] : ログファイルのサイズ取得失敗。\r\n");
      size = 4294967295u;
    }
    if (size >= static_cast<uint64_t>(LogFileChangeSize) * 1000u) {
      ret = 1;
      QVX_ELOG("QVX_I10-001 LogFileChangeCheck[%d][%ld] : ログファイルのサイズ切り替え。(%lld)\r\n",
               static_cast<long long>(size));
    }
  }

  // Days since the period began, years taken as 365 days. The target is compared as (year, day)
  // so that a check coming only after a year end still fires.
  if (LogFileChangeDate >= 1) {
    const LocalTime start = LocalTimeFromTimeT(static_cast<int64_t>(StartTime));
    const int startday = DayOfYear(start.year, start.month, start.day);
    const int today = DayOfYear(now.year, now.month, now.day);
    const long long target = static_cast<long long>(startday) + LogFileChangeDate;
    const long long target_year = start.year + target / 365;
    const int target_day = static_cast<int>(target % 365);
    if (now.year > target_year || (now.year == target_year && today >= target_day)) {
      ret = 1;
      if (target_year > start.year)
        QVX_ELOG(
            "QVX_I10-002 LogFileChangeCheck[%d][%ld] : ログファイルの日付け切り替え。(%d)(%d)\r\n",
            LogFileChangeDate, target_day);
      QVX_ELOG(
          "QVX_I10-005 LogFileChangeCheck[%d][%ld] : ログファイルの日付け切り替え。(%d)(%d)\r\n",
          LogFileChangeDate, target_day);
      StartTime = static_cast<time_t>(now.t);
    }
  }
  return ret;
}

bool QVX_LogChangeCheckDue(int64_t now_seconds) {
  const int64_t period = OptionInfo.LogFileChangeChkTime >= 1 ? OptionInfo.LogFileChangeChkTime : 1;
  bool due;
  if (!g_have_tick || now_seconds < g_last_tick) {
    // First tick, or the clock was set back: only a tick on a multiple checks.
    due = now_seconds - FloorDiv(now_seconds, period) * period == 0;
  } else {
    due = FloorDiv(now_seconds, period) > FloorDiv(g_last_tick, period);
  }
  g_have_tick = true;
  g_last_tick = now_seconds;
  return due;
}

void QVX_LogRotationTick(const LocalTime& now) {
  if (OptionInfo.LogFileWriteFlg != 1 || OptionInfo.LogFileChangeFlg != 1) return;
  if (!QVX_LogChangeCheckDue(now.t)) return;
  // The writer switches between two of its lines: what was queued before the check goes to the
  // old file.
  QVX_LogWriter().Post([] {
    int change =
        LogFileChangeCheck(nullptr, LogPathBase, OptionInfo.LogFileSize, OptionInfo.LogFileDate,
                           OptionInfo.LogChgYoubiFlg, OptionInfo.LogChgDayFlg);
    if (change == 1 || g_switch_pending)
      QVX_AccessLogSwitch();
    else
      QVX_AccessLogReopen();
  });
}

void QVX_SetLogSwitchFollower(std::function<void(const std::string& stamp)> follower) {
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  g_switch_follower = std::move(follower);
}

int QVX_AccessLogSwitch() {
  char dated[kAccessLogPathSize];
  const std::string stamp = QVX_DateStamp(platform().Now());
  CopyText(dated, kAccessLogPathSize, QVX_DatedName(LogPathBase, stamp).c_str());
  if (OptionInfo.ErrorLevel >= 0) {
    QVX_ELOG("QVX_I02-042 QVX_LogThread[%d][%ld] : ログファイル切り替え\r\n");
    QVX_ELOG("QVX_I02-042 QVX_LogThread[%d][%ld] : ログファイルパス：%s\r\n", dated);
  }
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  // A taken name (a switch in the same second, or a replay run again) would only fail the
  // rename after the old file got its closing empty line.
  if (platform().FileExists(dated)) {
    QVX_KLOG("QVX_E10-002 QVX_LogThread[%d][%ld] : 切り替え先のファイルが既にあります。%s\r\n",
             dated);
    g_switch_pending = true;
    return 0;
  }
  CopyText(LogPath, dated);
  if (OptionInfo.ChangeLogFileUpDate == 1) {
    if (OptionInfo.LogFileSelect == 2) {
      QuorvixAccessLogPrintLog("\r\n");
    } else {
      LogFileAccess(nullptr, LogPath, nullptr, "\r\n", 2, kLogWrite);
      if (hExistingFile) hExistingFile->Flush();
    }
  }
  // The C-library stream lets go of the file before it is renamed; its next line opens the
  // new one.
  FollowBaseName();
  const bool had_base = platform().FileExists(LogPathBase);
  LogFileAccess(nullptr, LogPathBase, LogPath, kAccessLogHeader, sizeof kAccessLogHeader - 1,
                kLogRenameNew);
  if (hExistingFile) hExistingFile->Flush();
  FollowBaseName();
  CopyText(LogPath, LogPathBase);
  // The rename reported its own failure; the old file goes on and the next check tries again.
  g_switch_pending = had_base && !platform().FileExists(dated);
  if (!g_switch_pending && g_switch_follower) g_switch_follower(stamp);
  return g_switch_pending ? 0 : 1;
}

int QVX_AccessLogReopen() {
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  int rc = LogFileAccess(nullptr, LogPathBase, nullptr, nullptr, 0, kLogReopen);
  if (rc == 1) HeaderIfEmpty();
  if (OptionInfo.LogFileSelect != 0 && hExistingFile) hExistingFile->Flush();
  FollowBaseName();
  CopyText(LogPath, LogPathBase);
  return rc;
}

int QVX_LogsReopen() {
  std::lock_guard<std::recursive_mutex> lock(g_critSec);
  const int rc = OptionInfo.LogFileWriteFlg == 1 ? QVX_AccessLogReopen() : 1;
  DbgLogReopenAll();
  QVX_KLOG("QVX_I10-006 QVX_LogsReopen[%d][%ld] : ログファイルを開き直しました。%s\r\n",
           LogPathBase);
  return rc;
}

void QVX_LogRotationReset() {
  g_have_tick = false;
  g_last_tick = 0;
  g_switch_pending = false;
}

}  // namespace qvx
