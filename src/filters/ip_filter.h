// The IP address filter (IPAddFilterInfo.dat): frames to or from a listed address are discarded
// before any SMB decoding while the entry is in force.
#pragma once

#include "filters/exclusion.h"

namespace qvx {

inline constexpr const char* kIpFilterFileName = "IPAddFilterInfo.dat";

// Character positions of an IP filter entry line.
struct IpFilterInfoSt {
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
  char KanshiJogaiInfoFlg;
  char Sep4;
  char ValidFlg;  // '0' disables the entry
  char Sep5;
  char IpAddr[kFilterLineSize - 27];
};
static_assert(sizeof(IpFilterInfoSt) == kFilterLineSize);

extern char IpAddFilterInfoData[kFilterEntries][kFilterLineSize];
extern int IpAddFilterInfoDataNo;
// The file the filter was read from at start-up; the filter dialog saves there.
extern char IpAddFilterInfoFilePath[512];

// Start-up: reads the filter from folder (the current directory) and reports a failure naming
// the file and why; a file that is not there is an empty filter (0, nothing said).
int QVX_IpFilterStartup(void* hWnd, const char* folder);

// The filter rule for one frame's dotted source and destination addresses: true = discard it.
bool QVX_IpFilterDrops(const char* src, const char* dst);

}  // namespace qvx
