// The monitoring-exclusion list (ExclusionInfo.dat): paths that are, or are the only ones, logged,
// each with an optional period of validity. Also the line reader and the period test that the
// IP filter shares.
#pragma once

#include <mutex>
#include <string>

namespace qvx {

inline constexpr int kFilterEntries = 20;
inline constexpr int kFilterLineSize = 290;
inline constexpr const char* kExclusionFileName = "ExclusionInfo.dat";

// Character positions of an exclusion entry line.
struct ExclusionInfoSt {
  char No[2];
  char Sep1;
  char sYear[4];
  char sMon[2];
  char sDay[2];
  char Sep2[3];
  char eYear[4];
  char eMon[2];
  char eDay[2];
  char Sep3;
  char KanshiJogaiInfoFlg;  // '0' exclusion, '1' surveillance
  char Sep4;
  char MatchKind;  // '1' this folder, '2' folder and below, '0' name pattern
  char Sep5;
  char ValidFlg;  // '1' active
  char Sep6;
  char ExclusionFilePath[kFilterLineSize - 29];
};
static_assert(sizeof(ExclusionInfoSt) == kFilterLineSize);

extern char ExclusionInfoData[kFilterEntries][kFilterLineSize];
extern int ExclusionInfoDataNo;
// The file the list was read from at start-up; the list dialog saves there, wherever a file
// dialog has moved the current directory since.
extern char ExclusionInfoFilePath[512];

// Guards both filter tables (and their counts): the capture thread tests them while the dialogs
// swap edited copies in.
std::mutex& FilterTableLock();
// 0: log everything but what an exclusion entry names; 1: log only what a surveillance entry names.
extern int KnashiJyogaiBaseFlg;

// Reads up to MaxCnt entry lines of FileName into ExcInf (all 20 slots cleared first). Lines whose
// first character is not a digit are skipped; CR CR LF, CR LF and LF endings all read alike.
// Returns 0 (NorCnt = entries) or -1 when the file cannot be opened or a period contradicts itself.
int ExclusionInfoRead(const char* FileName, int* NorCnt, int MaxCnt,
                      char ExcInf[kFilterEntries][kFilterLineSize]);

// Today against a period given as date characters (4, 2, 2, 4, 2, 2): 0 within it or no limit,
// 1 before it, 2 after it, -1 contradictory or a missing argument. OutExcDate (17 characters and
// the terminator) receives the period as text when not null.
int ExclusionDateChk(char* OutExcDate, const char* InExcDate_sYear, const char* InExcDate_sMon,
                     const char* InExcDate_sDay, const char* InExcDate_eYear,
                     const char* InExcDate_eMon, const char* InExcDate_eDay);

// The decimal number in the first n (at most 7) characters of an entry's date field; characters
// other than digits end it.
int EntryDigits(const char* p, int n);

// One entry against one path. Flg 1 tests exclusion entries, 2 surveillance entries.
// 1: the entry applies; 0 or -1: it does not.
int ExclusionInfoChk(const char* ExclusionInfoData, const char* NetFl_PathName, int Flg);

// The list's verdict for a path: 10 do not log, 0 log.
int QVX_ExclusionInfoChk(const char* sAccessFullPath, int flg);

// Start-up: reads the list from folder (the current directory), reports a failure naming the
// file and why, and sets the base mode from the "*" entries. A file that is not there is an empty
// list (0, nothing said). Returns the reader's result.
int QVX_ExclusionStartup(void* hWnd, const char* folder);
// Why a filter file that exists could not be read, in a few words.
std::string FilterFileProblem(const char* path);

}  // namespace qvx
