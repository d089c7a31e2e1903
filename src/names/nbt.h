// The name-query command (the server's session table printed with client names, then with
// client addresses), the NetBIOS name cache and the list of names that failed to resolve.
#pragma once

#include <cstddef>

namespace qvx {

inline constexpr int kNbtSessionTableMax = 512;
inline constexpr int kComputerNameErrListMax = 512;
inline constexpr int kComputerNameErrListFill = 511;  // entries ever filled
inline constexpr size_t kNbtOutputSize = 10240;

struct NbtSessionTableSt {
  char ComputerName[16];
  char IpAddr[48];
};

extern NbtSessionTableSt NbtSessionTable[kNbtSessionTableMax];
extern int NbtSessionTableCnt;
extern char ComputerNameErrList[kComputerNameErrListMax][16];
extern int ComputerNameErrListCnt;

// Runs cmdline + CmdOpt with its output on a pipe; buf (size bytes) receives at most size-1 bytes
// of it and *CmdLen their count. 1 when the command ran to its end within timeout ms, else 0 (a
// command still running then is ended).
int GetCUIAppMsg(const char* cmdline, char* buf, size_t size, int qvx_stdout, int qvx_stderr,
                 int timeout, unsigned long* CmdLen, const char* CmdOpt);

// The cache: the first entry among 0..NbtSessionTableCnt-1 with this name / address.
bool NbtCacheFindByName(const char* name, char* addr, size_t size);
bool NbtCacheFindByAddr(const char* addr, char* name, size_t size);
// Inserts at NbtSessionTableCnt, starting again at 0 once NetWkInfoCnt (at most 512) is reached.
void NbtCacheInsert(const char* name, const char* addr);

bool ComputerNameErrListContains(const char* name);
// Stores the name while fewer than 511 are stored; otherwise writes E09-002 and drops it.
void ComputerNameErrListAppend(const char* name);

// Why NameFromSessionTable gave no address.
enum NameQueryResult {
  kNameQueryOk = 0,
  kNameQueryRunFailed = 1,   // the " -s" run failed
  kNameQueryRun2Failed = 2,  // the " -S" run failed
  kNameQueryNoMatch = 3,     // the name is not in the table, or no address stands there
};
// Finds name in the " -s" table and reads the address at the same place of the " -S" table.
// On success the address (at most 31 characters) is in addr and in the cache.
int NameFromSessionTable(const char* name, char* addr, size_t size);

// The start-up check of the command (NbtstatChgOn 1 only). true when it ran.
bool QVX_NbtstatCommandCheck(void* owner);

// Empties the cache and the error list (program start; tests).
void NbtReset();

}  // namespace qvx
