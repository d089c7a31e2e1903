// The settings of Quorvix.ini, section "Option", and the memory tiers.
#pragma once

#include <cstddef>
#include <string>

namespace qvx {

struct OptionInfoSt {
  int LogFileWriteFlg;
  int LogFileChangeFlg;
  int LogFileSize;
  int LogFileDate;
  int StartDown;
  int StartTask;
  int SMB;
  int API;
  int RefleshTime;
  int AutoStart;
  int ErrorLevel;
  int HostName;
  int AllPacketGet;
  int QVXHosts;
  char IpAddress[48];  // room for an IPv6 address text
  char LogFilePath[512];
  int SameAccNonLogFlg;
  int SameAccNonLogLine;
  int ServiceTaskWait;
  int PathDubileCorteSet;
  int DriverSelectNo;
  int AccessLogOnly;
  int LogChgYoubiFlg;
  int LogChgDayFlg;
  int StartLogChg;
  int LogFileChangeChkTime;
  char PcapDevNamae[1024];
  int LogFileSelect;
  int ResetTime;
  char FilterCode[512];
  int PacketBuffer;
  int NbtstatChgOn;
  int NbtstatChgTime;
  char NbtstatChgCmd[512];
  int SMBOtherPackets;
  int SMB2OtherPackets;
  int smb1_com_other_del_off;
  int smb1_com_transaction2_off;
  int smb1_com_write_andx_off;
  int smb1_com_read_andx_off;
  int smb2_com_flush_off;
  int SessionSetupFlg;
  int MACadressFlg;
  int SMBcmdListFlg;
  int SMBExtFlg;
  int ChangeLogFileUpDate;
  int NonDebugWriteLogFlg;
  int NonEventWriteLogFlg;
  int ViewRefreshTime;
  int VipFlg;
  int AsynchronousFlg;
  int MemperformanceSelect;
  int SessionSetupCnt;
  int TreeConnectCnt;
  int NetWkInfoCnt;
  int AccessDataCnt;
  int TrayIconFlg;
  int TopWindowFlg;
  int ScrollEndFlg;
  int HostNameChg;
};

extern OptionInfoSt OptionInfo;

// Whether the diagnostic traces of level n are written (ErrorLevel n or more).
inline bool QVX_TraceLevel(int n) { return OptionInfo.ErrorLevel >= n; }
// Access-kind mode: 1 from the access mask, 2 from the time stamps, 3 both.
extern int nAccessKindFlg;

inline constexpr const char* kIniFileName = "Quorvix.ini";
inline constexpr const char* kIniSection = "Option";
inline constexpr const char* kDefaultLogName = "Quorvix.log";

// A shell's own default for an int key, in place of the table's: the Linux service build starts
// capture and writes the access log unless Quorvix.ini says otherwise. The Windows build sets none.
void QVX_SetIntDefault(const char* key, int value);
// The default of an int key as it applies now (the shell's, else the table's).
int QVX_IntDefault(const char* key);
// The ini file that is read and written (--config); empty: Quorvix.ini beside the executable.
void QVX_SetIniFilePath(const std::string& path);
// The path of the ini file into out; 0 when it cannot be built or does not fit.
int QVX_IniFileName(char* out, size_t size);

// Every field at its default. LogFilePath is left empty; ReadOptionInfo fills it.
void OptionSetDefaults(OptionInfoSt* o);

// Reads Quorvix.ini into OptionInfo with every default, applies the memory tier and the run-time
// flags (reading steps 1-4 of the initialisation). Shows its boxes unless "SC".
void QVX_ReadOptionInfo(void* hWnd);

// The largest capacities tier 2 takes from the ini (sixteen and more times the Hi tier's; the
// access records alone then take 1.3 GB). Larger values are held to these.
inline constexpr int kMaxSessionSetupCnt = 16384;
inline constexpr int kMaxTreeConnectCnt = 163840;
inline constexpr int kMaxNetWkInfoCnt = 8192;
inline constexpr int kMaxAccessDataCnt = 1000000;

// Capacities of the tier chosen by MemperformanceSelect; tier 2 keeps the values read, a
// capacity of 0 or less there falls back to that key's default and one above its maximum is held
// to the maximum (noted in the kernel log).
void QVX_ApplyMemoryTier(OptionInfoSt* o);

// "ReNew": writes the 32 default keys to Quorvix.ini. LogPathBase is the current access-log path.
void QVX_ReNewIniFile(void* hWnd, const char* LogPathBase);

// Writes the 27 keys of the Options dialog from o. Returns false when the ini path cannot be built.
bool QVX_WriteOptionKeys(const OptionInfoSt& o);

}  // namespace qvx
