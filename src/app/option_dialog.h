// The Options dialog's model: a private copy of the settings, what each control shows and what
// each click changes, and the checks and write-back of OK. The Win32 dialog procedure only moves
// values between its controls and this.
#pragma once

#include <string>
#include <vector>

#include "base/option.h"
#include "resources/resource.h"

namespace qvx {

// Control ids of dialog 116, as the resource script numbers them.
enum OptionCtl : int {
  kOptLogPath = IDC_OPT_LOG_PATH,
  kOptOpen = IDC_OPT_OPEN,
  kOptLogPathShown = IDC_OPT_LOG_PATH_SHOWN,
  kOptOctet1 = IDC_OPT_OCTET1,
  kOptOctet2 = IDC_OPT_OCTET2,
  kOptOctet3 = IDC_OPT_OCTET3,
  kOptOctet4 = IDC_OPT_OCTET4,
  kOptRefleshTime = IDC_OPT_REFLESH,
  kOptAllPacket = IDC_OPT_ALL_PACKET,
  kOptErrorLevel = IDC_OPT_ERROR_LEVEL,
  kOptSmb = IDC_OPT_SMB,
  kOptApi = IDC_OPT_API,
  kOptLogWrite = IDC_OPT_LOG_WRITE,
  kOptLogChange = IDC_OPT_LOG_CHANGE,
  kOptLogFileSize = IDC_OPT_LOG_SIZE,
  kOptLogFileDate = IDC_OPT_LOG_DATE,
  kOptPathQuote = IDC_OPT_PATH_QUOTE,
  kOptFileDateChg = IDC_OPT_FILE_DATE_CHG,
  kOptStartLogChg = IDC_OPT_START_LOG_CHG,
  kOptAccessLogOnly = IDC_OPT_ACCESS_LOG_ONLY,
  kOptSun = IDC_OPT_SUN,
  kOptMon = IDC_OPT_MON,
  kOptTue = IDC_OPT_TUE,
  kOptWed = IDC_OPT_WED,
  kOptThu = IDC_OPT_THU,
  kOptFri = IDC_OPT_FRI,
  kOptSat = IDC_OPT_SAT,
  kOptMonthEnd = IDC_OPT_MONTH_END,
  kOptMonthStart = IDC_OPT_MONTH_START,
  kOptDay = IDC_OPT_DAY,
  kOptNonBufferFlush = IDC_OPT_NON_BUFFER,
  kOptBufferFlush = IDC_OPT_BUFFER,
  kOptCLibrary = IDC_OPT_CLIB,
  kOptStartDown = IDC_OPT_START_DOWN,
  kOptStartTask = IDC_OPT_START_TASK,
  kOptAutoStart = IDC_OPT_AUTO_START,
  kOptHostName = IDC_OPT_HOST_NAME,
  kOptQvxHosts = IDC_OPT_QVX_HOSTS,
  kOptMemNormal = IDC_OPT_MEM_NORMAL,
  kOptMemMiddle = IDC_OPT_MEM_MIDDLE,
  kOptMemHi = IDC_OPT_MEM_HI,
  kOptOk = IDC_OPT_OK,
  kOptCancel = IDC_OPT_CANCEL,
};

// Every check box and radio button, for showing the state after a click.
extern const int kOptionButtons[];
extern const int kOptionButtonCount;
// The weekday boxes, Sunday first (the order of the bits of LogChgYoubiFlg).
extern const int kOptionWeekdayBoxes[7];
// The edits and their text limits, in the order the dialog sets them.
struct OptionEditLimit {
  int id;
  int limit;
};
extern const OptionEditLimit kOptionEditLimits[8];

// LogChgYoubiFlg bit of a weekday (0 = Sunday).
int YoubiFlgChk(int wday);

struct OptionDlgState {
  OptionInfoSt OptionInfoTmp;  // the settings being edited; LogChgDayFlg holds the 100/200 part
  int LogChgDay;               // the designated day shown in its edit
};

inline constexpr const char* kOptionAllPacketNotice =
    "Keep in mind that a pipe file is also acquired when it validates with this setup.";
extern const char* const kOptionHostNameNotice;
inline constexpr const char* kOptionRebootNotice = "Changes become effective after a reboot. ";

// Opening: the copy of the live settings the dialog edits.
void OptionDlgOpen(const OptionInfoSt& live, OptionDlgState* s);

// The IpAddress the configuration file holds, before start-up put the machine's own address in
// place of the automatic 0.0.0.0: the dialog shows and keeps that, so an OK with nothing changed
// leaves the setting automatic. Set at start-up; empty until then (the live value is shown).
void OptionRememberConfiguredAddress(const char* ip);

// The four octet texts of a dotted address (each cut to three characters).
void OptionSplitAddress(const char* ip, std::string octets[4]);

// The log path as the static text shows it: paths over 100 characters as their first 96 and "...".
std::string OptionShortPath(const char* path);

// The items of the error-level list: "0".."3", and the current level when it is none of those
// (levels 4 and above are set in the file; opening and OK must keep them).
std::vector<std::string> OptionErrorLevelItems(int current);

// Whether button id shows checked for the state.
bool OptionButtonChecked(const OptionDlgState& s, int id);

// A click on button id. Returns the notice to show first, or nullptr.
const char* OptionDlgClick(OptionDlgState* s, int id);

// The texts of the edits and the error-level list at OK.
struct OptionDlgTexts {
  std::string LogFilePath;
  std::string octet[4];
  std::string RefleshTime, LogFileSize, LogFileDate, ErrorLevel, Day;
};

// Checks the texts and takes them into OptionInfoTmp (address, numbers, day added to
// LogChgDayFlg, DriverSelectNo 0). Returns "" or the message naming the refused field; nothing
// is taken then.
std::string OptionDlgAccept(OptionDlgState* s, const OptionDlgTexts& t);

}  // namespace qvx
