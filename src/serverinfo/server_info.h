// The server this program runs on: its shares, its sessions with their clients' addresses, and
// what its file system says about an accessed path.
#pragma once

#include <cstdint>
#include <ctime>

namespace qvx {

struct NetWkShareInfoSt {
  char netname[512];
  uint32_t type;
  char remark[512];
  uint32_t permissions;
  uint32_t max_uses;
  uint32_t current_uses;
  char path[512];
};

struct NetWkSessionInfoStSt {
  char sesi502_cname[48];  // client name; after resolution its address, or "Not Find"
  char sesi502_username[21];
  uint32_t sesi502_num_opens;
  uint32_t sesi502_time;
  uint32_t sesi502_idle_time;
  uint32_t sesi502_user_flags;
  char sesi502_cltype_name[64];
  char sesi502_transport[64];
};

inline constexpr const char* kSessionNotFound = "Not Find";

// The server's shares as last read: capacity records, the first count of them valid, and a
// scratch copy of the same size that the guess of an unknown tree works on. The program has one
// (QVX_ProgramShares, allocated with the other tables); a capture run reaches it through its
// context.
struct ShareList {
  NetWkShareInfoSt* rows = nullptr;
  NetWkShareInfoSt* scratch = nullptr;
  int count = 0;
  int capacity = 0;

  // The valid records, never more than there is room for.
  int Valid() const { return count < 0 ? 0 : count < capacity ? count : capacity; }
  // The server's list read afresh into rows (count = QVX_NetShare_NT(rows, capacity, 0)).
  void Refresh();
};
ShareList& QVX_ProgramShares();

// The program's share list under the names it has always had (QVX_ProgramShares' fields), and
// the server's session list: arrays of NetWkInfoCnt records allocated with the other tables.
extern NetWkShareInfoSt*& NetWkShareInfo;
extern NetWkShareInfoSt*& NetWkShareInfoBuf;
extern int& NetShareInfoDataNo;
extern NetWkSessionInfoStSt* NetWkSessionInfo;

// Fills NetWkShareInfo with the server's shares; returns the records written (at most
// nNetWkShareInfoMax).
int QVX_NetShare_NT(NetWkShareInfoSt* NetWkShareInfo, int nNetWkShareInfoMax,
                    const char* szServerName);
// Fills the array with the server's sessions (those with a user name), each client name turned
// into an address; returns the records written. When the server's list cannot be read (the
// enumeration fails or runs out of time), the records of the last list read are given again
// (none when there was none) and the kernel log says so: a failed read is not "nobody".
int QVX_NetSession_NT(NetWkSessionInfoStSt* NetWkSessionInfo, int nNetWkSessionInfoMax,
                      const char* szServerName, const char* szClientName, const char* szUserName);
// True once the server's list was read since the last QVX_NetSessionForget: without that, the
// records say nothing about who is connected.
bool QVX_NetSessionKnown();
// Forgets the last list read (the tables are cleared for a new capture, or freed).
void QVX_NetSessionForget();

// File kinds and helper results.
enum : int {
  kKindNone = 0,
  kKindFile = 1,
  kKindFolder = 2,
  kSizeNotFound = 101,
  kSizeOk = 102,
  kTimeChanged = 201,
  kTimeCreated = 202,
  kTimeNotChanged = 203,
  kTimeUnreadable = 204,  // the object is not there (not found)
  kTimeRefused = 206,     // it may be there, but its facts cannot be read (rights, I/O)
};
// How far before the access a creation still counts as "created" by it.
inline constexpr int64_t kCreatedWindowSec = 40;

// While one lives (on this thread), the facts of a path are asked of the file system once: one
// access reads its object's kind, size and time stamps with a single call. Nests.
class FileFactsScope {
 public:
  FileFactsScope();
  ~FileFactsScope();
  FileFactsScope(const FileFactsScope&) = delete;
  FileFactsScope& operator=(const FileFactsScope&) = delete;
};

// 1 when the path exists (kind 1 file, 2 folder through nOutFileOrFolder), else 0.
int QVX_CheckExistFileOrFolder(const char* szTargetPath, int* nOutFileOrFolder);
// 102 with the size, 101 when the file does not exist, 1 on another failure (size 0).
int FileSizeInfo(const char* filename, uint64_t* out_fileSize);
// Time class of PathName against in_time, or with Flg 201/202/203 the last-write, creation or
// last-access time alone (result 0). 204 when the object is not there; 206 when its facts cannot
// be read (the cause in the kernel log): never taken for a deleted object.
int FileNotifyInfo(const char* PathName, time_t in_time, time_t* Filetime, int Flg);

}  // namespace qvx
