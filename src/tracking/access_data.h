// The access records behind the list: one per row, the texts of its thirteen columns, kept
// whether or not the list view is shown.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/option.h"

namespace qvx {

struct AccessDataSt {
  int32_t UseFlg;
  // What the repeat check compares first (QVX_SameAccessKey of the tree, addresses and path); 0
  // until worked out. Every write of a column through the list clears it.
  uint32_t SameKey;
  char AccessTime[20];
  char Action[12];
  char TreeID[16];
  char LoginName[64];
  char ClientIP[64];
  char ServerIP[64];
  char ClientMAC[128];
  char ServerMAC[128];
  char SmbCmd[48];
  char SmbInfo[128];
  char Size[16];
  char Path[600];
  char Operation[8];
};

extern AccessDataSt* AccessData;  // AccessDataCnt records
extern int nListIndex;            // rows in use, and the index of the next row

// Operation texts by time class - 200.
inline constexpr int kAccessInfoChgChrCnt = 10;
extern const char nAccessInfoChgChr[kAccessInfoChgChrCnt][17];
inline constexpr int kOperationChars = 4;  // the most characters a record keeps

// One past the highest record written since the table was last cleared: records above it are all
// zero, so a clear need not touch them (a full table is hundreds of megabytes).
extern int AccessDataUsed;
// Zeroes every record that may hold anything.
void QVX_AccessDataClear();
// Removes row ListCnt: later rows move up one, the last is cleared. Always 0.
int AccessData_DeleteItem(int ListCnt, int Flg);

// Empties a full list: every record cleared and, unless AccessLogOnly is 1, every list row
// deleted; nListIndex 0.
void QVX_AccessDataReset();

// The address a row's Client(IP) or Server(IP) text stands for: with host names shown the text
// reads "name(addr)", otherwise it is the address. Returns where it starts; *len its length.
const char* QVX_RowAddress(const char* text, size_t* len);

// The key of an access for the same-access test. operation null: an access on an unknown tree,
// whose key has no operation; its scan writes the D31-010 trace of caller.
struct SameAccessKey {
  uint32_t tid = 0;
  const char* operation = nullptr;
  const char* client = "";  // address or display text: only the address is compared
  const char* server = "";
  const char* path = "";
  const char* caller = "";
};
// A digest of the tree number, the two addresses and the path: rows and keys that differ in it
// are different accesses. Never 0.
uint32_t QVX_SameAccessKey(uint32_t tid, const char* client, size_t client_len, const char* server,
                           size_t server_len, const char* path, size_t path_len);
// How many of the last rows a repeat is looked for in: SameAccNonLogLine while SameAccNonLogFlg
// is 1, else none.
inline int64_t QVX_SameAccessLines(const OptionInfoSt& o) {
  return o.SameAccNonLogFlg == 1 ? o.SameAccNonLogLine : 0;
}
// True when one of the last lines rows (QVX_SameAccessLines; none when 0 or less) matches the
// key: the access is then neither logged nor listed.
bool QVX_SameAccessFound(const SameAccessKey& key, int64_t lines);

}  // namespace qvx
