// The Options dialog's model: a private copy of the settings, what each control shows and what
// each click changes, and the checks and write-back of OK. The Win32 dialog procedure only moves
// values between its controls and this.
#pragma once

#include <string>
#include <vector>

#include "app/option.h"

namespace qvx {

// Control ids of dialog 116.
enum OptionCtl : int {
  kOptLogPath = 1101,
  kOptOpen = 1102,
  kOptLogPathShown = 1112,
  kOptOctet1 = 1122,
  kOptOctet2 = 1124,
  kOptOctet3 = 1125,
  kOptOctet4 = 1126,
  kOptRefleshTime = 1123,
  kOptAllPacket = 1114,
  kOptErrorLevel = 1030,
  kOptSmb = 1106,
  kOptApi = 1107,
  kOptLogWrite = 1103,
  kOptLogChange = 1108,
  kOptLogFileSize = 1119,
  kOptLogFileDate = 1120,
  kOptPathQuote = 1117,
  kOptFileDateChg = 1139,
  kOptStartLogChg = 1127,
  kOptAccessLogOnly = 1118,
  kOptSun = 1129,
  kOptMon = 1130,
  kOptTue = 1131,
  kOptWed = 1132,
  kOptThu = 1133,
  kOptFri = 1134,
  kOptSat = 1138,
  kOptMonthEnd = 1135,
  kOptMonthStart = 1136,
  kOptDay = 1137,
  kOptNonBufferFlush = 1116,
  kOptBufferFlush = 1121,
  kOptCLibrary = 1128,
  kOptStartDown = 1105,
  kOptStartTask = 1104,
  kOptAutoStart = 1109,
  kOptHostName = 1113,
  kOptQvxHosts = 1115,
  kOptMemNormal = 1042,
  kOptMemMiddle = 1043,
  kOptMemHi = 1044,
  kOptOk = 1110,
  kOptCancel = 1111,
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
